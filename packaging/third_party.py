#!/usr/bin/env python3
"""The runtime parts that the shipped programs are linked with, read from their link maps, and
what a release says about them: THIRD-PARTY-NOTICES.txt and the CycloneDX 1.6 SBOM.

  third_party.py notices --map NAME=MAP... --version V --out FILE
  third_party.py sbom --map NAME=MAP... --file PATH=FILE... --tool NAME=PROGRAM...
                      --version V --epoch SECONDS --commit ID --out FILE

A part is a piece of the toolchain's runtime (the mingw-w64 runtime, winpthreads, libgcc,
libstdc++) of which at least one archive member or object was linked in. Each comes from a Debian
package: its version and package URL are the installed package's (dpkg-query), its notices and
licenses the package's own copyright file. A linked runtime archive that belongs to no known part
stops the script: its license is then unknown, and nothing is written.
"""
import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
import uuid
from datetime import datetime, timezone

COPYRIGHT = "Copyright (c) 2026 the instkit authors"

# Each known part: its title, and how its license is found in the package's copyright file.
# "dep5": the file is in DEP-5 form and each linked member's source file picks its paragraph.
# "gcc": the file lists the part among the libraries under the GCC Runtime Library Exception.
PARTS = {
    "mingw-w64-crt": {
        "title": "mingw-w64 runtime (start-up code, delay-load helper, C library additions, "
                 "import stubs)",
        "kind": "dep5"},
    "winpthreads": {"title": "winpthreads, the POSIX threads library of mingw-w64", "kind": "dep5"},
    "libgcc": {"title": "libgcc, GCC's support library", "kind": "gcc", "listed_as": "libgcc"},
    "libstdc++": {"title": "libstdc++, GCC's C++ library", "kind": "gcc",
                  "listed_as": "libstdc++-v3"},
}
GCC_EXCEPTION = "GPL-3.0-or-later WITH GCC-exception-3.1"

# The gdtoa sources of the mingw-w64 runtime (number conversion for printf and strtod).
GDTOA = {"arithchk", "dmisc", "dtoa", "g__fmt", "g_dfmt", "g_ffmt", "g_xfmt", "gdtoa", "gethex",
         "gmisc", "hd_init", "hexnan", "misc", "qnan", "smisc", "strtodg", "strtodnrp", "strtof",
         "strtopx", "sum", "ulp", "strtodI", "strtoIg"}
# Archives of the mingw-w64 runtime built from one source folder.
CRT_FOLDERS = {"libmingw32.a": "crt", "libuuid.a": "libsrc"}

# Debian's short license names, as SPDX identifiers.
SPDX = {"ZPL-2.1": "ZPL-2.1", "expat": "MIT", "BSD-3-clause": "BSD-3-Clause",
        "BSD-3-clause-Lockless": "BSD-3-Clause", "BSD-3-clause-MinGW-w64": "BSD-3-Clause",
        "BSD-2-clause-NetBSD": "BSD-2-Clause", "ISC": "ISC", "GPL-2+": "GPL-2.0-or-later",
        "GPL-3+": "GPL-3.0-or-later", "LGPL-2+": "LGPL-2.0-or-later",
        "LGPL-2.1+": "LGPL-2.1-or-later"}


def fail(message):
    sys.exit(f"third_party.py: {message}")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


# --- The link maps ---

