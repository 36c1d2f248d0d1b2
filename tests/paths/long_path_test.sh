#!/usr/bin/env bash
# Both programs and the library's module-path operations, end to end under Wine, run from
# program paths of 519 characters (the longest that fits the module path's 520 units), 520 and
# 600 (nested folders below a scratch root on drive C:). A path that does not fit is unknown:
# no root, no release file, and the programs write and delete nothing.
#
# The programs are started from the Unix side, as `wine PROGRAM` would start them: Wine's own
# CreateProcessW does not start a program whose path is longer than MAX_PATH.
#   long_path_test.sh WINE_RUN ARCH PREFIX ADD_SHORTCUTS REMOVE_SHORTCUTS MODULE_PATH_PROBE
#                     CONTROL_PROBE
# WINE_RUN, ARCH and PREFIX as cmake/wine-run.sh takes them; the rest are the built programs
# (CONTROL_PROBE: the probe linked at the programs' base address).
set -euo pipefail
wine_run=$1 arch=$2 prefix=$3
add_shortcuts=$4 remove_shortcuts=$5 probe=$6 control_probe=$7
drive_c="$("$wine_run" --where "$arch" "$prefix")/drive_c"
if [ ! -d "$drive_c" ]; then
  echo "no Wine prefix at ${drive_c%/drive_c}" >&2
  exit 1
fi
scratch_rel="instkit-long-paths-$$"
scratch="$drive_c/$scratch_rel"
programs="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
drive_decoy="$drive_c/commonfiles"
own_drive_decoy=no
titles=("Vortasim Product Launcher" Vortasim Motion Plotview "Plotview Site Information" KLD_ADMIN)
cleanup() {
  rm -rf "$scratch" "$programs/Vortasim 18" "$programs/Utilities"
  for title in "${titles[@]}"; do rm -f "$programs/$title"*.lnk; done
  if [ "$own_drive_decoy" = yes ]; then rm -rf "$drive_decoy"; fi
}
trap cleanup EXIT
rm -rf "$scratch"
mkdir -p "$scratch/current"

. "$(dirname "$0")/../expect.sh"

