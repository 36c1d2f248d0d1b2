#!/usr/bin/env bash
# Writes a zip archive whose bytes depend on nothing but the entries' names, their contents,
# whether each is executable, and one time given for all of them:
#   write_zip.sh ARCHIVE EPOCH LIST
# LIST names the files to pack, one a line, relative to the current folder, in archive order.
# Every entry is dated at EPOCH (seconds since 1970, written as UTC) and marked rw-r--r--, or
# rwxr-xr-x when its owner may execute it; no owner, group, access time or other extra field is
# written. So the packing account, its umask, its time zone and its clock change nothing.
# Entries are deflated by gzip, whose trailer also gives each one's CRC-32.
set -euo pipefail
export LC_ALL=C # names are measured in bytes
archive=$1
epoch=$2
list=$3

# Little-endian fields.
hex_bytes() { # VALUE COUNT
  local i
  for ((i = 0; i < $2; i++)); do printf '\\x%02x' $((($1 >> (8 * i)) & 255)); done
}
u16() { printf '%b' "$(hex_bytes "$1" 2)"; }
u32() { printf '%b' "$(hex_bytes "$1" 4)"; }
u32_at() { # FILE OFFSET: the little-endian 32-bit value there
  local b
  read -r -a b < <(od -An -tu1 -j "$2" -N4 "$1")
  echo $((b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24))
}

# MS-DOS date and time of EPOCH in UTC (2-second steps; nothing before 1980 exists there).
read -r year month day hour minute second < <(date -u -d "@$epoch" '+%Y %m %d %H %M %S')
if ((10#$year < 1980)); then
  read -r year month day hour minute second <<<"1980 01 01 00 00 00"
fi
dos_date=$(((10#$year - 1980) << 9 | 10#$month << 5 | 10#$day))
dos_time=$((10#$hour << 11 | 10#$minute << 5 | 10#$second / 2))

# The fields that the local and the central header of an entry share: version needed 2.0, no
# flags, deflated, time, date, CRC, sizes, name length, no extra field.
fields() {
  u16 20 && u16 0 && u16 8 && u16 $dos_time && u16 $dos_date && u32 "$crc" && u32 $packed &&
    u32 "$size" && u16 ${#name} && u16 0
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
: >"$scratch/central"
offset=0
count=0
exec 3>"$archive"
while IFS= read -r name; do
  [ -n "$name" ] || continue
  gzip -n -9 -c -- "$name" >"$scratch/entry.gz"
  packed=$(($(stat -c %s "$scratch/entry.gz") - 18)) # less gzip's 10-byte header, 8-byte trailer
  crc=$(u32_at "$scratch/entry.gz" $((packed + 10)))
  size=$(stat -c %s -- "$name")
  if (($(stat -c '0x%f' -- "$name") & 0100)); then
    attributes=$((0100755 << 16))
  else
    attributes=$((0100644 << 16))
  fi
  {
    u32 0x04034b50
    fields
    printf '%s' "$name"
    tail -c +11 "$scratch/entry.gz" | head -c $packed
  } >&3
  {
    u32 0x02014b50
    u16 0x0314 # made by: Unix, zip 2.0 (the attributes are Unix modes)
    fields
    u16 0 && u16 0 && u16 0 # no comment, disk 0, no internal attributes
    u32 $attributes
    u32 $offset
    printf '%s' "$name"
  } >>"$scratch/central"
  offset=$((offset + 30 + ${#name} + packed))
  count=$((count + 1))
done <"$list"
cat "$scratch/central" >&3
central_size=$(stat -c %s "$scratch/central")
{
  u32 0x06054b50
  u16 0 && u16 0 && u16 $count && u16 $count
  u32 "$central_size"
  u32 $offset
  u16 0
} >&3
exec 3>&-
