#!/usr/bin/env python3
"""Unpacks a zip archive that comes from outside (a published release, say), or reads it without
unpacking, checking every entry before anything is written:

    unpack_zip.py ARCHIVE FOLDER        makes FOLDER (it must not exist) and unpacks into it
    unpack_zip.py --list ARCHIVE        prints the entries' names, one a line, in their order
    unpack_zip.py --member ARCHIVE NAME writes the entry NAME's bytes to standard output

Every mode first reads the whole archive and refuses it, with one line naming the entry and exit
code 1, when any entry
  - has a name that is empty, absolute (/...), starts with a drive (C:), holds a backslash, a
    colon or a control character, or has a "..", "." or empty component;
  - has a name that differs from another entry's only in case, in Unicode normalisation (NFC or
    NFKC) or in the folders its path implies (a file where another entry needs a folder);
  - is a symbolic link, or anything but a plain file or a folder (Unix modes in its attributes);
  - is encrypted, or compressed otherwise than stored or deflated;
  - yields, unpacked, more or fewer bytes than its header declares, or fails its CRC;
or when the archive holds more than MAX_ENTRIES (1000) entries or declares more than MAX_BYTES
(64 MiB) unpacked in all (a zip bomb). Nothing is written until every entry has passed; should
unpacking still fail, FOLDER is removed. Files are written only inside FOLDER, each created new
(never through an existing name), rw-r--r--, or rwxr-xr-x when the entry's Unix mode lets its
owner execute it, less the umask.
"""
import os
import shutil
import stat
import struct
import sys
import unicodedata
import zipfile
import zlib

MAX_ENTRIES = 1000
MAX_BYTES = 64 * 1024 * 1024
CHUNK = 64 * 1024


class Refused(Exception):
    pass


def shown(name):
    """The name as one line can show it: control characters escaped."""
    return "".join(c if c.isprintable() else f"\\x{ord(c):02x}" for c in name)


def refuse(info, reason):
    raise Refused(f'entry "{shown(info.filename)}": {reason}')


def check_name(info):
    name = info.filename
    if name == "":
        refuse(info, "an empty name")
    if name.startswith("/"):
        refuse(info, "an absolute name")
    if len(name) >= 2 and name[1] == ":" and name[0].isalpha():
        refuse(info, "a name with a drive")
    if "\\" in name:
        refuse(info, "a backslash in its name")
    if ":" in name:
        refuse(info, "a colon in its name")
    if any(not c.isprintable() for c in name):
        refuse(info, "a control character in its name")
    parts = name[:-1].split("/") if info.is_dir() else name.split("/")
    if ".." in parts:
        refuse(info, 'a ".." component')
    if "." in parts or "" in parts:
        refuse(info, 'a "." or empty component')
    return parts


def check_type(info):
    if info.flag_bits & 0x1:
        refuse(info, "encrypted")
    if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
        refuse(info, f"compressed with method {info.compress_type}")
    if info.compress_type == zipfile.ZIP_STORED and info.compress_size != info.file_size:
        refuse(info, "stored, with a packed size other than its size")
    # The file type in the Unix mode, when the archive was made on Unix and gives one.
    kind = stat.S_IFMT(info.external_attr >> 16) if info.create_system == 3 else 0
    if kind == stat.S_IFLNK:
        refuse(info, "a symbolic link")
    if info.is_dir():
        if kind not in (0, stat.S_IFDIR):
            refuse(info, "a folder's name on something that is not a folder")
        if info.file_size:
            refuse(info, "a folder with content")
    elif kind not in (0, stat.S_IFREG):
        refuse(info, "neither a plain file nor a folder")


def same_path(name):
    """What the name becomes on a file system that folds case and Unicode forms."""
    return unicodedata.normalize("NFKC", unicodedata.normalize("NFKC", name).casefold())


def check_archive(archive):
    """Every entry's name, type and declared size; the entries in their order."""
    entries = archive.infolist()
    if len(entries) > MAX_ENTRIES:
        refuse(entries[MAX_ENTRIES], f"one of {len(entries)}, more than the {MAX_ENTRIES} allowed")
    total = 0
    seen = {}  # each path, files' and folders' (named or implied), by same_path
    for info in entries:
        parts = check_name(info)
        check_type(info)
        total += info.file_size
        if total > MAX_BYTES:
            refuse(info, f"more than the {MAX_BYTES} bytes allowed unpacked, with those before it")
        for depth in range(1, len(parts) + 1):
            path = "/".join(parts[:depth])
            is_file = depth == len(parts) and not info.is_dir()
            key = same_path(path)
            if key not in seen:
                seen[key] = (path, info, is_file)
                continue
            other_path, other, other_is_file = seen[key]
            other = shown(other.filename)
            if other_path != path:
                refuse(info, f'a path that differs from entry "{other}" only in case or form')
            if other_is_file and not is_file:
                refuse(info, f'below entry "{other}", a file')
            if is_file:
                refuse(info, f'a path that entry "{other}" takes already')
    return entries


