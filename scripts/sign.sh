#!/usr/bin/env bash
# Signs a release with Authenticode (SHA-256, osslsigncode), leaving the unsigned release as it is.
#
#   sign.sh KEY [--timestamp URL] [--time EPOCH] [--out DIR] ARCHIVE
#       signs the two programs of a release archive (instkit-<version>-win32.zip, as cpack packs
#       it) and writes into DIR (default: beside ARCHIVE) the signed archive
#       instkit-<version>-win32-signed.zip and each program's detached signature,
#       add_shortcuts.exe.sig and remove_shortcuts.exe.sig (PKCS#7, PEM). The signed archive is
#       the unsigned one with the signed programs in place of the unsigned ones, packed the same
#       way (same entries, order, time and modes), so a rebuild of the sources with the published
#       signatures attached gives it back byte for byte (scripts/verify_release.sh).
#   sign.sh KEY [--timestamp URL] [--time EPOCH] --file FILE...
#       signs each file in place: an installer, an uninstaller, an .msi.
#   sign.sh --signatures DIR [--out DIR] ARCHIVE
#       makes the signed archive from an unsigned one and the detached signatures in DIR, without
#       a key (scripts/verify_release.sh does this with a rebuild's archive).
#
# KEY is one of
#   --pkcs12 FILE                  a PKCS#12 file holding the key, its certificate and the chain
#   --pkcs11-module LIBRARY --key ID (--cert ID | --certs FILE)
#                                  a PKCS#11 token, through OpenSSL's pkcs11 engine (package
#                                  libengine-pkcs11-openssl): the key and the certificate on the
#                                  token, or the certificate chain from a file
# The password of the PKCS#12 file, or the token's PIN, comes from --password-file FILE or from
# the environment variable INSTKIT_SIGN_PASSWORD, never from the command line; it reaches
# osslsigncode and openssl through a file or a pipe, never as an argument.
# --timestamp URL has an RFC 3161 time-stamp server countersign each signature; --time EPOCH
# fixes the signing time (seconds since 1970), so that signing twice gives the same bytes.
#
# Nothing is written until everything has succeeded: each file is signed into a private scratch
# folder and moved into place at the end. Every certificate of the signature must be valid now
# (and at --time, when given). A failure ends with one line on stderr and exit code 1.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
me=${0##*/}
programs=(add_shortcuts.exe remove_shortcuts.exe)

fail() {
  echo "$me: $*" >&2
  exit 1
}

pkcs12='' module='' key='' cert='' certs='' password_file='' timestamp='' time='' out=''
signatures='' files=no
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --pkcs12 | --pkcs11-module | --key | --cert | --certs | --password-file | --timestamp | \
      --time | --out | --signatures)
      [ $# -ge 2 ] || fail "$1 needs a value"
      name=${1#--}
      name=${name//-/_}
      name=${name/pkcs11_module/module}
      printf -v "$name" '%s' "$2"
      shift 2
      ;;
    --file)
      files=yes
      shift
      ;;
    -*) fail "unknown option $1" ;;
    *)
      args+=("$1")
      shift
      ;;
  esac