def linked_inputs(map_file):
    """Every runtime input that went into a program: (path, member) for each member taken from an
    archive of the toolchain, (path, None) for each of its objects loaded whole. The build's own
    inputs have paths relative to the build tree; the toolchain's are absolute."""
    inputs = set()
    section = None
    with open(map_file, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            if line.startswith("Archive member included"):
                section = "members"
            elif line.startswith(("Discarded input sections", "Memory Configuration",
                                  "Allocating common symbols")):
                section = None
            elif line.startswith("Linker script and memory map"):
                section = "load"
            elif section == "members":
                found = re.match(r"(/\S+?\.a)\(([^)]+)\)", line)
                if found:
                    inputs.add((os.path.realpath(found.group(1)), found.group(2)))
            elif section == "load":
                found = re.match(r"LOAD (/\S+\.o)\s*$", line)
                if found:
                    inputs.add((os.path.realpath(found.group(1)), None))
    if not inputs:
        fail(f"{map_file} names no runtime input: not a link map of a static program")
    return inputs


_owners = {}


def owner(path):
    """The Debian package that installed PATH, with its version and architecture."""
    if path not in _owners:
        try:
            package = run("dpkg-query", "-S", path).split(":")[0].split(",")[0].strip()
            version, arch = run("dpkg-query", "-W", "-f=${Version} ${Architecture}",
                                package).split()
        except (subprocess.CalledProcessError, ValueError):
            fail(f"no installed package owns {path}")
        _owners[path] = (package, version, arch)
    return _owners[path]


def part_of(path, package):
    name = os.path.basename(path)
    if name in ("libgcc.a", "libgcc_eh.a", "crtbegin.o", "crtend.o"):
        return "libgcc"
    if name in ("libstdc++.a", "libsupc++.a"):
        return "libstdc++"
    if name in ("libpthread.a", "libwinpthread.a"):
        return "winpthreads"
    if re.fullmatch(r"mingw-w64-[a-z0-9_-]+-dev", package):
        return "mingw-w64-crt"
    fail(f"{name} (package {package}) is linked into a program, and no notice is known for it: "
         "add its part to packaging/third_party.py")


def source_files(part, path, member, dep5):
    """The upstream source files that an archive member (or object) was built from, as far as
    the copyright file can tell them apart."""
    name = os.path.basename(path)
    stem = re.sub(r"^(lib32_|lib64_)?lib\w+?_(a|la)-", "", member or name)
    stem = re.sub(r"\.o(bj)?$", "", stem)
    if part == "winpthreads":
        # Every source of winpthreads includes its pthread.h.
        return [f"mingw-w64-libraries/winpthreads/src/{stem}.c",
                "mingw-w64-libraries/winpthreads/include/pthread.h"]
    if member is None:
        return [f"mingw-w64-crt/crt/{stem}.c"]
    if name in CRT_FOLDERS:
        return [f"mingw-w64-crt/{CRT_FOLDERS[name]}/{stem}.c"]
    if stem in GDTOA and name == "libmingwex.a":
        return [f"mingw-w64-crt/gdtoa/{stem}.c"]
    # A file that the copyright file names by its own name (or a pattern of it), in its folder.
    named = None
    for paragraph in dep5["files"]:
        for pattern in paragraph["patterns"]:
            folder, _, base = pattern.rpartition("/")
            if (folder.startswith("mingw-w64-crt/") and not re.search(r"[*?]", folder)
                    and base.strip("*?") and dep5_match(base, f"{stem}.c")):
                named = f"{folder}/{stem}.c"
    if named:
        return [named]
    # Otherwise a file that no paragraph names: the copyright file's general terms hold for it.
    return [f"mingw-w64-crt/{name[3:-2]}/{stem}.c"]


# --- Debian copyright files ---

def copyright_file(package):
    path = f"/usr/share/doc/{package}/copyright"
    try:
        with open(path, encoding="utf-8") as text:
            return path, text.read()
    except OSError:
        fail(f"{package} has no copyright file at {path}")


def parse_dep5(text):
    """The paragraphs of a machine-readable copyright file: 'files' (each with its patterns,
    copyright lines and license name and text) and 'licenses' (stand-alone license texts)."""
    if not text.startswith("Format: "):
        fail("the copyright file is not in machine-readable (DEP-5) form")
    files, licenses = [], {}
    for block in re.split(r"\n\s*\n", text):
        fields, current = {}, None
        for line in block.split("\n"):
            if line[:1] in (" ", "\t") and current:
                fields[current].append(line[1:])
            elif ":" in line:
                current, value = line.split(":", 1)
                fields[current] = [value.strip()]
        if "License" not in fields:
            continue
        name, body = fields["License"][0], fields["License"][1:]
        body = ["" if line.strip() == "." else line for line in body]
        if "Files" in fields:
            patterns = " ".join([fields["Files"][0]] + fields["Files"][1:]).split()
            copyright = [line.strip() for line in fields.get("Copyright", []) if line.strip()]
            files.append({"patterns": patterns, "copyright": copyright, "license": name,
                          "text": body, "index": len(files)})
        elif body:
            licenses[name] = body
    return {"files": files, "licenses": licenses}


def dep5_match(pattern, path):
    regex = "".join(".*" if c == "*" else "." if c == "?" else re.escape(c) for c in pattern)
    return re.fullmatch(regex, path) is not None


def dep5_paragraph(dep5, path):
    """The paragraph that governs PATH: the last one whose patterns match it."""
    found = None
    for paragraph in dep5["files"]:
        if any(dep5_match(pattern, path) for pattern in paragraph["patterns"]):
            found = paragraph
    if found is None:
        fail(f"no paragraph of the copyright file covers {path}")
    return found


def license_text(dep5, paragraph):
    if paragraph["text"]:
        return paragraph["text"]
    texts = [dep5["licenses"].get(name.strip(), []) for name in
             re.split(r"\s+(?:and|or)\s+", paragraph["license"])]
    return [line for text in texts for line in text + [""]][:-1]


def spdx_expression(names):
    ids = set()
    for name in names:
        for one in re.split(r"\s+(?:and|or)\s+", name):
            one = one.strip()
            ids.add(SPDX.get(one) or "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", one))
    return " AND ".join(sorted(ids))


