#!/usr/bin/env bash
# The example package (examples/msi) end to end under Wine's msiexec, silently: an install writes
# the suite's five shortcuts, pointing into the installed tree; a repair puts back a deleted one;
# a rebuild of the same version replaces the installed build; a newer build (a major upgrade, new
# version and revision) leaves exactly the new revision's five; an uninstall puts the Start menu
# and the disk back as they were. msiexec ends in 0 even when a custom action did not run, so
# every step is judged by the Start menu and the disk. First, what no run under Wine shows: the
# custom actions' types and the install script's order as the package holds them.
#   msi_example_test.sh WINE_RUN ARCH PREFIX PACKAGE_18_1 PACKAGE_18_2 SHOW_SHORTCUTS
# WINE_RUN, ARCH and PREFIX as cmake/wine-run.sh takes them; the packages are the built example at
# revisions 18.1 and 18.2, SHOW_SHORTCUTS the built tools/show_shortcuts.exe.
set -euo pipefail
wine_run=$1 arch=$2 prefix=$3 package_a=$4 package_b=$5 show_shortcuts=$6
# Removes whichever build a failed run left installed.
forget_install() {
  local package
  for package in b.msi a2.msi a.msi; do
    (cd "$scratch" && "$wine_run" "$arch" "$prefix" msiexec /x "$scratch_win\\$package" /qn) \
      </dev/null >/dev/null 2>&1 || true
  done
}
. "$(dirname "$0")/example_helpers.sh"
cp "$package_a" "$scratch/a.msi"
cp "$package_b" "$scratch/b.msi"

# Every custom action's type, in bits: Wine's msiexec runs an immediate or impersonated action, or
# a rollback action written as an immediate one, as if it were right; Windows does not. Each runs
# a program of the package (18), deferred in the install script (1024), in the system context
# (2048), with its exit code ignored (64), not asynchronously (128 unset); the rollback partners
# also with the rollback bit (256), the others without it or the commit bit (512).
types=$(msiinfo export "$package_a" CustomAction | tr -d '\r' | awk -F'\t' 'NR > 3 { print $1, $2, $3 }' |
  while read -r action type program; do
    bits="$action: $program $((type & 63))"
    [ $((type & 1024)) -ne 0 ] && bits+=" deferred"
    [ $((type & 256)) -ne 0 ] && bits+=" rollback"
    [ $((type & 512)) -ne 0 ] && bits+=" commit"
    [ $((type & 2048)) -ne 0 ] && bits+=" system-context"
    [ $((type & 64)) -ne 0 ] && bits+=" ignore-exit-code"
    [ $((type & 128)) -ne 0 ] && bits+=" asynchronous"
    echo "$bits"
  done | sort)
expect "custom action types" "$types" "\
AddSuiteShortcuts: add_shortcuts.exe 18 deferred system-context ignore-exit-code
AddSuiteShortcutsRollback: remove_shortcuts.exe 18 deferred rollback system-context ignore-exit-code
RemoveSuiteShortcuts: remove_shortcuts.exe 18 deferred system-context ignore-exit-code
RemoveSuiteShortcutsRollback: add_shortcuts.exe 18 deferred rollback system-context ignore-exit-code"

# The install script as the package holds it, one line per action in sequence order: the action,
# a custom action named by the program it runs ("rollback:" before a rollback partner's), and its
# condition. The old build is removed right
# after InstallInitialize, inside the install script (so that a failed install rolls its removal
# back too) and before any file of the new one is in; remove_shortcuts runs inside the
# script before RemoveFiles, add_shortcuts inside it after InstallFiles. Wine's msiexec runs
# deferred actions at InstallFinalize and RemoveExistingProducts as soon as it comes to it, so some
# orders that fail on Windows pass the runs below: the order is checked here. The rows are shown.
programs=$(msiinfo export "$package_a" CustomAction | tr -d '\r' |
  awk -F'\t' 'NR > 3 && $3 ~ /_shortcuts\.exe$/ {
    printf "%s=%s%s ", $1, (int($2 / 256) % 2 && int($2 / 1024) % 2) ? "rollback:" : "", $3 }')
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
  "InstallValidate InstallInitialize RemoveExistingProducts rollback:add_shortcuts.exe \
remove_shortcuts.exe RemoveFiles InstallFiles rollback:remove_shortcuts.exe add_shortcuts.exe \
InstallFinalize "
# Windows Installer takes RemoveExistingProducts inside the script only immediately after
# InstallInitialize (or after InstallExecute): no action between the two.
expect "the action after InstallInitialize" \
  "$(echo "$script" | cut -f1 | awk 'previous == "InstallInitialize" { print } { previous = $0 }')" \
  RemoveExistingProducts
