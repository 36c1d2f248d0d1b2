#!/usr/bin/env bash
# The example installer (examples/nsis) end to end under Wine: a silent install writes the suite's
# five shortcuts, pointing into the installed tree, and an Add/Remove Programs entry; a newer build
# installed over it leaves exactly the new revision's five shortcuts; a silent uninstall puts the
# Start menu, the disk and the registry entry back as they were. Then the wrong order: with
# relinfo.xml gone before remove_shortcuts runs, the uninstall leaves every shortcut behind.
#   nsis_example_test.sh WINE_RUN ARCH PREFIX INSTALLER_18_1 INSTALLER_18_2 SHOW_SHORTCUTS
# WINE_RUN, ARCH and PREFIX as cmake/wine-run.sh takes them; the installers are the built example
# at revisions 18.1 and 18.2, SHOW_SHORTCUTS the built tools/show_shortcuts.exe.
set -euo pipefail
wine_run=$1 arch=$2 prefix=$3 installer_a=$4 installer_b=$5 show_shortcuts=$6
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vortasim'
forget_install() {
  (cd / && "$wine_run" "$arch" "$prefix" reg delete "$uninstall_key" /reg:32 /f) \
    </dev/null >/dev/null 2>&1 || true
}
. "$(dirname "$0")/example_helpers.sh"

# uninstall: the installed uninstaller, run as it runs itself. Started from the install folder, it
# copies itself to a temporary folder, starts the copy with "_?=<install folder>" and exits at
# once; the copy does the work. The test does the copying, so that it waits for the work to end.
# "_?=" takes the rest of the command line, unquoted: the folder goes as separate words.
uninstall() {
  cp "$root/uninstall.exe" "$scratch/uninstall.exe"
  local words
  read -r -a words <<<"$root_win"
  run "uninstall" "$scratch/uninstall.exe" /S "_?=${words[0]}" "${words[@]:1}"
  rm -f "$scratch/uninstall.exe"
}
# The Add/Remove Programs entry, as a 32-bit program sees the registry: its values as name=value,
# sorted, on one line.
arp_entry() {
  (cd "$scratch" && "$wine_run" "$arch" "$prefix" reg query "$uninstall_key" /reg:32 \
    </dev/null 2>/dev/null) | tr -d '\r' |
    awk '$2 ~ /^REG_/ { name = $1; $1 = $2 = ""; sub(/^ */, ""); print name "=" $0 }' | sort |
    tr '\n' ' '
}
# expected_arp_entry VERSION
expected_arp_entry() {
  printf '%s\n' "DisplayName=Vortasim $1" "DisplayVersion=$1" "Publisher=KELDA" \
    "InstallLocation=$root_win" "UninstallString=\"$root_win\\uninstall.exe\"" \
    "QuietUninstallString=\"$root_win\\uninstall.exe\" /S" "NoModify=0x1" "NoRepair=0x1" |
    sort | tr '\n' ' '
}

before=$(snapshot)
expect "installer exit code" "$(run "install 18.1" "$installer_a" /S)" 0
expect "installed files" "$(installed_files)" \
  "$(printf '%s ' ./KELDA/bin/winx64/installer/{add_shortcuts.exe,instkit-{LICENSE,THIRD-PARTY-NOTICES}.txt,remove_shortcuts.exe} \
    ./commonfiles/globalsettings/relinfo.xml ./uninstall.exe)"
expect "shortcuts after install" "$(shortcuts)" "$(expected_shortcuts 18.1)"
expect "Add/Remove Programs entry after install" "$(arp_entry)" "$(expected_arp_entry 18.1)"

# The newer build over it, in place: the old uninstaller runs first, with the old relinfo.xml.
expect "upgrade exit code" "$(run "upgrade to 18.2" "$installer_b" /S)" 0
expect "shortcuts after upgrade" "$(shortcuts)" "$(expected_shortcuts 18.2)"
expect "Add/Remove Programs entry after upgrade" "$(arp_entry)" "$(expected_arp_entry 18.2)"

expect "uninstaller exit code" "$(uninstall)" 0
expect_same_files "drive C: after uninstall" "$before" "$(snapshot)"
expect "Add/Remove Programs entry after uninstall" "$(arp_entry)" ""

# The wrong order: relinfo.xml deleted before remove_shortcuts runs.
expect "second installer exit code" "$(run "install 18.1" "$installer_a" /S)" 0
rm "$root/commonfiles/globalsettings/relinfo.xml"
expect "uninstaller exit code, relinfo.xml gone" "$(uninstall)" 0
expect "shortcuts left by the wrong order" "$(shortcuts)" "$(expected_shortcuts 18.1)"
expect "install folder after the wrong order" "$([ -e "$root" ] && echo present || echo gone)" gone

finished=1
expect_all_met "example installer"
