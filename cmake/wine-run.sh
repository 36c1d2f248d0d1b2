#!/usr/bin/env bash
# Runs a Windows program under Wine in a scratch prefix of the build tree.
#   wine-run.sh ARCH PREFIX PROGRAM [ARGS...]  run PROGRAM (the prefix is made on first use)
#   wine-run.sh --fresh ARCH PREFIX            start the prefix anew from its template
#   wine-run.sh --stop ARCH PREFIX             end the prefix's wineserver
#   wine-run.sh --where ARCH PREFIX            print the prefix's folder
# ARCH is the prefix's Windows architecture: win32 or win64, used as given; or build-win32 or
# build-win64, a build's own, which INSTKIT_WINE_ARCH in the environment replaces when set (so a
# test preset with INSTKIT_WINE_ARCH=win64 runs a 32-bit build the way a 64-bit Windows does,
# under WoW64). The prefix used is PREFIX-<architecture>. Never touches ~/.wine: every call names
# its prefix.
set -euo pipefail

mode=run
case "${1:-}" in
--fresh | --stop | --where)
  mode=${1#--}
  shift
  ;;
esac
case "${1:-}" in
win32 | win64) arch=$1 ;;
build-win32 | build-win64) arch=${INSTKIT_WINE_ARCH:-${1#build-}} ;;
*)
  echo "wine-run.sh: unknown Windows architecture '${1:-}' (win32, win64, build-win32 or build-win64)" >&2
  exit 2
  ;;
esac
prefix=$(realpath -m "$2")-$arch
shift 2
if [ "$mode" = where ]; then
  echo "$prefix"
  exit 0
fi

# Debian's `wine` and `wineserver` wrappers choose the 32-bit loader whenever it is installed,
# even on a host that cannot execute it: name the loaders directly.
case "$arch" in
win64) loader=/usr/lib/wine/wine64 ;;
win32) loader=/usr/lib/wine/wine ;;
*)
  echo "wine-run.sh: INSTKIT_WINE_ARCH must be win32 or win64, not '$arch'" >&2
  exit 2
  ;;
esac
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32

setup_env() {
  export WINEPREFIX="$1"
  export WINEARCH="$arch"
  export WINELOADER="$loader"
  export WINESERVER="$server"
  export WINEDEBUG=-all
  # No Mono or Gecko downloads, no menu entries on the host, and no debugger that would wait
  # forever over a crashed test.
  export WINEDLLOVERRIDES='mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d'
  unset DISPLAY WAYLAND_DISPLAY
}

if ! "$loader" --version >/dev/null 2>&1; then
  echo "wine-run.sh: this host cannot run $loader, so no $arch prefix here" \
    "(a host that refuses 32-bit code needs the x86_64 build and win64)" >&2
  exit 126
fi

# True when FILE is a 32-bit Windows program (a PE image whose optional header is PE32).
is_pe32() {
  local pe
  [ -f "$1" ] || return 1
  [ "$(od -An -N2 -tx1 "$1" | tr -d ' ')" = 4d5a ] || return 1
  pe=$(od -An -j60 -N4 -tu4 "$1" | tr -d ' ')
  [ "$(od -An -j$((pe + 24)) -N2 -tx1 "$1" | tr -d ' ')" = 0b01 ]
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
    "$loader" wineboot -i >/dev/null 2>&1
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    "$server" -w
  )
  mv "$template.tmp" "$template"
}

ensure_prefix() {
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

case "$mode" in
fresh)
  setup_env "$prefix"
  "$server" -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
  ensure_prefix
  exit 0
  ;;
stop)
  setup_env "$prefix"
  "$server" -k >/dev/null 2>&1 || true
  exit 0
  ;;
esac

ensure_prefix
setup_env "$prefix"
# A persistent, warm wineserver, with its service processes started by a shell that holds no
# descriptor of the caller's: otherwise they inherit the caller's pipes, and whoever waits for
# those pipes to close (CTest, ninja) waits for the services.
(
  for fd in /proc/$BASHPID/fd/*; do
    fd=${fd##*/}
    [ "$fd" -gt 2 ] && eval "exec $fd>&-" 2>/dev/null
  done
  "$server" -p </dev/null >/dev/null 2>&1 || true
  "$loader" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
)
# A 32-bit program in a 64-bit prefix is started by the 32-bit loader, as 64-bit Windows starts it
# under WoW64. Handed to the 64-bit loader, it would go through start.exe, whose ShellExecuteEx
# refuses a program path longer than MAX_PATH.
if [ "$arch" = win64 ] && is_pe32 "${1:-}" && [ -x /usr/lib/wine/wine ]; then
  loader=/usr/lib/wine/wine
fi
# Now and then Wine's own start-up of a process dies before any of the program's code runs (when
# a test starts a child, CreateProcess then fails with ERROR_INTERNAL_ERROR, and the test makes the
# start again). A test program (tests/start_mark.cpp) creates the file INSTKIT_START_MARK names as
# its code starts; one that fails without it is started again, at most twice more, each restart a
# line in INSTKIT_RESTART_LOG. Every other program, and a test program whose code ran, runs once.
if grep -qa INSTKIT_START_MARK "${1:-}" 2>/dev/null; then
  mark=$(mktemp -u "${TMPDIR:-/tmp}/instkit-start.XXXXXXXX")
  export INSTKIT_START_MARK=$mark
  for try in 1 2 3; do
    rm -f "$mark"
    status=0
    "$loader" "$@" || status=$?
    if [ "$status" -eq 0 ] || [ -e "$mark" ] || [ "$try" -eq 3 ]; then break; fi
    echo "${1##*/} ${*:2}: Wine's start-up died (exit code $status) before its code ran" \
      >>"${INSTKIT_RESTART_LOG:-/dev/null}"
  done
  rm -f "$mark"
  exit "$status"
fi
exec "$loader" "$@"
