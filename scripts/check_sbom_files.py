#!/usr/bin/env python3
"""Checks a release's SBOM against a tree of the release's files:
  check_sbom_files.py SBOM ROOT
ROOT is an unpacked (unsigned) release archive's top folder, or the files a rebuild staged. Every
shipped file (bin/*.exe, lib/*.a) must be listed in the SBOM, and every file the SBOM lists must
be there with the SBOM's SHA-256 and SHA-512. Prints one line per file; exits 1 when anything
differs."""
import glob
import hashlib
import json
import os
import sys

if len(sys.argv) != 3:
    sys.exit("usage: check_sbom_files.py SBOM ROOT")
sbom, root = sys.argv[1:]
with open(sbom, encoding="utf-8") as text:
    components = json.load(text).get("components", [])
listed = {c["bom-ref"][len("file:"):]: c for c in components
          if c.get("bom-ref", "").startswith("file:")}
shipped = {os.path.relpath(p, root) for p in glob.glob(f"{root}/bin/*.exe") +
           glob.glob(f"{root}/lib/*.a")}
status = 0
for relative in sorted(set(listed) | shipped):
    path = os.path.join(root, relative)
    if relative not in listed:
        print(f"{relative}: shipped, but not in the SBOM")
        status = 1
        continue
    if not os.path.isfile(path):
        print(f"{relative}: in the SBOM, but not among the files")
        status = 1
        continue
    with open(path, "rb") as data:
        content = data.read()
    hashes = {h["alg"]: h["content"] for h in listed[relative].get("hashes", [])}
    wrong = [alg for alg, digest in (("SHA-256", hashlib.sha256), ("SHA-512", hashlib.sha512))
             if hashes.get(alg) != digest(content).hexdigest()]
    if wrong:
        verb = "DIFFERS" if len(wrong) == 1 else "DIFFER"
        print(f"{relative}: the SBOM's {' and '.join(wrong)} {verb} from the file's")
        status = 1
    else:
        print(f"{relative}: SHA-256 and SHA-512 as in the SBOM")
sys.exit(status)
