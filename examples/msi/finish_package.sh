#!/bin/sh
# Finishes a package that wixl made from sample_suite.wxs, in place, with msitools' msibuild:
# what wixl cannot write. Run it after wixl, every time:
#   sh finish_package.sh Vortasim-18.1.msi
# - The rollback actions: wixl 0.101 (Debian 12) writes Execute="rollback" as an immediate action
#   (type 2130), which Windows Installer would run at once, outside the install script. Their
#   types get the in-script (1024) and rollback (256) bits: 3410. wixl 0.106 (Debian 13) writes
#   3410 itself, and this step leaves it so.
# - The upgrade of a same-version build: wixl (0.101 and 0.106 alike) ignores
#   AllowSameVersionUpgrades. The Upgrade row that finds older builds (action property
#   WIX_UPGRADE_DETECTED) gets VersionMaxInclusive (512), so that a rebuild of the installed
#   version replaces it instead of installing beside it.
# Running it twice changes nothing more. msiinfo export <package> CustomAction (or Upgrade) shows
# the result.
set -eu
package=$1
rollback_actions=" AddSuiteShortcutsRollback RemoveSuiteShortcutsRollback "
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each table as msiinfo exports it: three header lines, then tab-separated rows ending in CR LF.
msiinfo export "$package" CustomAction >"$work/CustomAction.idt"
msiinfo export "$package" Upgrade >"$work/Upgrade.idt"
tab=$(printf '\t')
{
  head -n 3 "$work/CustomAction.idt"
  tail -n +4 "$work/CustomAction.idt" | while IFS="$tab" read -r action type rest; do
    case "$rollback_actions" in
    *" $action "*) type=$((type | 1024 | 256)) ;;
    esac
    printf '%s\t%s\t%s\n' "$action" "$type" "$rest"
  done
} >"$work/CustomAction.fixed.idt"
mv "$work/CustomAction.fixed.idt" "$work/CustomAction.idt"
msibuild "$package" -i "$work/CustomAction.idt"

# msibuild does not import this table (its key has empty columns): the row is replaced by a query,
# as wixl writes it for this package (no minimum version, language or features to remove).
row=$(tail -n +4 "$work/Upgrade.idt" | tr -d '\r' | grep "${tab}WIX_UPGRADE_DETECTED\$")
code=$(echo "$row" | cut -f1)
max=$(echo "$row" | cut -f3)
attributes=$(($(echo "$row" | cut -f5) | 512))
msibuild "$package" -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'"
msibuild "$package" -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) \
VALUES ('$code', '$max', $attributes, 'WIX_UPGRADE_DETECTED')"
