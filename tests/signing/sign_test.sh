#!/usr/bin/env bash
# Signing a release (scripts/sign.sh) with a throwaway certificate authority made here: every
# program of the archive is signed and verifies against it, and one changed byte breaks that; the
# PE checksum is valid; a rebuild with the published signatures attached is the signed release,
# byte for byte (scripts/verify_release.sh); symbolic links planted where the script writes are
# replaced, never followed; no program the script starts sees the password; a wrong password, a
# missing key file, an expired certificate, a chain whose authority did not sign it, a signature
# that is not its program's and a failure at the last rename each end with one line and exit
# code 1 and leave the output folder as it was. Leaves in SCRATCH (a folder of the suite's own),
# for the tests that follow, programs/ (the signed programs and their link maps, laid out as in
# the build tree, for the image test) and, with MAKENSIS, Vortasim-18.1-setup.exe: the example
# installer made from the signed programs and signed itself, uninstaller included, through the
# example's SIGN hook.
#   sign_test.sh BUILD_TREE SCRATCH [MAKENSIS]
# BUILD_TREE is a 32-bit release build tree, whose release archive is signed.
set -euo pipefail
build=$(realpath "$1") makensis=${3:-}
scratch=$(realpath -m "$2")
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
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 \
  -extfile signer.ext -out signer1.pem 2>/dev/null
# An expired certificate: OpenSSL 3.0 (Debian 12) takes -days -1; 3.5 (Debian 13) refuses that and
# takes the dates themselves.
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days -1 \
  -extfile signer.ext -out signer-1.pem 2>/dev/null ||
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
    -not_before "$(date -u -d '2 days ago' +%Y%m%d%H%M%SZ)" \
    -not_after "$(date -u -d '1 day ago' +%Y%m%d%H%M%SZ)" \
    -extfile signer.ext -out signer-1.pem 2>/dev/null
printf 'test password\n' >password
openssl pkcs12 -export -inkey signer.key -in signer1.pem -certfile ca.pem -passout file:password \
  -out signer.p12
openssl pkcs12 -export -inkey signer.key -in signer-1.pem -certfile ca.pem -passout file:password \
  -out expired.p12
# An impostor of the authority: its name and key identifier, another key.
openssl req -x509 -newkey rsa:2048 -nodes -keyout impostor.key -out impostor.pem -days 1 \
  -subj "/CN=instkit test authority" -addext basicConstraints=critical,CA:true \
  -addext keyUsage=critical,keyCertSign -addext "subjectKeyIdentifier=$(openssl x509 -in ca.pem \
    -noout -ext subjectKeyIdentifier | tail -1 | tr -d ' ')" -addext authorityKeyIdentifier=none \
  2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer1.pem -certfile impostor.pem \
  -passout file:password -out impostor.p12
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
expect "release folder" "$(ls -A release | tr '\n' ' ')" \
  "add_shortcuts.exe.sig check_shortcuts.exe.sig $(basename "$signed") remove_shortcuts.exe.sig "
python3 "$top/packaging/unpack_zip.py" "$signed" unpacked
expect "programs in the signed archive" "$(cd unpacked/*/bin && echo *)" \
  "add_shortcuts.exe check_shortcuts.exe remove_shortcuts.exe"
for exe in unpacked/*/bin/*.exe; do
  program=$(basename "$exe" .exe)
  # Where the build tree has it: add_shortcuts/, remove_shortcuts/, tools/. Each program's link
  # map comes along; signing appends the signature and moves no section.
  folder=$(dirname "$(cd "$build" && ls -- */"$program.exe")")
  mkdir -p "programs/$folder"
  cp "$exe" "programs/$folder/"
  if [ -f "$build/$folder/$program.map" ]; then
    cp "$build/$folder/$program.map" "programs/$folder/"
  fi
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
expect "programs and archive identical to the rebuild" "$(grep -c ': identical' <<<"$verify_release")" 4
expect "the release's toolchain is this host's" "$(grep -c '^Toolchain: as the release' <<<"$verify_release")" 1

# A release whose SBOM names another compiler version: no rebuild, and the version is named.
mkdir other-toolchain
python3 - "$signed" "other-toolchain/$(basename "$signed")" <<'EOF'
import re, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as old, zipfile.ZipFile(sys.argv[2], "w") as new:
    for entry in old.infolist():
        data = old.read(entry)
        if entry.filename.endswith(".cdx.json"):
            data = re.sub(rb'("purl": "pkg:deb/debian/g\+\+-mingw-w64-[^@]+@)[^?"]+', rb"\g<1>1.0-other",
                          data)
        new.writestr(entry, data)
EOF
verify_release=$(bash "$top/scripts/verify_release.sh" "other-toolchain/$(basename "$signed")" 2>&1) &&
  code=0 || code=$?
echo "$verify_release"
expect "another compiler: exit code, rebuilds, the version named" \
  "$code $(grep -c '^Building the release' <<<"$verify_release") $(grep -c '^  [^:]*compiler .* 1.0-other in the release, ' <<<"$verify_release")" \
  "1 0 1"

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

# Symbolic links planted at every name the script writes are replaced, not followed: what they
# point to stays as it was, and the files in their place are the release's.
mkdir links
echo 'not to be written' >victim
for name in add_shortcuts.exe.sig check_shortcuts.exe.sig remove_shortcuts.exe.sig \
  "$(basename "$signed")"; do
  ln -s "$scratch/victim" "links/$name"
