#!/usr/bin/env python3
"""Checks an unpacked release's SBOM and notices against the build's link maps, reading the maps
on its own (not through packaging/third_party.py). scripts/check_sbom_files.py checks the hashes.

  check_sbom_truth.py UNPACKED_ROOT SBOM_NAME BUILD_TREE

Prints one line per finding and a count; exits 1 when anything does not hold."""
import glob
import json
import os
import re
import subprocess
import sys

root, sbom_name, build = sys.argv[1:4]
bom = json.load(open(os.path.join(root, sbom_name), encoding="utf-8"))
notices = open(os.path.join(root, "THIRD-PARTY-NOTICES.txt"), encoding="utf-8").read()
problems = []
checked = 0

components = {c["bom-ref"]: c for c in bom["components"]}
shipped = [os.path.relpath(p, root) for p in glob.glob(f"{root}/bin/*.exe")]

# Each program's runtime inputs, from its link map: archives named at the start of a line (the
# members the linker took) and objects it loaded whole.
depends = {d["ref"]: d.get("dependsOn", []) for d in bom["dependencies"]}
sections = notices.replace("\r\n", "\n").split("=" * 78 + "\n")
mapped = set()
# The build's list of its programs' link maps (NAME=MAP per line).
for line in open(os.path.join(build, "packaging", "link_maps.txt"), encoding="utf-8"):
    program, _, map_file = line.strip().partition("=")
    mapped.add(program)
    text = open(map_file, encoding="utf-8", errors="replace").read()
    inputs = set(re.findall(r"(?m)^(/[^\s(]+\.a)\(", text))
    inputs |= set(re.findall(r"(?m)^LOAD (/\S+\.o)$", text))
    for path in sorted({os.path.realpath(p) for p in inputs}):
        checked += 1
        package = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True,
                                 check=True).stdout.split(":")[0]
        version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                                 capture_output=True, text=True, check=True).stdout
        name = os.path.basename(path)
        parts = [components[ref] for ref in depends.get(f"file:bin/{program}", [])
                 if ref in components]
        found = [p for p in parts if p.get("version") == version and
                 p.get("purl", "").startswith(f"pkg:deb/debian/{package}@") and
                 any(n["name"] == name for n in p.get("components", []))]
        if not found:
            problems.append(f"{program}: {name} ({package} {version}) has no component that "
                            "the program depends on")
        noticed = [s for s in sections if f"Package: {package} {version} " in s and
                   re.search(rf"(?m)^Linked into: .*\b{re.escape(program)}", s) and
                   re.search(rf"(?m)^Taken from: .*\b{re.escape(name)}\b", s)]
        if not noticed:
            problems.append(f"{program}: {name} ({package} {version}) has no part in the notices")

programs = {os.path.basename(p) for p in shipped if p.endswith(".exe")}
if mapped != programs:
    problems.append(f"link maps found for {sorted(mapped)}, programs shipped: {sorted(programs)}")

for problem in problems:
    print(f"FAILED: {problem}")
print(f"SBOM and notices: {checked} facts checked, {len(problems)} wrong")
sys.exit(1 if problems else 0)