def gcc_exception_libraries(text):
    """The runtime libraries that GCC's copyright file puts under the Runtime Library Exception."""
    found = re.search(r"The following runtime libraries are licensed under the terms of the\s+"
                      r"GNU General Public License \(v3 or later\) with version 3\.1 of the GCC\s+"
                      r"Runtime Library Exception[^\n]*\n\n((?: - [^\n]*\n(?:   [^\n]*\n)*)+)", text)
    if not found:
        fail("GCC's copyright file no longer lists the libraries under its Runtime Library "
             "Exception")
    return {re.split(r"[\s(]", item.strip())[0] for item in found.group(1).split(" - ")[1:]}


# --- The parts ---

def collect(maps):
    """Each part linked into the programs, with what was taken from it and by which program."""
    parts = {}
    for program, map_file in maps:
        for path, member in sorted(linked_inputs(map_file), key=lambda i: (i[0], i[1] or "")):
            package, version, arch = owner(path)
            key = part_of(path, package)
            part = parts.setdefault(key, {"name": key, **PARTS[key], "package": package,
                                          "version": version, "arch": arch, "archives": {},
                                          "programs": set(), "sources": set()})
            if (package, version) != (part["package"], part["version"]):
                fail(f"{key} comes from two packages: {part['package']} and {package}")
            part["programs"].add(program)
            part["archives"].setdefault(path, set())
            if member:
                part["archives"][path].add(member)
    for part in parts.values():
        path, text = copyright_file(part["package"])
        part["copyright_file"] = path
        if part["kind"] == "gcc":
            if part["listed_as"] not in gcc_exception_libraries(text):
                fail(f"{path} does not list {part['listed_as']} under the GCC Runtime Library "
                     "Exception")
            part["license"] = GCC_EXCEPTION
            part["paragraphs"] = []
            continue
        dep5 = parse_dep5(text)
        chosen = {}
        for archive, members in part["archives"].items():
            for member in sorted(members) or [None]:
                for source in source_files(part["name"], archive, member, dep5):
                    paragraph = dep5_paragraph(dep5, source)
                    chosen[paragraph["index"]] = paragraph
        part["paragraphs"] = [chosen[index] for index in sorted(chosen)]
        for paragraph in part["paragraphs"]:
            paragraph["full_text"] = license_text(dep5, paragraph)
        part["license"] = spdx_expression(p["license"] for p in part["paragraphs"])
    return [parts[key] for key in sorted(parts)]


