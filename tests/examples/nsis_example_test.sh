#!/usr/bin/env bash
# The example installer (examples/nsis) end to end under Wine: a silent install writes the suite's
# five shortcuts, pointing into the installed tree, and an Add/Remove Programs entry; a newer build
# installed over it leaves exactly the new revision's five shortcuts; a silent uninstall puts the
# Start menu, the disk and the registry entry back as they were. A newer build installed into
# another folder (/D=, a tree of new folders) removes the installed copy first, wherever it is,
# and stops when that fails; the uninstall removes the folders the install made, and only those;
# an older one is refused unless asked for; a non-administrator's run is refused. Then the wrong
# order: with relinfo.xml gone before remove_shortcuts runs, the uninstall leaves every shortcut
# behind.
#   nsis_example_test.sh WINE_RUN ARCH PREFIX INSTALLER_18_1 INSTALLER_18_2 SHOW_SHORTCUTS
#                        AS_NON_ADMIN
# WINE_RUN, ARCH and PREFIX as cmake/wine-run.sh takes them; the installers are the built example
# at revisions 18.1 and 18.2, SHOW_SHORTCUTS the built tools/show_shortcuts.exe, AS_NON_ADMIN the
# built tests/examples/as_non_admin.exe.
set -euo pipefail
wine_run=$1 arch=$2 prefix=$3 installer_a=$4 installer_b=$5 show_shortcuts=$6 as_non_admin=$7
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vortasim'
forget_install() {
  (cd / && "$wine_run" "$arch" "$prefix" reg delete "$uninstall_key" /reg:32 /f) \
    </dev/null >/dev/null 2>&1 || true
  rm -rf "${elsewhere_top:?}"
}
. "$(dirname "$0")/example_helpers.sh"
# Another install folder, outside Program Files, in a tree of three new folders (no blank: /D=
# takes it as it stands).
elsewhere_win='C:\Elsewhere\Deep\Vortasim'
elsewhere="$drive_c/Elsewhere/Deep/Vortasim"
elsewhere_top="$drive_c/Elsewhere"

