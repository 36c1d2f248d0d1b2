#!/usr/bin/env bash
# Builds the release programs twice, in two build trees of different paths, and checks that the
# two builds are byte-identical; then packs the release archive in each tree, the second time
# under another account, with another umask, at another time and in another time zone, and checks
# that the two archives are byte-identical too and unpack to the files that were packed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# As root, the second pack runs as an account of no one, which must be able to read the sources:
# where they lie in a private folder (a home folder, say), both trees build from a copy here.
src=$top
if [ "$(id -u)" = 0 ] &&
  ! setpriv --reuid=4242 --regid=4242 --clear-groups test -r "$top/packaging/write_zip.py"; then
  mkdir "$work/src"
  tar -C "$top" --exclude=./build -cf - . | tar -C "$work/src" -xf -
  src=$work/src
fi

for tree in one second-tree; do
  cmake -S "$src" -B "$work/$tree" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DINSTKIT_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$work/$tree" --target add_shortcuts remove_shortcuts check_shortcuts instutil \
    >/dev/null
done
for program in add_shortcuts remove_shortcuts tools/check_shortcuts; do
  # add_shortcuts/add_shortcuts.exe; the support tool lies in tools/.
  [[ $program == */* ]] || program=$program/$program
  cmp "$work/one/$program.exe" "$work/second-tree/$program.exe"
  echo "${program##*/}.exe: identical in both builds ($(stat -c %s "$work/one/$program.exe") bytes)"
done

# The second pack's account: as root, an account of no one (it owns its tree and may read the
# sources' history); otherwise a user namespace in which this account is root, where one can be
# made; otherwise this account, which the output says.
other=()
if [ "$(id -u)" = 0 ]; then
  chown -R 4242:4242 "$work/second-tree"
  other=(env HOME="$work/second-tree" GIT_CONFIG_COUNT=1 GIT_CONFIG_KEY_0=safe.directory
    GIT_CONFIG_VALUE_0="*" setpriv --reuid=4242 --regid=4242 --clear-groups)
elif unshare --map-root-user true 2>/dev/null; then
  other=(unshare --map-root-user)
else
  echo "both packs by this account: it is not root and cannot make a user namespace"
fi
(cd "$work/one" && umask 022 && cpack >/dev/null)
(cd "$work/second-tree" && umask 077 && TZ=XST-12 "${other[@]}" cpack >/dev/null)
archive=$(cd "$work/one" && echo instkit-*-win32.zip)
for tree in one second-tree; do
  echo "$tree: $(stat -c %s "$work/$tree/$archive") bytes, sha256 $(sha256sum <"$work/$tree/$archive" | cut -d' ' -f1)"
done
cmp "$work/one/$archive" "$work/second-tree/$archive"
echo "$archive: identical in both packs"

# The archive unpacks, with the unpacker the release scripts use on archives from outside
# (packaging/unpack_zip.py), to exactly the staged files.
python3 "$top/packaging/unpack_zip.py" "$work/one/$archive" "$work/unpacked"
diff -r "$work/unpacked/${archive%.zip}" "$(echo "$work"/one/_CPack_Packages/*/ZIP/"${archive%.zip}")"
echo "$archive: unpacks to the staged files"
