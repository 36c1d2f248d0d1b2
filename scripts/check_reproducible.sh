#!/usr/bin/env bash
# Builds the release programs twice, in two build trees of different paths, and checks that the
# two builds are byte-identical; then packs the release archive in each tree, at another time and
# in another time zone, and checks that the two archives are byte-identical too.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tree in one second-tree; do
  cmake -S "$top" -B "$work/$tree" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DINSTKIT_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$work/$tree" --target add_shortcuts remove_shortcuts instutil >/dev/null
done
for program in add_shortcuts remove_shortcuts; do
  cmp "$work/one/$program/$program.exe" "$work/second-tree/$program/$program.exe"
  echo "$program.exe: identical in both builds ($(stat -c %s "$work/one/$program/$program.exe") bytes)"
done
(cd "$work/one" && cpack >/dev/null)
(cd "$work/second-tree" && TZ=XST-12 cpack >/dev/null)
archive=$(cd "$work/one" && echo instkit-*-win32.zip)
cmp "$work/one/$archive" "$work/second-tree/$archive"
echo "$archive: identical in both packs ($(stat -c %s "$work/one/$archive") bytes)"
