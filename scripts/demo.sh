#!/usr/bin/env bash
# The main job: builds the release programs, stages a sample install tree in a scratch Wine
# prefix and shows the Start menu before, after add_shortcuts and after remove_shortcuts; after
# add_shortcuts, the support tool check_shortcuts explains the install once.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/setup.sh
. scripts/route.sh
instkit_choose_route
if [ "$instkit_route" = i686 ]; then
  preset=release arch=win32
  echo "== Showing the shipped 32-bit programs ($instkit_route_why)"
else
  preset=release-x64 arch=win64
  echo "== Showing the x86_64 build of the same sources, not the shipped 32-bit programs" \
    "($instkit_route_why)"
fi
. scripts/step.sh
build_programs() {
  cmake --preset $preset && cmake --build --preset $preset --target add_shortcuts remove_shortcuts \
    show_shortcuts check_shortcuts
}
rm -f build/demo-build-$preset.log
instkit_step "== Building them (preset $preset)" build/demo-build-$preset.log build_programs

build=build/$preset
prefix=$top/$build/wine/demo-prefix
wine_run() { cmake/wine-run.sh $arch "$prefix" "$@"; }
cmake/wine-run.sh --fresh $arch "$prefix"
trap 'cmake/wine-run.sh --stop $arch "$prefix"' EXIT

# A sample install: the release file under the root, both programs five levels below it.
root="$(cmake/wine-run.sh --where $arch "$prefix")/drive_c/Vortasim 18.1"
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
# Empty stand-ins for the suite's programs, which the shortcuts start.
for suite_program in vxstart vxmotion vxplot KLD_ADMIN; do
  : >"$root/KELDA/bin/winx64/$suite_program.exe"
done
ls -l "$tools"

# Everyone on Wine passes the administrator check: the all-users Programs folder is used.
programs='C:\ProgramData\Microsoft\Windows\Start Menu\Programs'
show() {
  echo
  echo "== $1"
  wine_run $build/tools/show_shortcuts.exe "$programs"
}

show "Start menu before"
failed=0
for program in add_shortcuts remove_shortcuts; do
  code=0
  wine_run "C:\\Vortasim 18.1\\KELDA\\bin\\winx64\\installer\\$program.exe" || code=$?
  echo "$program exited with $code"
  [ "$code" -eq 0 ] || failed=1
  show "Start menu after $program"
  if [ $program = add_shortcuts ]; then
    # What support would run on the user's machine: it reads, and changes nothing.
    echo
    echo "== check_shortcuts on the installed add_shortcuts.exe"
    code=0
    wine_run $build/tools/check_shortcuts.exe \
      "C:\\Vortasim 18.1\\KELDA\\bin\\winx64\\installer\\add_shortcuts.exe" || code=$?
    echo "check_shortcuts exited with $code"
    [ "$code" -eq 0 ] || failed=1
  fi
done
exit $failed
