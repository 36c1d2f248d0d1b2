#!/usr/bin/env python3
"""Writes a zip archive whose bytes depend on nothing but the entries' names, their contents,
whether each is executable, and one time given for all of them:

    write_zip.py ARCHIVE EPOCH LIST

LIST names the files to pack, one a line, relative to the current folder (usually all under one
root folder); they are packed sorted by name, byte for byte. Every entry is deflated, dated at
EPOCH (seconds since 1970, written as UTC, 1980-01-01 at the earliest) and marked rw-r--r--, or
rwxr-xr-x when its owner may execute it, made on Unix; no owner, group, access time or other
extra field is written. So the packing account, its umask, its time zone and its clock, and the
files' own times, change nothing.

    write_zip.py --time ARCHIVE

prints the time of the archive's first entry, as seconds since 1970 (UTC).
"""
import calendar
import os
import stat
import sys
import time
import zipfile


def entry(name, epoch):
    info = zipfile.ZipInfo(name, time.gmtime(max(epoch, 315532800))[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # Unix: the attributes are Unix modes
    mode = 0o755 if os.stat(name).st_mode & stat.S_IXUSR else 0o644
    info.external_attr = (stat.S_IFREG | mode) << 16
    return info


def write(archive, epoch, listing):
    with open(listing, "rb") as lines:
        names = sorted({line.rstrip(b"\n") for line in lines} - {b""})
    with zipfile.ZipFile(archive, "w") as packed:
        for name in map(os.fsdecode, names):
            with open(name, "rb") as content:
                packed.writestr(entry(name, epoch), content.read(), compresslevel=9)


def main(args):
    if len(args) == 2 and args[0] == "--time":
        with zipfile.ZipFile(args[1]) as packed:
            print(calendar.timegm(packed.infolist()[0].date_time))
    elif len(args) == 3 and args[1].isdigit():
        write(args[0], int(args[1]), args[2])
    else:
        sys.exit("usage: write_zip.py ARCHIVE EPOCH LIST | --time ARCHIVE")


if __name__ == "__main__":
    main(sys.argv[1:])