done
cp "$build/add_shortcuts/add_shortcuts.exe" installer.exe
ln -s "$scratch/victim" installer.exe.signing
code=0
"${sign[@]}" --pkcs12 signer.p12 --password-file password --time "$signing_time" --out links \
  "$unsigned" >/dev/null || code=$?
"${sign[@]}" --pkcs12 signer.p12 --password-file password --file installer.exe >/dev/null ||
  code=$?
expect "signed over symbolic links: exit codes, links left, their target" \
  "$code $(find links installer.exe -type l | wc -l) $(cat victim)" "0 0 not to be written"
expect "signed over symbolic links: the release's files" "$(cd links && sha256sum -- *)" \
  "$(cd release && sha256sum -- *)"

# The password from the environment reaches the signing, and no program the script starts sees it.
mkdir spy
for tool in dirname openssl osslsigncode; do
  printf '#!/bin/sh\nenv >>"%s/spy/environments"\nexec %s "$@"\n' "$scratch" \
    "$(command -v $tool)" >spy/$tool
  chmod +x spy/$tool
done
cp "$build/add_shortcuts/add_shortcuts.exe" installer.exe
code=0
INSTKIT_SIGN_PASSWORD='test password' PATH="$scratch/spy:$PATH" "${sign[@]}" --pkcs12 signer.p12 \
  --file installer.exe >/dev/null || code=$?
expect "signed with the password from the environment" \
  "$code $(osslsigncode verify -CAfile ca.pem -in installer.exe >/dev/null 2>&1 && echo verifies)" \
  "0 verifies"
expect "programs started (at least 3), those that saw the password" \
  "$(($(grep -c '^PATH=' spy/environments) >= 3)) $(grep -c 'test password' spy/environments)" "1 0"

# Failures: one line, exit code 1, the output folder as it was (an earlier release's files in it,
# and whatever PLANT, when set, put there), the unsigned files as they were.
listing() { # FOLDER: each entry's type, mode, name and size, and each file's sha256
  (cd "$1" && find . -printf '%y %m %p %s\n' | sort && find . -type f -exec sha256sum {} + | sort)
}
failure() { # WHAT EXPECTED-LINE SIGN-ARGUMENTS...
  local what=$1 line=$2 code=0 before
  shift 2
  rm -rf out && mkdir out
  for name in add_shortcuts.exe.sig check_shortcuts.exe.sig "$(basename "$signed")"; do
    echo "an earlier release's $name" >"out/$name"
  done
  eval "${plant:-}"
  before=$(listing out)
  cp "$scratch/programs/add_shortcuts/add_shortcuts.exe" installer.exe
  cp "$unsigned" .
  "${sign[@]}" "$@" --out out "$(basename "$unsigned")" >/dev/null 2>stderr || code=$?
  expect "$what: exit code" "$code" 1
  expect "$what: the line" "$(cat stderr)" "sign.sh: $line"
  expect_same_files "$what: the output folder as it was" "$before" "$(listing out)"
  expect "$what: the unsigned archive as it was" "$(sha256sum <"$(basename "$unsigned")")" \
    "$unsigned_sum"
  [[ " $* " != *" --signatures "* ]] && [ -z "${plant:-}" ] || return 0
  # The same key signing a file in place leaves it, and its folder, as they were.
  before=$(listing .)
  code=0
  "${sign[@]}" "$@" --file installer.exe >/dev/null 2>&1 || code=$?
  expect "$what: exit code signing a file in place" "$code" 1
  expect_same_files "$what: the file signed in place as it was" "$before" "$(listing .)"
}
printf 'not the password\n' >wrong
failure "wrong password" "wrong password for signer.p12" --pkcs12 signer.p12 --password-file wrong
failure "missing key file" "no key file at missing.p12" --pkcs12 missing.p12 --password-file password
# The subject as this OpenSSL writes it: "CN = ..." (3.0, Debian 12) or "CN=..." (3.5, Debian 13).
signer_subject=$(openssl x509 -in signer1.pem -noout -subject | sed 's/^subject= *//')
failure "expired certificate" \
  "the certificate \"$signer_subject\" expired on $(date -u -d "$(openssl x509 -in \
    signer-1.pem -noout -enddate | cut -d= -f2)" '+%F %T UTC')" \
  --pkcs12 expired.p12 --password-file password
failure "authority that did not sign the certificate" \
  "the certificate \"$signer_subject\" does not verify: certificate signature failure" \
  --pkcs12 impostor.p12 --password-file password
mkdir swapped
cp release/*.sig swapped/
cp release/check_shortcuts.exe.sig swapped/remove_shortcuts.exe.sig
failure "another program's signature" \
  "the signature remove_shortcuts.exe.sig does not verify on remove_shortcuts.exe" \
  --signatures swapped
# The last step failing: a folder where the signed archive goes; the signatures renamed into
# place before it are put back.
plant='rm "out/$(basename "$signed")" && mkdir "out/$(basename "$signed")"'
failure "the signed archive not written" "cannot write $scratch/out/$(basename "$signed")" \
  --pkcs12 signer.p12 --password-file password
plant=''
expect "unsigned release archive unchanged" "$(sha256sum <"$unsigned")" "$unsigned_sum"

expect_all_met "signed release"
