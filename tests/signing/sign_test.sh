#!/usr/bin/env bash
# Signing a release (scripts/sign.sh) with a throwaway certificate authority made here: the signed
# programs verify against it and one changed byte breaks that; the PE checksum is valid; a
# rebuild with the published signatures attached is the signed release, byte for byte
# (scripts/verify_release.sh); a wrong password, a missing key file and an expired certificate
# each end with one line and exit code 1 and write nothing. Leaves in SCRATCH, for the tests that
# follow, programs/<name>/<name>.exe (the signed programs, laid out as a build tree for the image
# test) and, with MAKENSIS, Vortasim-18.1-setup.exe: the example installer made from the signed
# programs and signed itself, uninstaller included, through the example's SIGN hook.
#   sign_test.sh BUILD_TREE SCRATCH [MAKENSIS]
# BUILD_TREE is a 32-bit release build tree, whose release archive is signed.
set -euo pipefail
build=$(realpath "$1") scratch=$(realpath -m "$2") makensis=${3:-}
top=$(cd "$(dirname "$0")/../.." && pwd)
sign=("$top/scripts/sign.sh")
rm -rf "$scratch"
mkdir -p "$scratch"
chmod 700 "$scratch"
cd "$scratch"
# The throwaway keys and their password go when the test ends; the rest stays for the tests that
# follow.
trap 'rm -f "$scratch"/*.key "$scratch"/*.p12 "$scratch/password"' EXIT
. "$top/tests/expect.sh"

# The authority, a code-signing certificate it issued (valid for a day), one whose validity ended
# a day ago, and both as PKCS#12 files under one password.
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 \
  -subj "/CN=instkit test authority" -addext basicConstraints=critical,CA:true \
  -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=instkit test signer" 2>/dev/null
printf '%s\n' basicConstraints=CA:false keyUsage=critical,digitalSignature \
  extendedKeyUsage=codeSigning >signer.ext
for validity in 1 -1; do
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days $validity \
    -extfile signer.ext -out "signer$validity.pem" 2>/dev/null
done
printf 'test password\n' >password
openssl pkcs12 -export -inkey signer.key -in signer1.pem -certfile ca.pem -passout file:password \
  -out signer.p12
openssl pkcs12 -export -inkey signer.key -in signer-1.pem -certfile ca.pem -passout file:password \
  -out expired.p12
signing_time=$(date +%s)

# The unsigned release archive, packed from the build tree into the scratch folder.
# Packing installs the tree, which writes its install_manifest.txt: one suite at a time.
flock "$build/install.lock" cpack --config "$build/CPackConfig.cmake" -B "$scratch/pack" >/dev/null
unsigned=$(echo "$scratch"/pack/instkit-*-win32.zip)
unsigned_sum=$(sha256sum <"$unsigned")

mkdir release
"${sign[@]}" --pkcs12 signer.p12 --password-file password --time "$signing_time" --out release \
  "$unsigned" || echo "sign.sh failed"
signed=$(echo "$scratch"/release/instkit-*-win32-signed.zip)
expect "release folder" "$(ls release | tr '\n' ' ')" \
  "add_shortcuts.exe.sig $(basename "$signed") remove_shortcuts.exe.sig "
