# Sourced by the tests of the example installers (examples/nsis, examples/msi), which install the
# sample suite "Vortasim" under Wine and judge each step by the Start menu and the disk. The
# sourcing script sets wine_run, arch and prefix (as cmake/wine-run.sh takes them), show_shortcuts
# (the built tools/show_shortcuts.exe) and may define forget_install, which undoes what an install
# left outside drive C: when the script ends early or with a failure.
# This gives drive_c, root and root_win (the suite's install folder, as a Unix path and as Windows
# writes it), scratch and scratch_win (a scratch folder on drive C:, removed at the end), and the
# helpers below.
drive_c="$("$wine_run" --where "$arch" "$prefix")/drive_c"
if [ ! -d "$drive_c" ]; then
  echo "no Wine prefix at ${drive_c%/drive_c}" >&2
  exit 1
fi
# A 32-bit installer installs under "Program Files (x86)" in a 64-bit prefix.
case "$drive_c" in
*-win64/drive_c) root_rel="Program Files (x86)/Vortasim" ;;
*) root_rel="Program Files/Vortasim" ;;
esac
root="$drive_c/$root_rel"
root_win="C:\\${root_rel//\//\\}"
programs_rel="ProgramData/Microsoft/Windows/Start Menu/Programs"
scratch_rel="instkit-example-$$"
scratch="$drive_c/$scratch_rel"
scratch_win="C:\\$scratch_rel"

. "$(dirname "${BASH_SOURCE[0]}")/../expect.sh"
finished=0
cleanup() {
  if [ "$finished" != 1 ] || [ "$failed" -ne 0 ]; then
    declare -F forget_install >/dev/null && forget_install
  fi
  rm -rf "$scratch" "$root" "${drive_c:?}/$programs_rel/Vortasim "*
}
trap cleanup EXIT
mkdir -p "$scratch"

# run WHAT PROGRAM [ARGUMENTS...]: the program's exit code; it runs in $scratch, and WHAT and the
# time it took are shown. What Wine wrote (to standard output or error) is kept in
# $scratch/run.out.
run() {
  local what=$1 code=0 start
  shift
  start=$(date +%s.%N)
  (cd "$scratch" && "$wine_run" "$arch" "$prefix" "$@" </dev/null >"$scratch/run.out" 2>&1) ||
    code=$?
  awk -v s="$start" -v e="$(date +%s.%N)" -v w="$what" \
    'BEGIN { printf "%s: %.1f s\n", w, e - s }' >&2
  echo "$code"
}
# Everything on drive C: but the Windows folder and the temporary folders, with sizes.
snapshot() {
  find "$drive_c" \( -path "$drive_c/windows" -o -path "$scratch" -o -iname temp \) -prune -o \
    -printf '%P %s\n' | sort
}
# The files below the install folder, on one line.
installed_files() {
  (cd "$root" 2>/dev/null && find . -type f | sort | tr '\n' ' ')
}
# Every shortcut in the all-users Programs folder, one line each: its path below that folder and its
# target. show_shortcuts indents each level by two spaces; a folder's line ends in "\".
shortcuts() {
  (cd "$scratch" && "$wine_run" "$arch" "$prefix" "$show_shortcuts" "C:\\${programs_rel//\//\\}" \
    </dev/null 2>/dev/null) | tr -d '\r' | awk '
    NR == 1 { next }
    { match($0, /^ */); depth = RLENGTH / 2; text = substr($0, RLENGTH + 1) }
    text ~ /^target: / { sub(/^target: */, "", text); print name " -> " text; next }
    text ~ /\\$/ { folder[depth] = text; next }
    text ~ /\.lnk$/ {
      name = ""
      for (i = 1; i < depth; i++) name = name folder[i]
      name = name text
    }' |
    sort
}
# expected_shortcuts REVISION [ROOT_WIN]: what shortcuts prints for the suite's five shortcuts of
# REVISION, in the Start-menu folder "Vortasim REVISION", for the suite installed in ROOT_WIN
# (root_win when not given).
expected_shortcuts() {
  local entry
  for entry in "Vortasim Product Launcher:vxstart" "Vortasim:vxstart" \
    "Utilities\\Motion:vxmotion" "Utilities\\Plotview:vxplot" "Utilities\\KLD_ADMIN:KLD_ADMIN"; do
    printf 'Vortasim %s\\%s %s.lnk -> %s\\KELDA\\bin\\winx64\\%s.exe\n' "$1" "${entry%%:*}" "$1" \
      "${2:-$root_win}" "${entry##*:}"
  done | sort
}
# skip_unless_loaded PROGRAM: ends the test, as skipped and saying why, when Wine could not place
# PROGRAM, the last one run, at the fixed address it must load at (STATUS_CONFLICTING_ADDRESSES).
# NSIS's installers are 32-bit programs without relocations, to be loaded at 0x400000; on a host
# that runs 32-bit code through qemu-user, the emulator has put Wine's own 32-bit loader there.
# Windows, and Wine where the host runs 32-bit code natively, leave that address free.
skip_unless_loaded() {
  if grep -q 'failed to create main module.*status c0000018' "$scratch/run.out" 2>/dev/null; then
    finished=1
    skip_test "Wine could not load $(basename "$1"), a 32-bit program without relocations, at its" \
      "fixed address 0x400000 (status c0000018: taken, as where qemu-user runs Wine's 32-bit loader)"
  fi
}