def data_offset(stream, info):
    stream.seek(info.header_offset)
    header = stream.read(30)
    if len(header) != 30 or header[:4] != b"PK\x03\x04":
        refuse(info, "no local header where the directory says")
    method, name_length, extra_length = struct.unpack("<8xH16xHH", header)
    if method != info.compress_type:
        refuse(info, "a local header that disagrees with the directory")
    return info.header_offset + 30 + name_length + extra_length


def content(stream, info):
    """The entry's bytes, in chunks, checked against its size and CRC as they come."""
    stream.seek(data_offset(stream, info))
    left = info.compress_size
    inflate = zlib.decompressobj(-15) if info.compress_type == zipfile.ZIP_DEFLATED else None
    produced = crc = 0
    while True:
        packed = stream.read(min(CHUNK, left)) if left else b""
        left -= len(packed)
        if left and not packed:
            refuse(info, "the archive ends inside it")
        if inflate:
            # At most one byte more than declared, so that a lie is seen without inflating a bomb.
            data = inflate.decompress(inflate.unconsumed_tail + packed,
                                      info.file_size - produced + 1)
        else:
            data = packed
        produced += len(data)
        if produced > info.file_size:
            refuse(info, f"more bytes than the {info.file_size} its header declares")
        crc = zlib.crc32(data, crc)
        if data:
            yield data
        elif not left and not (inflate and inflate.unconsumed_tail):
            break
    if inflate and not inflate.eof:
        refuse(info, "a compressed stream that does not end")
    if inflate and inflate.unused_data:
        refuse(info, "bytes after the end of its compressed stream")
    if produced != info.file_size:
        refuse(info, f"{produced} bytes, not the {info.file_size} its header declares")
    if crc != info.CRC:
        refuse(info, "a CRC other than its header's")


def checked(path):
    """The archive's file, open, and its entries, every one read through and checked."""
    try:
        stream = open(path, "rb")
        entries = check_archive(zipfile.ZipFile(stream))
    except (OSError, zipfile.BadZipFile, ValueError) as error:
        raise Refused(f"not a zip archive that can be read ({error})")
    for info in entries:
        for _ in content(stream, info):
            pass
    return stream, entries


def unpack(stream, entries, folder):
    """Writes the checked entries into FOLDER, which it makes; removes it when anything fails."""
    os.mkdir(folder)
    try:
        for info in entries:
            target = os.path.join(folder, *info.filename.rstrip("/").split("/"))
            if info.is_dir():
                os.makedirs(target, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(target), exist_ok=True)
            mode = info.external_attr >> 16 if info.create_system == 3 else 0
            mode = 0o755 if mode & stat.S_IXUSR else 0o644
            out = os.open(target, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, mode)
            with os.fdopen(out, "wb") as written:
                for data in content(stream, info):
                    written.write(data)
    except BaseException:
        shutil.rmtree(folder, ignore_errors=True)
        raise


def main(args):
    me = os.path.basename(sys.argv[0])
    if len(args) == 2 and args[0] == "--list":
        mode, archive = "list", args[1]
    elif len(args) == 3 and args[0] == "--member":
        mode, archive = "member", args[1]
    elif len(args) == 2 and not args[0].startswith("-"):
        mode, archive = "unpack", args[0]
    else:
        print(f"usage: {me} ARCHIVE FOLDER | --list ARCHIVE | --member ARCHIVE NAME",
              file=sys.stderr)
        sys.exit(2)
    if mode == "unpack" and os.path.lexists(args[1]):
        print(f"{me}: {args[1]} exists already: name a folder to make", file=sys.stderr)
        sys.exit(1)
    try:
        stream, entries = checked(archive)
        if mode == "list":
            for info in entries:
                print(info.filename)
        elif mode == "member":
            found = [info for info in entries if info.filename == args[2]]
            if not found or found[0].is_dir():
                raise Refused(f'no file entry "{shown(args[2])}"')
            for data in content(stream, found[0]):
                sys.stdout.buffer.write(data)
        else:
            unpack(stream, entries, args[1])
    except Refused as reason:
        print(f"{me}: {archive}: refused: {reason}", file=sys.stderr)
        sys.exit(1)
    except BrokenPipeError:
        # Whoever read the member stopped early (cmp at the first difference): not an error here.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
    except OSError as error:
        print(f"{me}: {archive}: {error}", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main(sys.argv[1:])