# deep FOLDER TAIL LENGTH: creates folders of at most 200 characters below FOLDER (relative to
# drive C:) such that C:\<deepest>\<TAIL> is LENGTH characters long, and prints <deepest>.
deep() {
  local folder=$1 tail=$2 length=$3 name
  local missing=$((length - 3 - ${#folder} - 1 - ${#tail}))
  while [ "$missing" -ge 2 ]; do
    name=$((missing - 1))
    [ "$name" -gt 200 ] && name=200
    [ $((missing - name - 1)) -eq 1 ] && name=$((name - 1))
    folder="$folder/$(printf '%*s' "$name" '' | tr ' ' p)"
    missing=$((missing - name - 1))
  done
  mkdir -p "$drive_c/$folder"
  printf '%s' "$folder"
}
# windows PATH: the Windows path of PATH (relative to drive C:).
windows() { printf 'C:\\%s' "${1//\//\\}"; }
# run PROGRAM [ARGUMENTS...]: the program's exit code; it runs in $scratch/current.
run() {
  local code=0
  (cd "$scratch/current" && "$wine_run" "$arch" "$prefix" "$@" </dev/null >/dev/null 2>&1) ||
    code=$?
  echo "$code"
}
relinfo() { printf '<r startMenuFolderName="%s" startMenuShortcutAppendRevision="%s"/>' "$1" "$2"; }
# Everything on drive C: but the Windows folder, with sizes.
snapshot() { find "$drive_c" -path "$drive_c/windows" -prune -o -printf '%P %s\n' | sort; }

# Decoys where an unknown root or executable folder must not lead: release files at the drive's
# root and in the current directory.
relinfo current current >"$scratch/current/relinfo.xml"
if [ ! -e "$drive_decoy" ]; then
  own_drive_decoy=yes
  mkdir -p "$drive_decoy/globalsettings"
  relinfo drive drive >"$drive_decoy/globalsettings/relinfo.xml"
fi

# The library: what module_path_probe makes of its own path.
for length in 519 520 600; do
  tail='a\b\c\d\module_path_probe.exe'
  root=$(deep "$scratch_rel/probe-$length" "$tail" "$length")
  mkdir -p "$drive_c/$root/a/b/c/d" "$drive_c/$root/commonfiles/globalsettings"
  relinfo Suite 18.1 >"$drive_c/$root/commonfiles/globalsettings/relinfo.xml"
  relinfo "" local >"$drive_c/$root/a/b/c/d/relinfo.xml"
  program="$drive_c/$root/a/b/c/d/module_path_probe.exe"
  cp "$probe" "$program"
  expect "probe path length" "$(windows "$root/a/b/c/d/module_path_probe.exe" | wc -m)" "$length"

  expect "probe exit code at $length" "$(run "$program" "$(windows "$scratch_rel/report-$length")")" 0
  report=$(iconv -f UTF-16LE -t UTF-8 "$scratch/report-$length" 2>/dev/null || true)
  if [ "$length" -lt 520 ]; then
    expected="module=$(windows "$root/a/b/c/d/module_path_probe.exe")
moduleSize=$((length + 1))
root=$(windows "$root")
rootSize=$((length + 1))
folder=Suite
globalRevision=18.1
localRevision=local"
  else
    expected="module=
moduleSize=1
root=
rootSize=1
folder=
globalRevision=
localRevision="
  fi
  expect "probe report at $length" "$report" "$expected"
done

unstarted=()
# The programs: with the suite's shortcuts in place and the same titles where a release file that
# was not found would lead, neither writes nor deletes anything.
mkdir -p "$programs/Vortasim 18/Utilities" "$programs/Utilities"
for title in "${titles[@]}"; do
  for folder in "" "Vortasim 18/" "Utilities/" "Vortasim 18/Utilities/"; do
    for ending in .lnk " .lnk" " 18.1.lnk"; do printf x >"$programs/$folder$title$ending"; done
  done
done
for length in 520 600; do
  # Both programs' paths are LENGTH characters long: their folders' names make up for theirs.
  below() { printf 'KELDA/bin/winx64/%s/%s.exe' "$(printf '%*s' $((60 - ${#1})) '' | tr ' ' d)" "$1"; }
  root=$(deep "$scratch_rel/programs-$length" "$(below add_shortcuts)" "$length")
  mkdir -p "$drive_c/$root/commonfiles/globalsettings"
  relinfo "Vortasim 18" 18.1 >"$drive_c/$root/commonfiles/globalsettings/relinfo.xml"
  for name in add_shortcuts remove_shortcuts; do
    program="$drive_c/$root/$(below $name)"
    mkdir -p "$(dirname "$program")"
    if [ $name = add_shortcuts ]; then built=$add_shortcuts; else built=$remove_shortcuts; fi
    cp "$built" "$program"
    expect "$name path length" "$(windows "$root/$(below $name)" | wc -m)" "$length"
  done
  # First the control: the probe linked as the programs are (based at 0x400000), from a path as
  # long as theirs. Where the host runs 32-bit code through qemu-user, the emulator puts Wine's
  # own 32-bit loader at that address, so Wine must move such a program, and Wine 10 does not
  # start a moved program from a path longer than about MAX_PATH. Where the control does not
  # start, neither do the programs: there is nothing of theirs to judge.
  control="$drive_c/$root/$(below module_path_probe)"
  mkdir -p "$(dirname "$control")"
  cp "$control_probe" "$control"
  run "$control" "$(windows "$scratch_rel/control-$length")" >/dev/null
  if [ ! -e "$scratch/control-$length" ]; then
    unstarted+=("$length")
    continue
  fi
  before=$(snapshot)
  for name in add_shortcuts remove_shortcuts; do
    expect "$name exit code at $length" "$(run "$drive_c/$root/$(below $name)")" 0
    after=$(snapshot)
    expect_same_files "files after $name at $length" "$before" "$after"
  done
done

# The test says so, unless something else failed.
if [ "${#unstarted[@]}" -ne 0 ] && [ "$failed" -eq 0 ]; then
  skip_test "the probe's part passed; Wine did not start a program based at 0x400000 (moved:" \
    "qemu-user runs Wine's 32-bit loader there) from paths of ${unstarted[*]} characters, so not" \
    "the programs"
fi
expect_all_met "long program paths"
