# Sourced by the set-up, demo, test and benchmark scripts: which route this host takes.
#   i686    the host executes 32-bit (i386) code, natively or through an emulator registered
#           with the kernel (binfmt_misc): the shipped 32-bit programs run under Wine in a
#           32-bit prefix and, as on 64-bit Windows, in a 64-bit one; the x86_64 build runs too
#   x86_64  it does not: the x86_64 build of the same sources runs under 64-bit Wine; the
#           shipped 32-bit programs are still built and examined, not run
# INSTKIT_TEST_ARCH (i686 or x86_64) forces a route.

# The first bytes of every i386 ELF program, in hex: what a binfmt_misc handler is matched against.
instkit_i386_elf_header=7f454c4601010100000000000000000002000300

# True when a 32-bit program runs here, natively or emulated: a 96-byte i386 ELF that exits with 42.
instkit_host_runs_i386() {
  local probe status=0
  probe=$(mktemp)
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'\
'\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00'\
'\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# Prints the binfmt_misc entry (its file) that hands i386 programs to an emulator, if one is
# enabled: its magic, under its mask, matches the i386 ELF header.
instkit_i386_handler() {
  local folder=/proc/sys/fs/binfmt_misc entry line offset magic mask i byte want
  [ -r "$folder/status" ] && [ "$(cat "$folder/status")" = enabled ] || return 0
  for entry in "$folder"/*; do
    case "${entry##*/}" in register | status) continue ;; esac
    [ -r "$entry" ] || continue
    offset=0 magic="" mask=""
    while IFS= read -r line; do
      case "$line" in
      "offset "*) offset=${line#offset } ;;
      "magic "*) magic=${line#magic } ;;
      "mask "*) mask=${line#mask } ;;
      esac
    done <"$entry"
    [ "$(head -n 1 "$entry")" = enabled ] && [ -n "$magic" ] || continue
    [ "$offset" -ge 0 ] && [ $((offset * 2 + ${#magic})) -le ${#instkit_i386_elf_header} ] || continue
    for ((i = 0; i < ${#magic}; i += 2)); do
      byte=$((16#${instkit_i386_elf_header:offset * 2 + i:2}))
      want=$((16#${magic:i:2}))
      if [ -n "$mask" ]; then
        byte=$((byte & 16#${mask:i:2})) want=$((want & 16#${mask:i:2}))
      fi
      [ "$byte" -eq "$want" ] || continue 2
    done
    echo "$entry"
    return 0
  done
}

# Prints the interpreter of a binfmt_misc entry.
instkit_handler_interpreter() { sed -n 's/^interpreter //p' "$1"; }

# Prints what an emulator calls itself, e.g. "qemu-user 10.0.2"; its file name if it won't say.
instkit_emulator_name() {
  local version
  version=$("$1" --version 2>/dev/null | sed -n '1s/^qemu-[^ ]* version \([0-9][0-9.]*\).*/\1/p')
  if [ -n "$version" ]; then echo "qemu-user $version"; else echo "${1##*/}"; fi
}

# Sets instkit_i386 to how this host runs 32-bit code: native (the kernel itself), emulated (an
# emulator registered with binfmt_misc, named in instkit_i386_emulator) or none (then
# instkit_i386_broken names a registered emulator that failed, if there is one).
instkit_i386_support() {
  local handler
  instkit_i386=none instkit_i386_emulator="" instkit_i386_broken=""
  handler=$(instkit_i386_handler)
  if ! instkit_host_runs_i386; then
    if [ -n "$handler" ]; then instkit_i386_broken=$(instkit_handler_interpreter "$handler"); fi
    return 0
  fi
  if [ -n "$handler" ]; then
    instkit_i386=emulated
    instkit_i386_emulator=$(instkit_emulator_name "$(instkit_handler_interpreter "$handler")")
  else
    instkit_i386=native
  fi
}

# True when 32-bit Wine is installed (set-up installs it where 32-bit code runs, unless apt cannot).
instkit_wine32_installed() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"
}
# Sets instkit_route (i686 or x86_64), instkit_route_why, and instkit_i386 as above; fails,
# saying why in one line, when a forced route cannot run on this host.
instkit_choose_route() {
  instkit_i386_support
  local runs
  case "$instkit_i386" in
  native) runs="native: this host executes 32-bit code" ;;
  emulated) runs="emulated by $instkit_i386_emulator, registered with binfmt_misc" ;;
  none)
    if [ -n "$instkit_i386_broken" ]; then
      runs="this host refuses 32-bit code, and the emulator registered for it ($instkit_i386_broken) does not run it"
    else
      runs="this host refuses 32-bit code (Exec format error) and no emulator is registered"
    fi
    ;;
  esac
  case "${INSTKIT_TEST_ARCH:-}" in
  "")
    if [ "$instkit_i386" = none ]; then
      instkit_route=x86_64 instkit_route_why=$runs
    elif ! instkit_wine32_installed; then
      instkit_route=x86_64 instkit_route_why="$runs, but 32-bit Wine (wine32:i386) is not installed"
    else
      instkit_route=i686 instkit_route_why=$runs
    fi
    ;;
  i686)
    if [ "$instkit_i386" = none ]; then
      echo "INSTKIT_TEST_ARCH=i686: $runs, so the i686 route cannot run here; use x86_64" >&2
      return 1
    fi
    if ! instkit_wine32_installed; then
      echo "INSTKIT_TEST_ARCH=i686: 32-bit Wine (wine32:i386) is not installed here; use x86_64" >&2
      return 1
    fi
    instkit_route=i686
    instkit_route_why="forced by INSTKIT_TEST_ARCH; $runs"
    ;;
  x86_64)
    instkit_route=x86_64
    instkit_route_why="forced by INSTKIT_TEST_ARCH"
    ;;
  *)
    echo "INSTKIT_TEST_ARCH='$INSTKIT_TEST_ARCH': expected i686 or x86_64" >&2
    return 1
    ;;
  esac
}
