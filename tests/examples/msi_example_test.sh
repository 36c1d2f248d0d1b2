#!/usr/bin/env bash
# The example package (examples/msi) end to end under Wine's msiexec, silently: an install writes
# the suite's five shortcuts, pointing into the installed tree; a repair puts back a deleted one;
# a newer build (a major upgrade, new version and revision) leaves exactly the new revision's five;
# an uninstall puts the Start menu and the disk back as they were. msiexec ends in 0 even when a
# custom action did not run, so every step is judged by the Start menu and the disk. First, the
# install script's order as the package holds it.
#   msi_example_test.sh WINE_RUN ARCH PREFIX PACKAGE_18_1 PACKAGE_18_2 SHOW_SHORTCUTS
# WINE_RUN, ARCH and PREFIX as cmake/wine-run.sh takes them; the packages are the built example at
# revisions 18.1 and 18.2, SHOW_SHORTCUTS the built tools/show_shortcuts.exe.
set -euo pipefail
wine_run=$1 arch=$2 prefix=$3 package_a=$4 package_b=$5 show_shortcuts=$6
# Removes whichever build a failed run left installed.
forget_install() {
  local package
  for package in b.msi a.msi; do
    (cd "$scratch" && "$wine_run" "$arch" "$prefix" msiexec /x "$scratch_win\\$package" /qn) \
      </dev/null >/dev/null 2>&1 || true
  done
}
. "$(dirname "$0")/example_helpers.sh"
cp "$package_a" "$scratch/a.msi"
cp "$package_b" "$scratch/b.msi"

# The install script as the package holds it, one line per action in sequence order: the action,
# a custom action named by the program it runs, and its condition. The old build is removed right
# after InstallValidate, before any file of the new one is in; remove_shortcuts runs inside the
# script before RemoveFiles, add_shortcuts inside it after InstallFiles. Wine's msiexec runs
# deferred actions at InstallFinalize and RemoveExistingProducts as soon as it comes to it, so some
# orders that fail on Windows pass the runs below: the order is checked here. The rows are shown.
programs=$(msiinfo export "$package_a" CustomAction | tr -d '\r' |
  awk -F'\t' 'NR > 3 && $3 ~ /_shortcuts\.exe$/ { printf "%s=%s ", $1, $3 }')
script=$(msiinfo export "$package_a" InstallExecuteSequence | tr -d '\r' |
  awk -F'\t' -v programs="$programs" '
    BEGIN {
      n = split(programs, pairs, " ")
      for (i = 1; i <= n; i++) { split(pairs[i], kv, "="); program[kv[1]] = kv[2] }
    }
    NR <= 3 { next }
    $1 in program || $1 == "RemoveExistingProducts" { print "sequence: " $0 >"/dev/stderr" }
    { printf "%d\t%s\t%s\n", $3, ($1 in program) ? program[$1] : $1, $2 }' |
  sort -n | cut -f2-)
landmarks='InstallValidate|RemoveExistingProducts|InstallInitialize|RemoveFiles|InstallFiles'
landmarks+='|InstallFinalize|.*_shortcuts\.exe'
expect "install script order" "$(echo "$script" | cut -f1 | grep -xE "$landmarks" | tr '\n' ' ')" \
  "InstallValidate RemoveExistingProducts InstallInitialize remove_shortcuts.exe RemoveFiles \
InstallFiles add_shortcuts.exe InstallFinalize "
# Wine's msiexec removes the old build in an upgrade with REMOVE=ALL alone and never sets
# UPGRADINGPRODUCTCODE: a remover skipped in an upgrade by that property passes every run here and
# strands the old shortcuts on Windows. So the condition is checked as the package holds it: every
# full removal, whatever starts it.
expect "remove_shortcuts' condition" \
  "$(echo "$script" | awk -F'\t' '$1 == "remove_shortcuts.exe" { print $2 }')" 'REMOVE="ALL"'

before=$(snapshot)
expect "install exit code" "$(run "install 18.1" msiexec /i "$scratch_win\\a.msi" /qn)" 0
expect "installed files" "$(installed_files)" \
  "$(printf '%s ' ./KELDA/bin/winx64/installer/{add_shortcuts.exe,instkit-{LICENSE,THIRD-PARTY-NOTICES}.txt,remove_shortcuts.exe} \
    ./commonfiles/globalsettings/relinfo.xml)"
expect "shortcuts after install" "$(shortcuts)" "$(expected_shortcuts 18.1)"

# A repair runs add_shortcuts again: a deleted shortcut comes back. (Wine's msiexec does not take
# /f: it answers 69.)
rm -f "$drive_c/$programs_rel/Vortasim 18.1/Vortasim 18.1.lnk"
expect "repair exit code" \
  "$(run "repair" msiexec /i "$scratch_win\\a.msi" REINSTALL=ALL REINSTALLMODE=vamus /qn)" 0
expect "shortcuts after repair" "$(shortcuts)" "$(expected_shortcuts 18.1)"

# The newer build: the old one's removal deletes the 18.1 shortcuts, then 18.2 writes its own.
expect "upgrade exit code" "$(run "upgrade to 18.2" msiexec /i "$scratch_win\\b.msi" /qn)" 0
expect "shortcuts after upgrade" "$(shortcuts)" "$(expected_shortcuts 18.2)"
expect "release file after upgrade" "$(grep -o 'AppendRevision="[^"]*"' \
  "$root/commonfiles/globalsettings/relinfo.xml")" 'AppendRevision="18.2"'

expect "uninstall exit code" "$(run "uninstall" msiexec /x "$scratch_win\\b.msi" /qn)" 0
expect "shortcuts after uninstall" "$(shortcuts)" ""
expect_same_files "drive C: after uninstall" "$before" "$(snapshot)"

finished=1
expect_all_met "example package"
