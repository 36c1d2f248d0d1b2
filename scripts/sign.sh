#!/usr/bin/env bash
# Signs a release with Authenticode (SHA-256, osslsigncode), leaving the unsigned release as it is.
#
#   sign.sh KEY [--timestamp URL] [--time EPOCH] [--out DIR] ARCHIVE
#       signs every program of a release archive (instkit-<version>-win32.zip, as cpack packs it:
#       each entry named *.exe or *.dll) and writes into DIR (default: beside ARCHIVE) the signed
#       archive instkit-<version>-win32-signed.zip and each program's detached signature,
#       <program>.sig (PKCS#7, PEM): add_shortcuts.exe.sig, remove_shortcuts.exe.sig and
#       check_shortcuts.exe.sig. The signed archive is the unsigned one with the signed programs in
#       place of the unsigned ones, packed the same way (same entries, order, time and modes), so a
#       rebuild of the sources with the published signatures attached gives it back byte for byte
#       (scripts/verify_release.sh).
#   sign.sh KEY [--timestamp URL] [--time EPOCH] --file FILE...
#       signs each file in place: an installer, an uninstaller, an .msi.
#   sign.sh --signatures DIR [--out DIR] ARCHIVE
#       makes the signed archive from an unsigned one and the detached signatures in DIR, without
#       a key (scripts/verify_release.sh does this with a rebuild's archive); a signature that does
#       not belong to its program, or whose certificates do not verify, is a failure. DIR is
#       outside input: only DIR/<program>.sig is read for each program of the archive, a plain
#       file (never a symbolic link) of at most 256 KiB, or the signing fails; any other *.sig
#       there is named on stderr and ignored.
#
# The archive is outside input too: packaging/unpack_zip.py checks every entry before anything
# is unpacked, and a hostile one (a name that climbs out, a link, a zip bomb...) is refused with
# its entry named.
#
# KEY is one of
#   --pkcs12 FILE                  a PKCS#12 file holding the key, its certificate and the chain
#   --pkcs11-module LIBRARY --key ID (--cert ID | --certs FILE)
#                                  a PKCS#11 token, through OpenSSL's pkcs11 engine (package
#                                  libengine-pkcs11-openssl): the key and the certificate on the
#                                  token, or the certificate chain from a file
# The password of the PKCS#12 file, or the token's PIN, comes from --password-file FILE or from
# the environment variable INSTKIT_SIGN_PASSWORD, never from the command line. The variable is
# read once, before anything else, and taken out of the environment, so that no program this
# script starts sees it; the password reaches osslsigncode through the file or a pipe, never as
# an argument.
# --timestamp URL has an RFC 3161 time-stamp server countersign each signature; --time EPOCH
# fixes the signing time (seconds since 1970), so that signing twice gives the same bytes.
#
# Nothing is written until everything has succeeded: every file is made in a private folder
# (mktemp -d) inside the folder it goes to, and renamed into place at the end, which replaces a
# symbolic link found there instead of following it; should one of those renames fail, the ones
# before it are undone. On any failure the output folders hold what they held before. Every
# certificate of a signature must verify (openssl verify: its issuer's signature and its dates,
# up to an authority the signature carries or the system trusts) now, and at --time when given.
# A failure ends with one line on stderr and exit code 1.
set -euo pipefail
password=${INSTKIT_SIGN_PASSWORD-} password_set=${INSTKIT_SIGN_PASSWORD+set}
unset INSTKIT_SIGN_PASSWORD
top=$(cd "$(dirname "$0")/.." && pwd)
me=${0##*/}

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

# Private folders: private_in DIR makes one inside DIR (at most one per folder) and names it in
# $private; all of them go when the script ends. Files there stay unreadable to others.
umask 077
declare -A privates=()
work=''
trap 'for d in "${privates[@]}"; do rm -rf -- "$d"; done' EXIT
private_in() {
  local dir
  dir=$(realpath -e -- "$1" 2>/dev/null) && [ -d "$dir" ] || fail "no folder at $1"
  if [ -z "${privates[$dir]+set}" ]; then
    privates[$dir]=$(mktemp -d -- "$dir/.sign.XXXXXXXX" 2>/dev/null) || fail "cannot write in $1"
  fi
  private=${privates[$dir]}
}

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
  elif [ -z "$password_set" ]; then
    fail "no password: give --password-file FILE or set INSTKIT_SIGN_PASSWORD"
  else
    key_args+=(-readpass /dev/stdin)
  fi
fi
sign_args=(-h sha256)
[ -z "$timestamp" ] || sign_args+=(-ts "$timestamp")
[ -z "$time" ] || sign_args+=(-time "$time")

# run_osslsigncode ARGUMENTS...: osslsigncode with the password on its standard input when it
# comes from the environment; its messages go to $work/messages.
run_osslsigncode() {
  if [ -z "$signatures" ] && [ -z "$password_file" ]; then
    printf '%s' "$password" | osslsigncode "$@" >"$work/messages" 2>&1
  else
    osslsigncode "$@" </dev/null >"$work/messages" 2>&1
  fi
}

# authorities SIGNATURE: writes the certificates the signature carries to $work/chain.pem and,
# with the authorities the system trusts, to $work/authorities.pem.
authorities() {
  openssl pkcs7 -in "$1" -print_certs -out "$work/chain.pem" 2>/dev/null ||
    fail "${1##*/} is not a signature"
  cat "$work/chain.pem" >"$work/authorities.pem"
  if [ -r /etc/ssl/certs/ca-certificates.crt ]; then
    cat /etc/ssl/certs/ca-certificates.crt >>"$work/authorities.pem"
  fi
}

# check_certificates SIGNATURE: openssl verifies every certificate the signature carries, its
# issuer's signature on it and its dates up to a trusted authority, now and at the fixed signing
# time when there is one.
check_certificates() {
  local report subject code reason file date
  authorities "$1"
  rm -f "$work"/certificate-*
  csplit -s -z -f "$work/certificate-" "$work/chain.pem" '/-----BEGIN/' '{*}'
  for file in "$work"/certificate-*; do
    grep -q -- '-----BEGIN CERTIFICATE' "$file" || rm -f "$file"
  done
  for at in '' ${time:+"$time"}; do
    report=$(openssl verify -CAfile "$work/authorities.pem" -untrusted "$work/chain.pem" \
      ${at:+-attime "$at"} "$work"/certificate-* 2>&1) && continue
    # A certificate that fails shows as its subject, "error N at 0 depth lookup: REASON" and
    # "error FILE: verification failed".
    read -r code reason < <(sed -n 's/^error \([0-9]*\) at 0 depth lookup: /\1 /p' <<<"$report" |
      head -1) || fail "the certificates of the signature made with $key_name do not verify"
    subject=$(grep -B1 -m1 "^error $code at 0 depth lookup:" <<<"$report" | head -1)
    file=$(grep -A1 -m1 "^error $code at 0 depth lookup:" <<<"$report" | tail -1 |
      sed 's/^error \(.*\): verification failed$/\1/')
    case $code in
      10)
        date=$(openssl x509 -in "$file" -noout -enddate | cut -d= -f2)
        fail "the certificate \"$subject\" expired on $(date -u -d "$date" '+%F %T UTC')"
        ;;
      9)
        date=$(openssl x509 -in "$file" -noout -startdate | cut -d= -f2)
        fail "the certificate \"$subject\" is not valid before $(date -u -d "$date" '+%F %T UTC')"
        ;;
      *) fail "the certificate \"$subject\" does not verify: $reason" ;;
    esac
  done
}

