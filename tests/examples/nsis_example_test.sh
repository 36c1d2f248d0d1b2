#!/usr/bin/env bash
# The example installer (examples/nsis) end to end under Wine: a silent install writes the suite's
# five shortcuts, pointing into the installed tree; a silent uninstall puts the Start menu and the
# disk back as they were. Then the wrong order: with relinfo.xml gone before remove_shortcuts
# runs, the uninstall leaves every shortcut behind.
#   nsis_example_test.sh WINE_RUN ARCH PREFIX INSTALLER SHOW_SHORTCUTS
# WINE_RUN, ARCH and PREFIX as cmake/wine-run.sh takes them; INSTALLER is the built example,
# SHOW_SHORTCUTS the built tools/show_shortcuts.exe.
set -euo pipefail
wine_run=$1 arch=$2 prefix=$3 installer=$4 show_shortcuts=$5
drive_c="$("$wine_run" --where "$arch" "$prefix")/drive_c"
if [ ! -d "$drive_c" ]; then
  echo "no Wine prefix at ${drive_c%/drive_c}" >&2
  exit 1
fi
# A 32-bit installer installs under "Program Files (x86)" in a 64-bit prefix.
if [ "${INSTKIT_WINE_ARCH:-$arch}" = win64 ]; then
  root_rel="Program Files (x86)/Vortasim 18.1"
else
  root_rel="Program Files/Vortasim 18.1"
fi
root="$drive_c/$root_rel"
root_win="C:\\${root_rel//\//\\}"
menu_rel="ProgramData/Microsoft/Windows/Start Menu/Programs/Vortasim 18.1"
scratch="$drive_c/instkit-nsis-$$"
cleanup() { rm -rf "$scratch" "$root" "${drive_c:?}/$menu_rel"; }
trap cleanup EXIT
mkdir -p "$scratch"

. "$(dirname "$0")/../expect.sh"
# run PROGRAM [ARGUMENTS...]: the program's exit code; it runs in $scratch and its time is shown.
run() {
  local code=0 start
  start=$(date +%s.%N)
  (cd "$scratch" && "$wine_run" "$arch" "$prefix" "$@" </dev/null >/dev/null 2>&1) || code=$?
  awk -v s="$start" -v e="$(date +%s.%N)" -v p="${1##*[/\\]}" \
    'BEGIN { printf "%s %.1f s\n", p, e - s }' >&2
  echo "$code"
}
# Everything on drive C: but the Windows folder and the temporary folders, with sizes.
snapshot() {
  find "$drive_c" \( -path "$drive_c/windows" -o -path "$scratch" -o -iname temp \) -prune -o \
    -printf '%P %s\n' | sort
}
# The suite's shortcuts, one line each: the .lnk's path below its Start-menu folder and its target.
shortcuts() {
  (cd "$scratch" && "$wine_run" "$arch" "$prefix" "$show_shortcuts" "C:\\${menu_rel//\//\\}" \
    </dev/null 2>/dev/null) | tr -d '\r' | awk '
    /^  [^ ].*\\$/ { folder = substr($0, 3); next }
    /^  [^ ].*\.lnk$/ { name = substr($0, 3); next }
    /^    [^ ].*\.lnk$/ { name = folder substr($0, 5); next }
    /^ *target: / { sub(/^ *target: */, ""); print name " -> " $0 }' | sort
}
# uninstall: the installed uninstaller, run as it runs itself. Started from the install folder, it
# copies itself to a temporary folder, starts the copy with "_?=<install folder>" and exits at
# once; the copy does the work. The test does the copying, so that it waits for the work to end.
# "_?=" takes the rest of the command line, unquoted: the folder goes as separate words.
uninstall() {
  cp "$root/uninstall.exe" "$scratch/uninstall.exe"
  local words
  read -r -a words <<<"$root_win"
  run "$scratch/uninstall.exe" /S "_?=${words[0]}" "${words[@]:1}"
}

expected_shortcuts=$(for entry in "Vortasim Product Launcher:vxstart" "Vortasim:vxstart" \
  "Utilities\\Motion:vxmotion" "Utilities\\Plotview:vxplot" "Utilities\\KLD_ADMIN:KLD_ADMIN"; do
  printf '%s 18.1.lnk -> %s\\KELDA\\bin\\winx64\\%s.exe\n' "${entry%%:*}" "$root_win" "${entry##*:}"
done | sort)

before=$(snapshot)
expect "installer exit code" "$(run "$installer" /S)" 0
expect "installed files" "$(cd "$root" && find . -type f | sort | tr '\n' ' ')" \
  "$(printf '%s ' ./KELDA/bin/winx64/installer/{add,remove}_shortcuts.exe \
    ./commonfiles/globalsettings/relinfo.xml ./uninstall.exe)"
expect "shortcuts after install" "$(shortcuts)" "$expected_shortcuts"
expect "uninstaller exit code" "$(uninstall)" 0
rm -f "$scratch/uninstall.exe"
after=$(snapshot)
expect_same_files "drive C: after uninstall" "$before" "$after"

# The wrong order: relinfo.xml deleted before remove_shortcuts runs.
expect "second installer exit code" "$(run "$installer" /S)" 0
rm "$root/commonfiles/globalsettings/relinfo.xml"
expect "uninstaller exit code, relinfo.xml gone" "$(uninstall)" 0
expect "shortcuts left by the wrong order" "$(shortcuts)" "$expected_shortcuts"
expect "install folder after the wrong order" "$([ -e "$root" ] && echo present || echo gone)" gone

expect_all_met "example installer"