# uninstall [ROOT ROOT_WIN]: the installed uninstaller (of root when not given), run as it runs
# itself. Started from the install folder, it copies itself to a temporary folder, starts the copy
# with "_?=<install folder>" and exits at once; the copy does the work. The test does the copying,
# so that it waits for the work to end. "_?=" takes the rest of the command line, unquoted: the
# folder goes as separate words.
uninstall() {
  cp "${1:-$root}/uninstall.exe" "$scratch/uninstall.exe"
  local words
  read -r -a words <<<"${2:-$root_win}"
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
# expected_arp_entry VERSION [ROOT_WIN [CREATED]]: CREATED is the number of folders the install
# made, 1 (the install folder) when not given.
expected_arp_entry() {
  local at=${2:-$root_win}
  printf '%s\n' "DisplayName=Vortasim $1" "DisplayVersion=$1" "Publisher=KELDA" \
    "InstallLocation=$at" "UninstallString=\"$at\\uninstall.exe\"" \
    "QuietUninstallString=\"$at\\uninstall.exe\" /S" "NoModify=0x1" "NoRepair=0x1" \
    "CreatedFolders=0x${3:-1}" |
    sort | tr '\n' ' '
}

before=$(snapshot)
code=$(run "install 18.1" "$installer_a" /S)
skip_unless_loaded "$installer_a"
expect "installer exit code" "$code" 0
# What the installer puts on disk, wherever it installs.
expected_files=$(printf '%s ' \
  ./KELDA/bin/winx64/installer/{add_shortcuts.exe,instkit-{LICENSE,THIRD-PARTY-NOTICES}.txt,remove_shortcuts.exe} \
  ./commonfiles/globalsettings/relinfo.xml ./uninstall.exe)
expect "installed files" "$(installed_files)" "$expected_files"
expect "shortcuts after install" "$(shortcuts)" "$(expected_shortcuts 18.1)"
expect "Add/Remove Programs entry after install" "$(arp_entry)" "$(expected_arp_entry 18.1)"

# The newer build over it, in place: the old uninstaller runs first, with the old relinfo.xml.
expect "upgrade exit code" "$(run "upgrade to 18.2" "$installer_b" /S)" 0
expect "shortcuts after upgrade" "$(shortcuts)" "$(expected_shortcuts 18.2)"
expect "Add/Remove Programs entry after upgrade" "$(arp_entry)" "$(expected_arp_entry 18.2)"

expect "uninstaller exit code" "$(uninstall)" 0
expect_same_files "drive C: after uninstall" "$before" "$(snapshot)"
expect "Add/Remove Programs entry after uninstall" "$(arp_entry)" ""

# Wine hands on a Windows exit code's low byte only: 740 arrives as 228, 1638 as 102.
low_byte() { echo $(($1 & 255)); }

# A non-administrator's run (the Administrators group deny-only, as in an unelevated start) is
# refused with ERROR_ELEVATION_REQUIRED, and writes nothing.
cp "$installer_a" "$scratch/setup-18.1.exe"
expect "non-administrator's installer exit code" \
  "$(run "install 18.1 as a non-administrator" "$as_non_admin" "$scratch_win\\setup-18.1.exe" /S)" \
  "$(low_byte 740)"
expect_same_files "drive C: after a non-administrator's run" "$before" "$(snapshot)"

# The newer build into another folder: the installed copy goes first, by its own uninstaller,
# wherever it is; one install is left, with the new revision's shortcuts only.
expect "install exit code, before another folder" "$(run "install 18.1" "$installer_a" /S)" 0
expect "upgrade into another folder exit code" \
  "$(run "upgrade to 18.2 into another folder" "$installer_b" /S "/D=$elsewhere_win")" 0
expect "first folder after the upgrade elsewhere" "$([ -e "$root" ] && echo present || echo gone)" \
  gone
expect "installed files elsewhere" "$(root=$elsewhere installed_files)" "$expected_files"
expect "shortcuts after the upgrade elsewhere" "$(shortcuts)" \
  "$(expected_shortcuts 18.2 "$elsewhere_win")"
expect "Add/Remove Programs entry after the upgrade elsewhere" "$(arp_entry)" \
  "$(expected_arp_entry 18.2 "$elsewhere_win" 3)"

# An older build is refused (1638) and changes nothing...
expect "downgrade exit code" "$(run "downgrade to 18.1" "$installer_a" /S)" "$(low_byte 1638)"
expect "shortcuts after a refused downgrade" "$(shortcuts)" \
  "$(expected_shortcuts 18.2 "$elsewhere_win")"
# ...unless asked for: then it replaces the installed build, in the installed build's folder.
expect "downgrade exit code, asked for" \
  "$(run "downgrade to 18.1, asked for" "$installer_a" /S /ALLOWDOWNGRADE)" 0
expect "shortcuts after the downgrade" "$(shortcuts)" "$(expected_shortcuts 18.1 "$elsewhere_win")"

expect "uninstaller exit code, other folder" "$(uninstall "$elsewhere" "$elsewhere_win")" 0
# The three folders the install made are gone with it.
expect_same_files "drive C: after uninstalling from the other folder" "$before" "$(snapshot)"
expect "Add/Remove Programs entry after uninstalling from the other folder" "$(arp_entry)" ""

# The same tree with its top folder there before, empty: the install makes the two below it, and
# the uninstall removes those two and leaves the one it found.
mkdir -p "$elsewhere_top"
before_tree=$(snapshot)
expect "install exit code, the top folder there before" \
  "$(run "install 18.1 below an existing folder" "$installer_a" /S "/D=$elsewhere_win")" 0
expect "Add/Remove Programs entry, the top folder there before" "$(arp_entry)" \
  "$(expected_arp_entry 18.1 "$elsewhere_win" 2)"
expect "uninstaller exit code, the top folder there before" \
  "$(uninstall "$elsewhere" "$elsewhere_win")" 0
expect_same_files "drive C: after uninstalling below an existing folder" "$before_tree" \
  "$(snapshot)"
rmdir "$elsewhere_top"

# The installed build's uninstaller fails (cut short, it fails its own integrity check): the newer
# build stops with exit code 2 and leaves the installed one as it was.
expect "install exit code, before a failing uninstaller" "$(run "install 18.1" "$installer_a" /S)" 0
cp "$root/uninstall.exe" "$scratch/whole-uninstall.exe"
head -c "$(($(stat -c %s "$scratch/whole-uninstall.exe") / 2))" "$scratch/whole-uninstall.exe" \
  >"$root/uninstall.exe"
expect "upgrade exit code, the old uninstaller failing" \
  "$(run "upgrade to 18.2, the old uninstaller failing" "$installer_b" /S)" 2
expect "shortcuts after the failed upgrade" "$(shortcuts)" "$(expected_shortcuts 18.1)"
expect "release file after the failed upgrade" "$(grep -o 'AppendRevision="[^"]*"' \
  "$root/commonfiles/globalsettings/relinfo.xml")" 'AppendRevision="18.1"'
cp "$scratch/whole-uninstall.exe" "$root/uninstall.exe"
expect "uninstaller exit code, after the failed upgrade" "$(uninstall)" 0
expect_same_files "drive C: after the failed upgrade and an uninstall" "$before" "$(snapshot)"

# The wrong order: relinfo.xml deleted before remove_shortcuts runs.
expect "second installer exit code" "$(run "install 18.1" "$installer_a" /S)" 0
rm "$root/commonfiles/globalsettings/relinfo.xml"
expect "uninstaller exit code, relinfo.xml gone" "$(uninstall)" 0
expect "shortcuts left by the wrong order" "$(shortcuts)" "$(expected_shortcuts 18.1)"
expect "install folder after the wrong order" "$([ -e "$root" ] && echo present || echo gone)" gone

finished=1
expect_all_met "example installer"