# Each rollback partner right before its action, nothing between them: a failure after the action
# then undoes it, and only it. On Windows, the add is undone (the shortcuts removed) before the
# files are taken back out, and the removal undone (the shortcuts made again) after they are back.
expect "the action before each program" "$(echo "$script" | cut -f1 | awk '
  /^[a-z_]*_shortcuts\.exe$/ { print previous " -> " $0 } { previous = $0 }')" "\
rollback:add_shortcuts.exe -> remove_shortcuts.exe
rollback:remove_shortcuts.exe -> add_shortcuts.exe"
# Wine's msiexec removes the old build in an upgrade with REMOVE=ALL alone and never sets
# UPGRADINGPRODUCTCODE: a remover skipped in an upgrade by that property passes every run here and
# strands the old shortcuts on Windows. So the condition is checked as the package holds it: every
# full removal, whatever starts it.
# The add's partner runs only where a first install fails: a failed repair keeps the shortcuts
# that were there before it.
expect "the programs' conditions" \
  "$(echo "$script" | awk -F'\t' '$1 ~ /_shortcuts\.exe$/ { print $1 ": " $2 }')" "\
rollback:add_shortcuts.exe: REMOVE=\"ALL\"
remove_shortcuts.exe: REMOVE=\"ALL\"
rollback:remove_shortcuts.exe: NOT Installed
add_shortcuts.exe: REMOVE<>\"ALL\""

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

# A rebuild of the same version (a new product code and package code, as every wixl run gives)
# replaces the installed build instead of installing beside it. (Wine's msiexec /x runs the removal
# of a package that is not installed, so the products are told apart by their registration.)
product_code() {
  msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'
}
# registered CODE...: for each product code, "yes" when Windows Installer registered it (in either
# registry view), else "no".
registered() {
  local code view found
  for code; do
    found=no
    for view in 32 64; do
      (cd "$scratch" && "$wine_run" "$arch" "$prefix" reg query \
        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" /reg:$view) \
        </dev/null >/dev/null 2>&1 && found=yes
    done
    printf '%s ' "$found"
  done
}
cp "$scratch/a.msi" "$scratch/a2.msi"
msibuild "$scratch/a2.msi" -q "DELETE FROM Property WHERE Property = 'ProductCode'"
msibuild "$scratch/a2.msi" -q "INSERT INTO Property (Property, Value) VALUES ('ProductCode', \
'{$(tr a-z A-Z </proc/sys/kernel/random/uuid)}')"
msibuild "$scratch/a2.msi" -s "Vortasim 18.1" KELDA "Intel;1033" \
  "{$(tr a-z A-Z </proc/sys/kernel/random/uuid)}"
expect "first build registered" "$(registered "$(product_code "$scratch/a.msi")")" "yes "
expect "same-version rebuild exit code" \
  "$(run "install a rebuild of 18.1" msiexec /i "$scratch_win\\a2.msi" /qn)" 0
expect "first build and rebuild registered after the rebuild" \
  "$(registered "$(product_code "$scratch/a.msi")" "$(product_code "$scratch/a2.msi")")" "no yes "
expect "shortcuts after the same-version rebuild" "$(shortcuts)" "$(expected_shortcuts 18.1)"

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
