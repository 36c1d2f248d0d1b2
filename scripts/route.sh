# Sourced by the set-up, demo and test scripts: which route this host takes.
#   i686    the host executes 32-bit (i386) code: the shipped 32-bit programs run under Wine in a
#           32-bit prefix and, as on 64-bit Windows, in a 64-bit one; the x86_64 build runs too
#   x86_64  the host refuses 32-bit code: the x86_64 build of the same sources runs under 64-bit
#           Wine; the shipped 32-bit programs are still built and examined, not run
# INSTKIT_TEST_ARCH (i686 or x86_64) forces a route.

# True when the kernel executes a 32-bit program: a 96-byte i386 ELF that exits with 42.
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

# Sets instkit_route (i686 or x86_64) and instkit_route_why; fails, saying why in one line, when
# a forced route cannot run on this host.
instkit_choose_route() {
  local runs_i386=no
  instkit_host_runs_i386 && runs_i386=yes
  case "${INSTKIT_TEST_ARCH:-}" in
  "")
    if [ "$runs_i386" = yes ]; then
      instkit_route=i686
      instkit_route_why="this host executes 32-bit code"
    else
      instkit_route=x86_64
      instkit_route_why="this host refuses 32-bit code (Exec format error)"
    fi
    ;;
  i686)
    if [ "$runs_i386" = no ]; then
      echo "INSTKIT_TEST_ARCH=i686: this host refuses 32-bit code (Exec format error), so the i686 route cannot run here; use x86_64" >&2
      return 1
    fi
    instkit_route=i686
    instkit_route_why="forced by INSTKIT_TEST_ARCH"
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
