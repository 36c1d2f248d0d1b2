#!/usr/bin/env bash
# The main job: builds the release programs, stages a sample install tree in a scratch Wine
# prefix and shows the Start menu before, after add_shortcuts and after remove_shortcuts.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target add_shortcuts remove_shortcuts show_shortcuts

build=build/release
prefix=$top/$build/wine/demo-prefix
wine_run() { cmake/wine-run.sh "$prefix" "$@"; }
cmake/wine-run.sh --fresh "$prefix"
trap 'cmake/wine-run.sh --stop "$prefix"' EXIT

# A sample install: the release file under the root, both programs five levels below it.
root="$prefix/drive_c/Vortasim 18.1"
tools="$root/KELDA/bin/winx64/installer"
mkdir -p "$root/commonfiles/globalsettings" "$root/commonfiles/images" "$tools"
cat >"$root/commonfiles/globalsettings/relinfo.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<releaseInformation>
  <release number="182"/>
  <startMenu startMenuFolderName="Vortasim 18.1"
             startMenuShortcutAppendRevision="18.1"/>
</releaseInformation>
XML
cp $build/add_shortcuts/add_shortcuts.exe $build/remove_shortcuts/remove_shortcuts.exe "$tools/"
ls -l "$tools"

# Everyone on Wine passes the administrator check: the all-users Programs folder is used.
programs='C:\ProgramData\Microsoft\Windows\Start Menu\Programs'
show() {
  echo
  echo "== $1"
  wine_run $build/tools/show_shortcuts.exe "$programs"
}

show "Start menu before"
code=0
wine_run "C:\\Vortasim 18.1\\KELDA\\bin\\winx64\\installer\\add_shortcuts.exe" || code=$?
echo "add_shortcuts exited with $code"
show "Start menu after add_shortcuts"
code=0
wine_run "C:\\Vortasim 18.1\\KELDA\\bin\\winx64\\installer\\remove_shortcuts.exe" || code=$?
echo "remove_shortcuts exited with $code"
show "Start menu after remove_shortcuts"
