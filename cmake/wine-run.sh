#!/usr/bin/env bash
# Runs a Windows program under Wine in a scratch prefix of the build tree.
#   wine-run.sh PREFIX PROGRAM [ARGS...]  run PROGRAM (the prefix is made on first use)
#   wine-run.sh --fresh PREFIX            start the prefix anew from its template
#   wine-run.sh --stop PREFIX             end the prefix's wineserver
# Never touches ~/.wine: every call names its prefix.
set -euo pipefail

setup_env() {
  export WINEPREFIX="$1"
  export WINEARCH=win32
  export WINEDEBUG=-all
  # No Mono or Gecko downloads, no menu entries on the host, and no debugger that would wait
  # forever over a crashed test.
  export WINEDLLOVERRIDES='mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d'
  unset DISPLAY WAYLAND_DISPLAY
}

# A booted prefix with the null graphics driver, kept as PREFIX.template so that a fresh run
# prefix is a copy (about a second) rather than a new boot (about ten).
make_template() {
  template="$1.template"
  [ -f "$template/system.reg" ] && return 0
  rm -rf "$template.tmp"
  mkdir -p "$template.tmp"
  (
    setup_env "$template.tmp"
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
  )
  mv "$template.tmp" "$template"
}

ensure_prefix() {
  prefix="$1"
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      make_template "$prefix"
      rm -rf "$prefix"
      cp -a "$prefix.template" "$prefix"
    fi
  ) 9>"$prefix.lock"
}

case "${1:-}" in
--fresh)
  setup_env "$2"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$2"
  ensure_prefix "$2"
  exit 0
  ;;
--stop)
  setup_env "$2"
  wineserver -k >/dev/null 2>&1 || true
  exit 0
  ;;
esac

prefix="$1"
shift
ensure_prefix "$prefix"
setup_env "$prefix"
# A persistent, warm wineserver, with its service processes started by a shell that holds no
# descriptor of the caller's: otherwise they inherit the caller's pipes, and whoever waits for
# those pipes to close (CTest, ninja) waits for the services.
(
  for fd in /proc/$BASHPID/fd/*; do
    fd=${fd##*/}
    [ "$fd" -gt 2 ] && eval "exec $fd>&-" 2>/dev/null
  done
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
)
exec wine "$@"