def archive_summary(part):
    items = []
    for path in sorted(part["archives"]):
        members = part["archives"][path]
        name = os.path.basename(path)
        items.append(f"{name} ({len(members)} member{'' if len(members) == 1 else 's'})"
                     if members else name)
    return ", ".join(items)


# --- THIRD-PARTY-NOTICES.txt ---

def notices(parts, programs, version):
    rule = "=" * 78
    out = [f"instkit {version}: third-party notices", "",
           f"{', '.join(programs)} are linked statically with",
           "parts of the runtime of the MinGW-w64 toolchain that built them (Debian's packages).",
           "The parts, and for each the copyright and license notices that travel with every copy",
           "of the programs, follow. They were found in the programs' link maps when this release",
           "was built; the notices are those of the packages' own copyright files. instkit's own",
           "code is under the MIT license (LICENSE).", "", "Parts:"]
    for number, part in enumerate(parts, 1):
        out.append(f"  {number}. {part['name']} {part['version']} ({part['package']}): "
                   f"{part['license']}")
    for number, part in enumerate(parts, 1):
        out += ["", rule, f"{number}. {part['title']}", rule,
                f"Package: {part['package']} {part['version']} (Debian)",
                f"Linked into: {', '.join(sorted(part['programs']))}",
                f"Taken from: {archive_summary(part)}",
                f"License: {part['license']}", ""]
        if part["kind"] == "gcc":
            out.append(f"Under the GCC Runtime Library Exception 3.1 ({part['copyright_file']}): "
                       "no notice required.")
            continue
        for paragraph in part["paragraphs"]:
            out += ["Copyright: " + paragraph["copyright"][0]]
            out += ["           " + line for line in paragraph["copyright"][1:]]
            out += [f"License: {paragraph['license']}"]
            out += [("  " + line).rstrip() for line in paragraph["full_text"]]
            out.append("")
        if out[-1] == "":
            out.pop()
    return "\r\n".join(out) + "\r\n"


# --- The CycloneDX SBOM ---

def purl(package, version, arch, subpath=None):
    quoted = re.sub(r"[^A-Za-z0-9.~_-]", lambda c: "%%%02X" % ord(c.group()), version)
    return f"pkg:deb/debian/{package}@{quoted}?arch={arch}" + (f"#{subpath}" if subpath else "")


def digests(path):
    with open(path, "rb") as data:
        content = data.read()
    return [{"alg": "SHA-256", "content": hashlib.sha256(content).hexdigest()},
            {"alg": "SHA-512", "content": hashlib.sha512(content).hexdigest()}]


def properties(filename, executable, archive):
    # The component properties of the BSI's technical guideline TR-03183-2.
    return [{"name": "bsi:component:filename", "value": filename},
            {"name": "bsi:component:executable",
             "value": "executable" if executable else "non-executable"},
            {"name": "bsi:component:archive", "value": "archive" if archive else "no archive"},
            {"name": "bsi:component:structured", "value": "unstructured"}]


def build_host():
    """The Debian release that built the release, e.g. "Debian GNU/Linux 12 (bookworm)": the
    toolchain and runtime versions come from it (scripts/check_toolchain.py names it)."""
    try:
        with open("/etc/os-release", encoding="utf-8") as text:
            fields = dict(line.rstrip("\n").split("=", 1) for line in text if "=" in line)
    except OSError:
        return "unknown"
    return fields.get("PRETTY_NAME", "unknown").strip('"')


def tool_component(role, program):
    package, version, arch = owner(os.path.realpath(program))
    return {"type": "application", "name": os.path.basename(program), "version": version,
            "purl": purl(package, version, arch),
            "description": f"the {role}, from the Debian package {package}"}


