#!/usr/bin/env python3
"""Checks a release's SBOM against a tree of the release's files:
  check_sbom_files.py SBOM ROOT
ROOT is an unpacked (unsigned) release archive's top folder, or the files a rebuild staged. Every
shipped file (bin/*.exe, lib/*.a) must be listed in the SBOM, and every file the SBOM lists must
be there with the SBOM's SHA-256 and SHA-512. Prints one line per file; exits 1 when anything
differs.
The SBOM is outside input: a name it gives is looked for only inside ROOT. A name that is empty,
absolute, starts with a drive, holds a backslash, a colon or a control character, or has a "..",
"." or empty component is refused, and so is a name that reaches a symbolic link or anything but
a plain file inside ROOT: links are never followed. Each refusal is a line naming the name."""
import errno
import hashlib
import json
import os
import stat
import sys


class Refused(Exception):
    pass


def shown(name):
    return "".join(c if c.isprintable() else f"\\x{ord(c):02x}" for c in name)


def parts_of(name):
    """The name's components, when it names a path inside the root."""
    if name == "":
        raise Refused("an empty name")
    if name.startswith("/"):
        raise Refused("an absolute name")
    if len(name) >= 2 and name[1] == ":" and name[0].isalpha():
        raise Refused("a name with a drive")
    if "\\" in name:
        raise Refused("a backslash in the name")
    if ":" in name or any(not c.isprintable() for c in name):
        raise Refused("a colon or a control character in the name")
    parts = name.split("/")
    if ".." in parts:
        raise Refused('a ".." component')
    if "." in parts or "" in parts:
        raise Refused('a "." or empty component')
    return parts


def read_inside(root, name):
    """The content of the plain file NAME below ROOT, or None when there is none; no link on the
    way is followed."""
    parts = parts_of(name)
    descriptors = [os.open(root, os.O_RDONLY | os.O_DIRECTORY)]
    try:
        for index, part in enumerate(parts):
            last = index == len(parts) - 1
            flags = os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | (0 if last else os.O_DIRECTORY)
            try:
                descriptors.append(os.open(part, flags, dir_fd=descriptors[-1]))
            except FileNotFoundError:
                return None
            except OSError as error:
                if error.errno in (errno.ELOOP, errno.ENOTDIR) and os.path.islink(
                        os.path.join(root, *parts[:index + 1])):
                    raise Refused(f'"{"/".join(parts[:index + 1])}" is a symbolic link')
                if error.errno == errno.ENOTDIR:
                    return None
                raise
        if not stat.S_ISREG(os.fstat(descriptors[-1]).st_mode):
            raise Refused("not a plain file")
        with os.fdopen(descriptors.pop(), "rb") as data:
            return data.read()
    finally:
        for descriptor in descriptors:
            os.close(descriptor)


def shipped_files(root):
    """bin/*.exe and lib/*.a below ROOT, by name; links among them are reported, not followed."""
    found = set()
    for folder, suffix in (("bin", ".exe"), ("lib", ".a")):
        path = os.path.join(root, folder)
        if os.path.islink(path) or not os.path.isdir(path):
            continue
        found.update(f"{folder}/{entry.name}" for entry in os.scandir(path)
                     if entry.name.endswith(suffix))
    return found


def main(args):
    if len(args) != 2:
        sys.exit("usage: check_sbom_files.py SBOM ROOT")
    sbom, root = args
    with open(sbom, encoding="utf-8") as text:
        components = json.load(text).get("components", [])
    listed = {c["bom-ref"][len("file:"):]: c for c in components
              if isinstance(c, dict) and str(c.get("bom-ref", "")).startswith("file:")}
    status = 0
    for relative in sorted(set(listed) | shipped_files(root)):
        try:
            content = read_inside(root, relative)
        except Refused as reason:
            print(f'"{shown(relative)}": refused: {reason}')
            status = 1
            continue
        if relative not in listed:
            print(f"{relative}: shipped, but not in the SBOM")
            status = 1
            continue
        if content is None:
            print(f"{relative}: in the SBOM, but not among the files")
            status = 1
            continue
        hashes = {h.get("alg"): h.get("content") for h in listed[relative].get("hashes", [])
                  if isinstance(h, dict)}
        wrong = [alg for alg, digest in (("SHA-256", hashlib.sha256), ("SHA-512", hashlib.sha512))
                 if hashes.get(alg) != digest(content).hexdigest()]
        if wrong:
            verb = "DIFFERS" if len(wrong) == 1 else "DIFFER"
            print(f"{relative}: the SBOM's {' and '.join(wrong)} {verb} from the file's")
            status = 1
        else:
            print(f"{relative}: SHA-256 and SHA-512 as in the SBOM")
    sys.exit(status)


if __name__ == "__main__":
    main(sys.argv[1:])