mkdir unpacked
(cd unpacked && cmake -E tar xf "$signed")
for program in add_shortcuts remove_shortcuts; do
  exe=$(echo unpacked/*/bin/$program.exe)
  mkdir -p "programs/$program"
  cp "$exe" "programs/$program/"
  verified=$(osslsigncode verify -CAfile ca.pem -in "$exe" 2>&1) && code=0 || code=$?
  expect "$program.exe verified against the authority" "$code" 0
  expect "$program.exe digest" "$(grep -m1 'Message digest algorithm' <<<"$verified" | sed 's/.*: *//')" \
    SHA256
  # osslsigncode shows the PE checksum once when the header's is right, or the stored and the
  # computed one ("MISMATCH") when it is not.
  sums=$(grep 'PE checksum' <<<"$verified" | sed 's/.*: *//; s/ .*//' | sort -u)
  expect "$program.exe PE checksum set and right" "$(wc -l <<<"$sums") $(grep -c '^0*$' <<<"$sums")" \
    "1 0"
  cp "$exe" changed.exe
  byte=$(od -An -tu1 -j4096 -N1 changed.exe)
  printf "\\x$(printf %02x $((byte ^ 255)))" | dd of=changed.exe bs=1 seek=4096 conv=notrunc status=none
  expect "$program.exe with one byte changed fails verification" \
    "$(osslsigncode verify -CAfile ca.pem -in changed.exe >/dev/null 2>&1 && echo passes || echo fails)" \
    fails
done

# A rebuild from the sources, with the published signatures attached, is the signed release.
verify_release=$(bash "$top/scripts/verify_release.sh" "$signed" 2>&1) && code=0 || code=$?
echo "$verify_release"
expect "verify_release.sh exit code" "$code" 0
expect "programs and archive identical to the rebuild" "$(grep -c ': identical' <<<"$verify_release")" 3

# The example installer made from the signed programs, the example's own SIGN hook signing the
# uninstaller and the installer.
if [ -n "$makensis" ]; then
  "$makensis" -V2 -WX -INPUTCHARSET UTF8 \
    -DSIGN="bash ${sign[*]} --pkcs12 $scratch/signer.p12 --password-file $scratch/password --file" \
    -DADD_SHORTCUTS="$scratch/programs/add_shortcuts/add_shortcuts.exe" \
    -DREMOVE_SHORTCUTS="$scratch/programs/remove_shortcuts/remove_shortcuts.exe" \
    -DRELINFO="$top/examples/nsis/relinfo.xml" -DOUTFILE="$scratch/Vortasim-18.1-setup.exe" \
    -DINSTKIT_LICENSE="$top/LICENSE" -DINSTKIT_NOTICES="$build/packaging/THIRD-PARTY-NOTICES.txt" \
    "$top/examples/nsis/sample_suite.nsi" >makensis.log 2>&1 || cat makensis.log
  expect "uninstaller and installer signed by the SIGN hook" "$(grep -c ': signed (' makensis.log)" 2
  expect "the example installer verified against the authority" \
    "$(osslsigncode verify -CAfile ca.pem -in Vortasim-18.1-setup.exe >/dev/null 2>&1 && echo passes || echo fails)" \
    passes
fi

# Failures: one line, exit code 1, nothing written, the unsigned files as they were.
failure() { # WHAT EXPECTED-LINE SIGN-ARGUMENTS...
  local what=$1 line=$2 code=0
  shift 2
  rm -rf out && mkdir out
  cp "$scratch/programs/add_shortcuts/add_shortcuts.exe" installer.exe
  cp "$unsigned" unsigned.zip
  "${sign[@]}" "$@" --out out unsigned.zip >stdout 2>stderr || code=$?
  expect "$what: exit code" "$code" 1
  expect "$what: the line" "$(cat stdout stderr)" "sign.sh: $line"
  expect "$what: nothing written" "$(ls out) $(sha256sum <unsigned.zip)" " $unsigned_sum"
  # The same key signing a file in place leaves it as it was.
  before=$(sha256sum <installer.exe)
  code=0
  "${sign[@]}" "$@" --file installer.exe >/dev/null 2>&1 || code=$?
  expect "$what: file signed in place as it was" "$code $(sha256sum <installer.exe)" "1 $before"
}
printf 'not the password\n' >wrong
failure "wrong password" "wrong password for signer.p12" --pkcs12 signer.p12 --password-file wrong
failure "missing key file" "no key file at missing.p12" --pkcs12 missing.p12 --password-file password
failure "expired certificate" \
  "the certificate \"CN = instkit test signer\" expired on $(date -u -d "$(openssl x509 -in \
    signer-1.pem -noout -enddate | cut -d= -f2)" '+%F %T UTC')" \
  --pkcs12 expired.p12 --password-file password
expect "unsigned release archive unchanged" "$(sha256sum <"$unsigned")" "$unsigned_sum"

expect_all_met "signed release"