done
[ ${#args[@]} -gt 0 ] || fail "nothing to sign: name a release archive, or --file FILE..."
if [ -z "$signatures" ]; then
  [ -n "$pkcs12$module" ] || fail "no key: give --pkcs12 FILE or --pkcs11-module LIBRARY --key ID"
fi
[ -z "$time" ] || [[ $time =~ ^[0-9]+$ ]] || fail "--time takes seconds since 1970, not '$time'"
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed"

# The private scratch folder: signed files, signatures and osslsigncode's messages stay in it
# until they are moved into place or deleted.
umask 077
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The key's arguments to osslsigncode, and how the password reaches it: a password file is
# read by osslsigncode itself; one from the environment goes through a pipe (printf is a shell
# builtin, so the password appears in no process's arguments).
key_args=()
if [ -z "$signatures" ]; then
  if [ -n "$pkcs12" ]; then
    [ -f "$pkcs12" ] && [ -r "$pkcs12" ] || fail "no key file at $pkcs12"
    key_args=(-pkcs12 "$pkcs12")
    key_name=$pkcs12
  else
    [ -f "$module" ] || fail "no PKCS#11 module at $module"
    [ -n "$key" ] || fail "--pkcs11-module needs --key ID"
    [ -n "$cert$certs" ] || fail "--pkcs11-module needs --cert ID or --certs FILE"
    [ -z "$certs" ] || [ -r "$certs" ] || fail "no certificate file at $certs"
    key_args=(-pkcs11module "$module" -key "$key")
    if [ -n "$cert" ]; then key_args+=(-pkcs11cert "$cert"); else key_args+=(-certs "$certs"); fi
    key_name="the PKCS#11 key $key"
  fi
  if [ -n "$password_file" ]; then
    [ -f "$password_file" ] && [ -r "$password_file" ] ||
      fail "no password file at $password_file"
    key_args+=(-readpass "$password_file")
  elif [ -z "${INSTKIT_SIGN_PASSWORD+set}" ]; then
    fail "no password: give --password-file FILE or set INSTKIT_SIGN_PASSWORD"
  else
    key_args+=(-readpass /dev/stdin)
  fi
fi
sign_args=(-h sha256)
[ -z "$timestamp" ] || sign_args+=(-ts "$timestamp")
[ -z "$time" ] || sign_args+=(-time "$time")

# run_osslsigncode ARGUMENTS...: osslsigncode with the password on its standard input when it
# comes from the environment; its messages go to $scratch/messages.
run_osslsigncode() {
  if [ -z "$signatures" ] && [ -z "$password_file" ]; then
    printf '%s' "$INSTKIT_SIGN_PASSWORD" | osslsigncode "$@" >"$scratch/messages" 2>&1
  else
    osslsigncode "$@" </dev/null >"$scratch/messages" 2>&1
  fi
}

# epoch_of DATE: seconds since 1970 of a date as openssl prints it.
epoch_of() { date -u -d "$1" +%s; }

# check_certificates SIGNATURE: every certificate the signature carries is valid now, and at the
# fixed signing time when there is one.
check_certificates() {
  local now subject start end
  now=$(date -u +%s)
  openssl pkcs7 -in "$1" -print_certs -out "$scratch/certificates.pem" 2>/dev/null ||
    fail "cannot read the certificates of the signature made with $key_name"
  csplit -s -z -f "$scratch/certificate-" "$scratch/certificates.pem" '/-----BEGIN/' '{*}'
  for certificate in "$scratch"/certificate-*; do
    grep -q -- '-----BEGIN CERTIFICATE' "$certificate" || continue
    subject=$(openssl x509 -in "$certificate" -noout -subject -nameopt oneline | sed 's/^subject= *//')
    start=$(openssl x509 -in "$certificate" -noout -startdate | cut -d= -f2)
    end=$(openssl x509 -in "$certificate" -noout -enddate | cut -d= -f2)
    for at in "$now" ${time:+"$time"}; do
      if ((at >= $(epoch_of "$end"))); then
        fail "the certificate \"$subject\" expired on $(date -u -d "$end" '+%F %T UTC')"
      fi
      if ((at < $(epoch_of "$start"))); then
        fail "the certificate \"$subject\" is not valid before $(date -u -d "$start" '+%F %T UTC')"
      fi
    done
  done
  rm -f "$scratch"/certificate-* "$scratch/certificates.pem"
}

# sign_file INPUT OUTPUT: signs INPUT into OUTPUT (in the scratch folder) and checks the
# certificates.
sign_file() {
  local reason
  if ! run_osslsigncode sign "${key_args[@]}" "${sign_args[@]}" -in "$1" -out "$2" || [ ! -s "$2" ]; then
    if grep -qi 'wrong password\|mac verify failure\|incorrect password\|pin incorrect' \
      "$scratch/messages"; then
      fail "wrong password for $key_name"
    fi
    reason=$(grep -v '^\(Failed\|Succeeded\)$' "$scratch/messages" | head -1)
    fail "could not sign ${1##*/} with $key_name: ${reason:-osslsigncode failed}"
  fi
  osslsigncode extract-signature -pem -in "$2" -out "$2.sig" >/dev/null 2>&1 ||
    fail "could not read back the signature of ${1##*/}"
  check_certificates "$2.sig"
}

# --- Files signed in place. ---
if [ "$files" = yes ]; then
  [ -z "$signatures" ] || fail "--file signs with a key, not with --signatures"
  for i in "${!args[@]}"; do
    [ -f "${args[$i]}" ] || fail "no file at ${args[$i]}"
    sign_file "${args[$i]}" "$scratch/file-$i"
  done
  for i in "${!args[@]}"; do
    file=${args[$i]} signed=$scratch/file-$i
    before=$(stat -c %s "$file")
    { cp "$signed" "$file.signing" && chmod --reference="$file" "$file.signing" &&
      mv -f "$file.signing" "$file"; } 2>/dev/null || fail "cannot write $file"
    echo "$file: signed ($before + $(($(stat -c %s "$file") - before)) bytes)"
  done
  exit 0
fi

# --- A release archive. ---
[ ${#args[@]} -eq 1 ] || fail "name one release archive"
archive=${args[0]}
[ -f "$archive" ] || fail "no release archive at $archive"
archive=$(realpath "$archive")
[ -n "$out" ] || out=$(dirname "$archive")
[ -d "$out" ] || fail "no folder at $out"
signed_name=$(basename "$archive" .zip)-signed.zip

# The archive's entries in their order, unpacked, and the one time they all carry (the MS-DOS
# time and date of the first local header, which packaging/write_zip.sh writes as UTC).
mkdir "$scratch/tree"
cmake -E tar tf "$archive" >"$scratch/entries" 2>/dev/null || fail "cannot read $archive"
(cd "$scratch/tree" && cmake -E tar xf "$archive") || fail "cannot unpack $archive"
read -r dos_time dos_date < <(od -An -tu2 -j10 -N4 "$archive")
epoch=$(date -u -d "$(printf '%04d-%02d-%02d %02d:%02d:%02d' $((1980 + (dos_date >> 9))) \
  $(((dos_date >> 5) & 15)) $((dos_date & 31)) $((dos_time >> 11)) $(((dos_time >> 5) & 63)) \
  $(((dos_time & 31) * 2)))" +%s)
# Packed again as it stands, the archive must come back byte for byte: then the signed archive
# differs from it in the programs only.
(cd "$scratch/tree" && bash "$top/packaging/write_zip.sh" "$scratch/repacked.zip" "$epoch" \
  "$scratch/entries" 2>"$scratch/messages") || fail "cannot pack $archive again"
cmp -s "$archive" "$scratch/repacked.zip" ||
  fail "$archive is not a release archive as cpack packs it (packing it again changes it)"

for program in "${programs[@]}"; do
  entry=$(grep -x "[^/]*/bin/$program" "$scratch/entries") || fail "$archive holds no bin/$program"
  unsigned=$scratch/tree/$entry
  signed=$scratch/$program
  if [ -n "$signatures" ]; then
    [ -f "$signatures/$program.sig" ] || fail "no signature at $signatures/$program.sig"
    cp "$signatures/$program.sig" "$signed.sig"
  else
    sign_file "$unsigned" "$signed"
  fi
  # Attaching the signature to the unsigned program gives the signed program: this is what a
  # verification does with a rebuild. osslsigncode also checks the certificate chain here, against
  # the certificates the signature carries (so that no authorities file need be installed), and
  # says it failed when the chain ends elsewhere; the file it writes is what counts.
  openssl pkcs7 -in "$signed.sig" -print_certs -out "$scratch/chain.pem" 2>/dev/null ||
    fail "$signed.sig is not a signature"
  run_osslsigncode attach-signature -sigin "$signed.sig" -CAfile "$scratch/chain.pem" \
    -TSA-CAfile "$scratch/chain.pem" -in "$unsigned" -out "$signed.attached" || true
  [ -s "$signed.attached" ] || fail "cannot attach $signed.sig to $program"
  if [ -n "$signatures" ]; then
    mv "$signed.attached" "$signed"
  else
    cmp -s "$signed" "$signed.attached" ||
      fail "the detached signature of $program does not give back the signed program"
  fi
  echo "$program: $(stat -c %s "$unsigned") bytes, signed $(stat -c %s "$signed") bytes"
  cp "$signed" "$unsigned" # keeps the unpacked program's mode
done
(cd "$scratch/tree" && bash "$top/packaging/write_zip.sh" "$scratch/$signed_name" "$epoch" \
  "$scratch/entries" 2>"$scratch/messages") || fail "cannot pack $signed_name"

# Everything succeeded: into place.
if [ -z "$signatures" ]; then
  for program in "${programs[@]}"; do
    chmod 644 "$scratch/$program.sig"
    mv -f "$scratch/$program.sig" "$out/$program.sig"
  done
fi
chmod 644 "$scratch/$signed_name"
mv -f "$scratch/$signed_name" "$out/$signed_name"
echo "$out/$signed_name"
