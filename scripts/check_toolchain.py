#!/usr/bin/env python3
"""Compares the toolchain that built a release, as its SBOM records it (the compiler, the linker,
CMake and each runtime part linked into the programs, each with its Debian package and version),
with the packages installed here. A rebuild gives the release's bytes only with the same
compiler, linker and runtime: when any of those differs, it says which, and where a matching
host is to be had.

  check_toolchain.py ARCHIVE [SBOM]

Reads the SBOM from the release archive (without unpacking anything) or, when the archive holds
none, from the file SBOM. Exits with 1 when the compiler, the linker or a runtime part differs,
with 0 otherwise (CMake alone differing is said, and does not stop a rebuild), also when there is
no SBOM to compare with. Whatever it reads is treated as hostile: sizes are bounded, and only
well-formed package names reach dpkg-query.
"""
import json
import re
import subprocess
import sys
import zipfile

LIMIT = 16 << 20  # bytes: no SBOM of ours comes near
PURL = re.compile(r"pkg:deb/debian/([a-z0-9][a-z0-9+.-]*)@([^?#]+)(?:\?arch=([a-z0-9-]+))?")
DEBIAN_13 = "scripts/debian13.sh"


def printable(text):
    return re.sub(r"[^\x20-\x7e\u00a0-\uffff]", "?", str(text))[:200]


def read_sbom(archive, beside):
    try:
        with zipfile.ZipFile(archive) as zipped:
            for entry in zipped.infolist():
                if re.fullmatch(r"[^/]+/[^/]+\.cdx\.json", entry.filename):
                    if entry.file_size > LIMIT:
                        return None, f"its SBOM {printable(entry.filename)} is too large"
                    with zipped.open(entry) as data:
                        return data.read(LIMIT + 1), "the SBOM in the archive"
    except (OSError, zipfile.BadZipFile) as error:
        return None, f"the archive cannot be read ({printable(error)})"
    if beside:
        try:
            with open(beside, "rb") as data:
                return data.read(LIMIT + 1), "the SBOM beside the archive"
        except OSError:
            pass
    return None, "the release has no SBOM"


def field(value, *keys):
    for key in keys:
        value = value.get(key) if isinstance(value, dict) else None
    return value


def recorded(bom):
    """(role, package, arch, version) of each Debian package the SBOM names as a tool or a part."""
    found = {}
    # The build tools are in the formulation; releases made before it named them as the SBOM's
    # tools.
    tools = [component for step in bom.get("formulation") or [] if isinstance(step, dict)
             for component in step.get("components") or []]
    for kind, items in (("tool", tools or field(bom, "metadata", "tools", "components")),
                        ("part", bom.get("components"))):
        for item in items if isinstance(items, list) else []:
            if not isinstance(item, dict) or not isinstance(item.get("purl"), str):
                continue
            match = PURL.fullmatch(item["purl"])
            if not match:
                continue
            package, version, arch = match.group(1), match.group(2), match.group(3) or ""
            version = re.sub(r"%([0-9A-Fa-f]{2})", lambda c: chr(int(c.group(1), 16)), version)
            role = str(item.get("name", package))
            described = re.match(r"(?:the )?([\w+ ]+?)(?:,|$)", str(item.get("description", "")))
            if kind == "tool" and described:
                role = described.group(1) + ("" if described.group(1) == role else f" ({role})")
            elif kind == "part":
                role = f"runtime part {role}"
            found.setdefault((package, arch), (role, version))
    return [(role, package, arch, version) for (package, arch), (role, version) in found.items()]


def installed(package, arch):
    result = subprocess.run(["dpkg-query", "-W", "-f=${Architecture} ${Version}\n", package],
                            capture_output=True, text=True)
    for line in result.stdout.splitlines():
        have_arch, _, version = line.partition(" ")
        if not arch or have_arch == arch:
            return version
    return None


def this_host():
    try:
        with open("/etc/os-release", encoding="utf-8") as text:
            fields = dict(line.rstrip("\n").split("=", 1) for line in text if "=" in line)
        return fields.get("PRETTY_NAME", "unknown").strip('"')
    except OSError:
        return "unknown"


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: check_toolchain.py ARCHIVE [SBOM]")
    data, source = read_sbom(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else None)
    try:
        bom = json.loads(data) if data is not None and len(data) <= LIMIT else None
    except (ValueError, UnicodeDecodeError):
        bom, source = None, f"{source} is not JSON"
    if not isinstance(bom, dict):
        print(f"Toolchain: not compared, {source}")
        return 0
    properties = field(bom, "metadata", "component", "properties")
    if not isinstance(properties, list):
        properties = []
    built_on = next((printable(p.get("value")) for p in properties
                     if isinstance(p, dict) and p.get("name") == "instkit:built-on"), None)
    differences, stopping = [], False
    packages = recorded(bom)
    for role, package, arch, version in sorted(packages):
        here = installed(package, arch)
        if here != version:
            differences.append(f"  {printable(role)}: {package} {printable(version)} in the "
                               f"release, {here or 'not installed'} here")
            stopping |= package != "cmake"
    host = this_host()
    if not packages:
        print(f"Toolchain: not compared, {source} names no Debian package")
        return 0
    if not differences:
        print(f"Toolchain: as the release's ({len(packages)} packages, {source};"
              f" built on {built_on or 'a host it does not name'}, this host {host})")
        return 0
    print(f"Toolchain: the release was built on {built_on or 'a host its SBOM does not name'};"
          f" this host ({host}) has other versions of what built it ({source}):")
    print("\n".join(differences))
    if not stopping:
        print("Only CMake differs: the rebuild goes on, and may still match the release.")
        return 0
    print("The compiler, linker and runtime make the programs' bytes: a rebuild here cannot"
          " match the release's, so there is none.")
    if built_on and "trixie" in built_on:
        print(f"Rebuild in a Debian 13 root instead ({DEBIAN_13} makes one and runs the command"
              " there): copy the archive and its .sig files into the root's /root/, then run"
              f" `{DEBIAN_13} scripts/verify_release.sh /root/<archive>`.")
    else:
        print(f"Rebuild on {built_on or 'the Debian release that ships these versions'} with the"
              " versions above instead: a host of that release, or a root of it made with"
              " debootstrap.")
    print("Package versions that Debian's archive no longer carries are at snapshot.debian.org.")
    return 1


if __name__ == "__main__":
    sys.exit(main())