# sign_file INPUT OUTPUT: signs INPUT into OUTPUT and its detached signature into OUTPUT.sig, and
# checks the certificates.
sign_file() {
  local reason
  if ! run_osslsigncode sign "${key_args[@]}" "${sign_args[@]}" -in "$1" -out "$2" || [ ! -s "$2" ]; then
    if grep -qi 'wrong password\|mac verify failure\|incorrect password\|pin incorrect' \
      "$work/messages"; then
      fail "wrong password for $key_name"
    fi
    reason=$(grep -v '^\(Failed\|Succeeded\)$' "$work/messages" | head -1)
    fail "could not sign ${1##*/} with $key_name: ${reason:-osslsigncode failed}"
  fi
  osslsigncode extract-signature -pem -in "$2" -out "$2.sig" >/dev/null 2>&1 ||
    fail "could not read back the signature of ${1##*/}"
  check_certificates "$2.sig"
}

# put_in_place SOURCE DEST...: renames each SOURCE (in the private folder of its DEST's folder)
# onto its DEST, all or none. What each DEST held is kept first as a hard link (or copy) in that
# private folder; when a rename fails, the ones before it are undone.
put_in_place() {
  local sources=() dests=() backups=() i j backup
  while [ $# -gt 0 ]; do
    sources+=("$1") dests+=("$2") backups+=("${1%/*}/before-${#sources[@]}")
    shift 2
  done
  for i in "${!dests[@]}"; do
    if [ -L "${dests[$i]}" ] || { [ -e "${dests[$i]}" ] && [ ! -d "${dests[$i]}" ]; }; then
      { ln -P -- "${dests[$i]}" "${backups[$i]}" || cp -a -- "${dests[$i]}" "${backups[$i]}"; } \
        2>/dev/null || fail "cannot write ${dests[$i]}"
    fi
  done
  for i in "${!sources[@]}"; do
    mv -T -f -- "${sources[$i]}" "${dests[$i]}" 2>/dev/null && continue
    for ((j = i - 1; j >= 0; j--)); do
      backup=${backups[$j]}
      if [ -e "$backup" ] || [ -L "$backup" ]; then
        mv -T -f -- "$backup" "${dests[$j]}"
      else
        rm -f -- "${dests[$j]}"
      fi
    done
    fail "cannot write ${dests[$i]}"
  done
}

# --- Files signed in place. ---
if [ "$files" = yes ]; then
  [ -z "$signatures" ] || fail "--file signs with a key, not with --signatures"
  renames=() lines=()
  for i in "${!args[@]}"; do
    file=${args[$i]}
    [ -f "$file" ] || fail "no file at $file"
    private_in "$(dirname -- "$file")"
    work=${work:-$private}
    sign_file "$file" "$private/file-$i"
    chmod --reference="$file" -- "$private/file-$i"
    before=$(stat -c %s -- "$file") after=$(stat -c %s -- "$private/file-$i")
    renames+=("$private/file-$i" "$file")
    lines+=("$file: signed ($before + $((after - before)) bytes)")
  done
  put_in_place "${renames[@]}"
  printf '%s\n' "${lines[@]}"
  exit 0
fi

# --- A release archive. ---
[ ${#args[@]} -eq 1 ] || fail "name one release archive"
archive=${args[0]}
[ -f "$archive" ] || fail "no release archive at $archive"
archive=$(realpath "$archive")
[ -n "$out" ] || out=$(dirname "$archive")
private_in "$out"
out=$(realpath -- "$out")
work=$private
signed_name=$(basename "$archive" .zip)-signed.zip

# The archive's entries in their order, unpacked, and the one time they all carry. The archive is
# outside input: packaging/unpack_zip.py checks every entry before it writes anything, and writes
# only inside the folder it makes; a refusal names the entry.
unpack() {
  python3 "$top/packaging/unpack_zip.py" "$@" 2>"$work/messages" ||
    fail "$(sed -n '1{s/^unpack_zip\.py: //;p}' "$work/messages")"
}
unpack --list "$archive" >"$work/entries"
unpack "$archive" "$work/tree"
epoch=$(python3 "$top/packaging/write_zip.py" --time "$archive" 2>/dev/null) ||
  fail "cannot read $archive"
# Packed again as it stands, the archive must come back byte for byte: then the signed archive
# differs from it in the programs only.
(cd "$work/tree" && python3 "$top/packaging/write_zip.py" "$work/repacked.zip" "$epoch" \
  "$work/entries" 2>"$work/messages") || fail "cannot pack $archive again"
cmp -s "$archive" "$work/repacked.zip" ||
  fail "$archive is not a release archive as cpack packs it (packing it again changes it)"

# Every program the archive carries, each under a name of its own.
mapfile -t entries < <(grep -i '\.\(exe\|dll\)$' "$work/entries")
[ ${#entries[@]} -gt 0 ] || fail "$archive holds no program"
duplicate=$(printf '%s\n' "${entries[@]##*/}" | sort | uniq -d | head -1)
[ -z "$duplicate" ] || fail "$archive holds two programs named $duplicate"

# The detached signatures are outside input too. Only <program>.sig for each program of the
# archive is read: a plain file (a symbolic link is not followed), of at most max_signature bytes;
# anything else makes the signing fail. Any other *.sig in the folder is named and ignored; files
# of other names are not looked at.
max_signature=$((256 * 1024))
if [ -n "$signatures" ]; then
  [ -d "$signatures" ] || fail "no folder at $signatures"
  declare -A wanted=()
  for entry in "${entries[@]}"; do wanted[${entry##*/}.sig]=1; done
  while IFS= read -r -d '' found; do
    name=${found##*/}
    [ -z "${wanted[$name]+set}" ] || continue
    printf '%s: ignored %q in %s: not the signature of a program of %s\n' "$me" "$name" \
      "$signatures" "${archive##*/}" >&2
  done < <(find "$signatures" -mindepth 1 -maxdepth 1 -iname '*.sig' -print0)
fi
# read_signature NAME COPY: the signature NAME from the signatures folder, copied to COPY.
read_signature() {
  local from=$signatures/$1 size
  [ ! -L "$from" ] || fail "$from is a symbolic link: refused"
  [ -e "$from" ] || fail "no signature at $from"
  [ -f "$from" ] || fail "$from is not a plain file: refused"
  size=$(stat -c %s -- "$from")
  [ "$size" -le "$max_signature" ] || fail "$from is larger than $max_signature bytes: refused"
  # Read at most one byte more than allowed, should the file have changed since.
  head -c $((max_signature + 1)) -- "$from" >"$2" </dev/null
  [ "$(stat -c %s -- "$2")" -le "$max_signature" ] ||
    fail "$from is larger than $max_signature bytes: refused"
}

renames=()
for entry in "${entries[@]}"; do
  program=${entry##*/}
  unsigned=$work/tree/$entry
  signed=$work/$program
  if [ -n "$signatures" ]; then
    read_signature "$program.sig" "$signed.sig"
  else
    sign_file "$unsigned" "$signed"
    renames+=("$signed.sig" "$out/$program.sig")
  fi
  # Attaching the signature to the unsigned program gives the signed program: this is what a
  # verification does with a rebuild. osslsigncode checks there that the signature is the
  # program's, and its certificate chain, up to the authorities the signature carries or the
  # system trusts.
  authorities "$signed.sig"
  run_osslsigncode attach-signature -sigin "$signed.sig" -CAfile "$work/authorities.pem" \
    -TSA-CAfile "$work/authorities.pem" -in "$unsigned" -out "$signed.attached" &&
    [ -s "$signed.attached" ] || fail "the signature $program.sig does not verify on $program"
  if [ -n "$signatures" ]; then
    mv "$signed.attached" "$signed"
  else
    cmp -s "$signed" "$signed.attached" ||
      fail "the detached signature of $program does not give back the signed program"
  fi
  echo "$program: $(stat -c %s "$unsigned") bytes, signed $(stat -c %s "$signed") bytes"
  cat "$signed" >"$unsigned" # keeps the unpacked program's mode
done
(cd "$work/tree" && python3 "$top/packaging/write_zip.py" "$work/$signed_name" "$epoch" \
  "$work/entries" 2>"$work/messages") || fail "cannot pack $signed_name"

# Everything succeeded: into place, readable by all.
chmod 644 "$work/$signed_name" "$work"/*.sig
put_in_place "${renames[@]}" "$work/$signed_name" "$out/$signed_name"
echo "$out/$signed_name"
