#!/usr/bin/env bash
# Checks that a signed release is exactly what these sources build:
#   verify_release.sh SIGNED_ARCHIVE [SIGNATURES_DIR]
# SIGNED_ARCHIVE is a published instkit-<version>-win32-signed.zip; SIGNATURES_DIR holds the
# published detached signatures, <program>.sig for each program of the archive (default: beside
# the archive).
# Builds the release programs from these sources in a fresh build tree of the `release` preset,
# packs the release archive (byte-identical to the unsigned release of the same commit), attaches
# the published signatures to the rebuilt programs (scripts/sign.sh --signatures), and compares
# each signed program (every *.exe and *.dll of either archive), then the whole signed archive,
# byte for byte with the published ones; and checks the published SBOM's hashes
# (scripts/check_sbom_files.py) against the rebuilt files.
# First it compares the compiler, linker and runtime versions that the release's SBOM records
# with this host's, and stops, saying what differs, when they cannot give the same bytes.
# Check out the release's commit first; a release packed with SOURCE_DATE_EPOCH set needs the
# same SOURCE_DATE_EPOCH here. Whether the signer is one to trust is a separate question:
# `osslsigncode verify -CAfile ...` on the programs answers it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] && [ $# -le 2 ] || {
  echo "usage: ${0##*/} SIGNED_ARCHIVE [SIGNATURES_DIR]" >&2
  exit 2
}
published=$(realpath "$1")
signatures=$(realpath "${2:-$(dirname "$published")}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The published archive is outside input: it is never unpacked. Its programs and its SBOM are read
# from it (packaging/unpack_zip.py --member), once every entry of it has passed the checks of
# --list, here before anything is built; a refusal names the entry.
unpack=(python3 "$top/packaging/unpack_zip.py")
"${unpack[@]}" --list "$published" >"$work/published.entries" || exit 1
member() { "${unpack[@]}" --member "$@" 2>/dev/null; }

# The toolchain that built the release, as its SBOM records it, against this host's: with another
# compiler, linker or runtime the rebuilt bytes cannot match, and the check says what differs and
# where a matching host is to be had instead of rebuilding (scripts/check_toolchain.py).
compare_toolchain() {
  python3 "$top/scripts/check_toolchain.py" "$published" "${published%-signed.zip}.cdx.json"
}
compare_toolchain || exit 1

# The rebuild: the release preset's settings in a build tree of its own, without the tests.
echo "Building the release from $top ($(git -C "$top" describe --always --dirty 2>/dev/null || echo 'no history'))"
cmake --preset release -S "$top" -B "$work/build" -DINSTKIT_TESTS=OFF >"$work/build.log" 2>&1 &&
  cmake --build "$work/build" >>"$work/build.log" 2>&1 &&
  (cd "$work/build" && cpack >>"$work/build.log" 2>&1) || {
  cat "$work/build.log" >&2
  echo "the rebuild failed" >&2
  exit 1
}
unsigned=$(echo "$work"/build/instkit-*-win32.zip)
echo "Rebuilt $(basename "$unsigned"), sha256 $(sha256sum <"$unsigned" | cut -d' ' -f1)"

# The published signatures attached to the rebuilt programs, packed as sign.sh packs a release.
mkdir "$work/signed"
bash "$top/scripts/sign.sh" --signatures "$signatures" --out "$work/signed" "$unsigned" \
  >/dev/null || exit 1
rebuilt=$work/signed/$(basename "$unsigned" .zip)-signed.zip

"${unpack[@]}" "$unsigned" "$work/unsigned" || exit 1
"${unpack[@]}" --list "$rebuilt" >"$work/rebuilt.entries" || exit 1
status=0
# Every program of either archive, by its path in the archive, compared as the archives hold it.
mapfile -t programs < <(cat "$work/published.entries" "$work/rebuilt.entries" |
  grep -i '\.\(exe\|dll\)$' | sort -u)
for program in "${programs[@]}"; do
  if grep -qxF -- "$program" "$work/published.entries" &&
    grep -qxF -- "$program" "$work/rebuilt.entries" &&
    theirs=$(member "$published" "$program" | sha256sum) &&
    ours=$(member "$rebuilt" "$program" | sha256sum) && [ "$ours" = "$theirs" ]; then
    built=$(stat -c %s "$work/unsigned/$program")
    echo "${program##*/}: identical to the release's ($built bytes built + $(($(member "$rebuilt" "$program" | wc -c) - built)) bytes of signature)"
  else
    echo "${program##*/}: DIFFERS from the release's" >&2
    status=1
  fi
done
# The published SBOM (in the archive, and beside it when published there) against the rebuilt
# files, which it describes unsigned.
mkdir "$work/in-archive"
while IFS= read -r entry; do
  member "$published" "$entry" >"$work/in-archive/${entry##*/}"
done < <(grep '^[^/]*/[^/]*\.cdx\.json$' "$work/published.entries")
for sbom in "$work"/in-archive/*.cdx.json "$(dirname "$published")/$(basename "$unsigned" .zip).cdx.json"; do
  [ -f "$sbom" ] || continue
  if python3 "$top/scripts/check_sbom_files.py" "$sbom" "$(echo "$work"/unsigned/*/)" >"$work/sbom.log"; then
    echo "$(basename "$sbom") ($([[ $sbom == "$work"/* ]] && echo in || echo beside) the archive): its hashes are the rebuilt files' ($(grep -c 'as in the SBOM' "$work/sbom.log") files)"
  else
    sed 's/^/  /' "$work/sbom.log" >&2
    echo "$(basename "$sbom"): its hashes DIFFER from the rebuilt files'" >&2
    status=1
  fi
done
if cmp -s "$rebuilt" "$published"; then
  echo "$(basename "$published"): identical to the rebuild with the published signatures attached"
else
  echo "$(basename "$published"): DIFFERS from the rebuild with the published signatures attached" >&2
  status=1
fi
exit $status