def sbom(parts, files, tools, version, epoch, commit, maps):
    product_ref = f"pkg:generic/instkit@{version}"
    licenses = [{"license": {"id": "MIT"}}]
    components, dependencies = [], []
    program_parts = {program: [] for program, _ in maps}
    for part in parts:
        for program in part["programs"]:
            program_parts[program].append(f"runtime:{part['name']}")
    for relative, path in sorted(files):
        name = os.path.basename(relative)
        executable = name.endswith(".exe")
        ref = f"file:{relative}"
        components.append({
            "type": "application" if executable else "library", "bom-ref": ref,
            "supplier": {"name": "the instkit authors"}, "name": name, "version": version,
            "hashes": digests(path), "licenses": licenses, "copyright": COPYRIGHT,
            "properties": properties(relative, executable, name.endswith(".a"))})
        dependencies.append({"ref": ref, "dependsOn": sorted(program_parts.get(name, []))})
    for part in parts:
        ref = f"runtime:{part['name']}"
        copyrights = [line for p in part["paragraphs"] for line in p["copyright"]]
        nested = []
        for path in sorted(part["archives"]):
            members = sorted(part["archives"][path])
            nested.append({
                "type": "library", "bom-ref": f"{ref}:{os.path.basename(path)}",
                "name": os.path.basename(path), "version": part["version"],
                "hashes": digests(path),
                "purl": purl(part["package"], part["version"], part["arch"], path.lstrip("/")),
                "properties": properties(os.path.basename(path), True, False) + [
                    {"name": "instkit:linked-member", "value": m} for m in members]})
        component = {
            "type": "library", "bom-ref": ref, "supplier": {"name": "Debian"},
            "name": part["name"], "version": part["version"], "description": part["title"],
            "licenses": [{"expression": part["license"]}],
            "purl": purl(part["package"], part["version"], part["arch"]),
            "properties": [{"name": "instkit:linked-into", "value": program}
                           for program in sorted(part["programs"])],
            "components": nested}
        if copyrights:
            component["copyright"] = "; ".join(dict.fromkeys(copyrights))
        components.append(component)
        dependencies.append({"ref": ref, "dependsOn": []})
    dependencies.insert(0, {"ref": product_ref,
                            "dependsOn": sorted(f"file:{relative}" for relative, _ in files)})
    timestamp = datetime.fromtimestamp(int(epoch), timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    serial = uuid.uuid5(uuid.NAMESPACE_URL, f"instkit:{commit}:{version}:{product_ref}")
    bom = {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX", "specVersion": "1.6", "serialNumber": f"urn:uuid:{serial}",
        "version": 1,
        "metadata": {
            "timestamp": timestamp, "lifecycles": [{"phase": "build"}],
            "tools": {"components": [tool_component(name, program)
                                     for name, program in sorted(tools)]},
            "authors": [{"name": "the instkit authors"}],
            "component": {"type": "application", "bom-ref": product_ref,
                          "supplier": {"name": "the instkit authors"}, "name": "instkit",
                          "version": version, "licenses": licenses, "copyright": COPYRIGHT,
                          "purl": product_ref,
                          "properties": [{"name": "instkit:commit", "value": commit},
                                         {"name": "instkit:built-on", "value": build_host()}]},
            "licenses": licenses},
        "components": components, "dependencies": dependencies}
    return json.dumps(bom, indent=2, ensure_ascii=False) + "\n"


def pairs(values, what):
    result = []
    for value in values or []:
        name, sep, path = value.partition("=")
        if not sep or not name or not path:
            fail(f"{what} must be NAME=PATH, not {value}")
        result.append((name, path))
    return result


def write(path, text, newline):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline=newline) as out:
        out.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("what", choices=["notices", "sbom"])
    parser.add_argument("--map", action="append", required=True)
    parser.add_argument("--file", action="append")
    parser.add_argument("--tool", action="append")
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", default="0")
    parser.add_argument("--commit", default="unknown")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    maps = pairs(args.map, "--map")
    parts = collect(maps)
    if args.what == "notices":
        write(args.out, notices(parts, [program for program, _ in maps], args.version), "")
    else:
        write(args.out, sbom(parts, pairs(args.file, "--file"), pairs(args.tool, "--tool"),
                             args.version, args.epoch, args.commit, maps), "\n")


if __name__ == "__main__":
    main()
