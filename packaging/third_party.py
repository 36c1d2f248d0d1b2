#!/usr/bin/env python3
"""The runtime parts that the shipped programs are linked with, read from their link maps, and
what a release says about them: THIRD-PARTY-NOTICES.txt and the CycloneDX 1.6 SBOM.

  third_party.py notices --map NAME=MAP... --version V --out FILE
  third_party.py sbom --map NAME=MAP... --file PATH=FILE... --tool ROLE=PROGRAM...
                      --party ROLE=NAME|URL|EMAIL... --security-contact URL --package NAME
                      --version V --epoch SECONDS --commit ID --out FILE

The SBOM's parties (--party supplier=..., manufacturer=..., author=...) and its security contact
come from the build tree's cache variables (packaging/CMakeLists.txt). Its serial number is a UUID
(version 5) derived from the package's name (the release archive's, which names the target) and
the SHA-256 of the document without its serial: the same inputs give the same document, byte for
byte, and any other content or target gives another serial, with or without the sources' history.

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
import shutil
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
        "kind": "dep5", "upstream": "mingw-w64"},
    "winpthreads": {"title": "winpthreads, the POSIX threads library of mingw-w64", "kind": "dep5",
                    "upstream": "mingw-w64"},
    "libgcc": {"title": "libgcc, GCC's support library", "kind": "gcc", "listed_as": "libgcc",
               "upstream": "gcc"},
    "libstdc++": {"title": "libstdc++, GCC's C++ library", "kind": "gcc",
                  "listed_as": "libstdc++-v3", "upstream": "gcc"},
}
GCC_EXCEPTION = "GPL-3.0-or-later WITH GCC-exception-3.1"
# Members of GCC's runtime archives that are built from libiberty, not from the libraries under
# the Runtime Library Exception: libiberty's own terms (GPL 2 or later, with the exception that
# permits linking the compiled file into any program) hold for them.
LIBIBERTY = {"cp-demangle.o": "the C++ symbol demangler (libiberty/cp-demangle.c)"}
LIBIBERTY_LICENSE = "GPL-2.0-or-later WITH GCC-exception-2.0"
LIBIBERTY_NOTICE = [
    "Copyright (C) Free Software Foundation, Inc.",
    "This file is part of the libiberty library, which is part of GCC.",
    "",
    "This file is free software; you can redistribute it and/or modify",
    "it under the terms of the GNU General Public License as published by",
    "the Free Software Foundation; either version 2 of the License, or",
    "(at your option) any later version.",
    "",
    "In addition to the permissions in the GNU General Public License, the",
    "Free Software Foundation gives you unlimited permission to link the",
    "compiled version of this file into combinations with other programs,",
    "and to distribute those combinations without any restriction coming",
    "from the use of this file.  (The General Public License restrictions",
    "do apply in other respects; for example, they cover modification of",
    "the file, and distribution when not linked into a combined",
    "executable.)"]

# Who makes each part upstream (the component's creator), the name of its upstream release,
# and its CPE product in the NVD's dictionary where one exists (GCC's libraries are matched as
# GCC; for mingw-w64 the dictionary has none).
UPSTREAM = {
    "gcc": {"manufacturer": {"name": "the GCC developers (GNU Project)",
                             "url": ["https://gcc.gnu.org/"]},
            "release": "gcc", "cpe": "cpe:2.3:a:gnu:gcc:{version}:*:*:*:*:*:*:*"},
    "mingw-w64": {"manufacturer": {"name": "the mingw-w64 project",
                                   "url": ["https://www.mingw-w64.org/"]},
                  "release": "mingw-w64", "cpe": None},
}
DEBIAN = {"name": "Debian", "url": ["https://www.debian.org/"]}
MICROSOFT = {"name": "Microsoft Corporation", "url": ["https://www.microsoft.com/"]}

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


def source_package(package):
    """The Debian source package a binary package was built from, and its version."""
    name, version = run("dpkg-query", "-W", "-f=${source:Package} ${source:Version}",
                        package).split()
    return name, version


def upstream_version(version):
    """The upstream release a Debian version packages: without the epoch, the Debian revision
    (from the first '-': a cross-compiler's version is the compiler's, then its own revisions)
    and a repack suffix."""
    version = version.split(":", 1)[-1].split("-", 1)[0]
    return re.sub(r"[+~](dfsg|ds|repack)[.0-9]*$", "", version)


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


def license_ids(names):
    """Debian's license names as SPDX identifiers, LicenseRef-<name> for those SPDX lacks."""
    ids = set()
    for name in names:
        for one in re.split(r"\s+(?:and|or)\s+", name):
            one = one.strip()
            ids.add(SPDX.get(one) or "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", one))
    return ids


def spdx_expression(ids):
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
                                          "programs": set()})
            if (package, version) != (part["package"], part["version"]):
                fail(f"{key} comes from two packages: {part['package']} and {package}")
            part["programs"].add(program)
            part["archives"].setdefault(path, set())
            if member:
                part["archives"][path].add(member)
    for part in parts.values():
        part["source"] = source_package(part["package"])
        part["upstream_version"] = upstream_version(part["version"])
        path, text = copyright_file(part["package"])
        part["license_texts"] = {}
        part["libiberty"] = sorted((os.path.basename(archive), member)
                                   for archive, members in part["archives"].items()
                                   for member in members if member in LIBIBERTY)
        if part["kind"] == "gcc":
            if part["listed_as"] not in gcc_exception_libraries(text):
                fail(f"{path} does not list {part['listed_as']} under the GCC Runtime Library "
                     "Exception")
            part["paragraphs"] = []
            part["archive_licenses"] = {
                archive: {GCC_EXCEPTION} | ({LIBIBERTY_LICENSE} if members & set(LIBIBERTY)
                                            else set())
                for archive, members in part["archives"].items()}
        else:
            dep5 = parse_dep5(text)
            chosen = {}
            part["archive_licenses"] = {}
            for archive, members in part["archives"].items():
                own = {}
                for member in sorted(members) or [None]:
                    for source in source_files(part["name"], archive, member, dep5):
                        paragraph = dep5_paragraph(dep5, source)
                        own[paragraph["index"]] = chosen[paragraph["index"]] = paragraph
                part["archive_licenses"][archive] = license_ids(p["license"]
                                                                for p in own.values())
            part["paragraphs"] = [chosen[index] for index in sorted(chosen)]
            for paragraph in part["paragraphs"]:
                paragraph["full_text"] = license_text(dep5, paragraph)
                # The text of each license the SPDX list lacks, for the SBOM to define it.
                names = re.split(r"\s+(?:and|or)\s+", paragraph["license"])
                for name in names:
                    text_lines = dep5["licenses"].get(name.strip()) or (
                        paragraph["text"] if len(names) == 1 else None)
                    ref = next(iter(license_ids([name])))
                    if ref.startswith("LicenseRef-") and text_lines:
                        part["license_texts"].setdefault(ref, "\n".join(text_lines).strip())
        part["license_ids"] = set().union(*part["archive_licenses"].values())
        part["license"] = spdx_expression(part["license_ids"])
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
           "of the programs, follow, in full: they were found in the programs' link maps when this",
           "release was built, and the notices are those that the packages' copyright statements",
           "give for the very files linked. instkit's own code is under the MIT license (LICENSE).",
           "", "Parts:"]
    for number, part in enumerate(parts, 1):
        out.append(f"  {number}. {part['name']} {part['version']} ({part['package']}): "
                   f"{part['license']}")
    for number, part in enumerate(parts, 1):
        upstream = UPSTREAM[part["upstream"]]["release"]
        out += ["", rule, f"{number}. {part['title']}", rule,
                f"Package: {part['package']} {part['version']} (Debian)",
                f"Source: {part['source'][0]} {part['source'][1]} (Debian), "
                f"{upstream} {part['upstream_version']}",
                f"Linked into: {', '.join(sorted(part['programs']))}",
                f"Taken from: {archive_summary(part)}",
                f"License: {part['license']}", ""]
        if part["kind"] == "gcc":
            out.append("Under the GCC Runtime Library Exception 3.1, which lets the programs carry "
                       "this part")
            out.append("under terms of their own choice: no notice is required.")
            for archive, member in part["libiberty"]:
                out += ["", f"Except {archive}({member}), {LIBIBERTY[member]}:",
                        f"License: {LIBIBERTY_LICENSE}"]
                out += [("  " + line).rstrip() for line in LIBIBERTY_NOTICE]
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
    # The component properties of the BSI's technical guideline TR-03183-2: the bare file name;
    # a program or DLL is executable, a static archive is an archive (of object files, whose
    # names and symbol index it keeps: structured) and not executable.
    return [{"name": "bsi:component:filename", "value": os.path.basename(filename)},
            {"name": "bsi:component:executable",
             "value": "executable" if executable else "non-executable"},
            {"name": "bsi:component:archive", "value": "archive" if archive else "no archive"},
            {"name": "bsi:component:structured",
             "value": "structured" if archive else "unstructured"}]


def licenses(ids, texts, acknowledgements=("concluded",)):
    """A component's licenses: one expression where an exception is involved, else each license
    on its own, the LicenseRef- ones with their texts, which defines them in the document."""
    ids = sorted(ids)
    if any(" WITH " in one for one in ids):
        if any("LicenseRef-" in one for one in ids):
            fail(f"{' AND '.join(ids)}: an expression cannot define its LicenseRef- texts")
        return [{"expression": " AND ".join(ids), "acknowledgement": acknowledgement}
                for acknowledgement in acknowledgements[:1]]
    result = []
    for acknowledgement in acknowledgements:
        for one in ids:
            if one.startswith("LicenseRef-"):
                if one not in texts:
                    fail(f"no text for {one} in the copyright file")
                result.append({"license": {"name": one, "acknowledgement": acknowledgement,
                                           "text": {"contentType": "text/plain",
                                                    "content": texts[one]}}})
            else:
                result.append({"license": {"id": one, "acknowledgement": acknowledgement}})
    return result


def pe_imports(path):
    """The DLLs a PE image imports, and those it delay-loads, lower-cased, read from its import
    and delay-import directories."""
    with open(path, "rb") as image:
        data = image.read()

    def number(offset, size):
        if offset < 0 or offset + size > len(data):
            fail(f"{path}: not a complete PE image")
        return int.from_bytes(data[offset:offset + size], "little")

    header = number(0x3C, 4)
    if data[header:header + 4] != b"PE\0\0":
        fail(f"{path}: not a PE image")
    sections, optional_size = number(header + 6, 2), number(header + 20, 2)
    optional = header + 24
    pe32 = {0x10B: True, 0x20B: False}.get(number(optional, 2))
    if pe32 is None:
        fail(f"{path}: unknown optional header")
    directories = optional + (96 if pe32 else 112)
    table = [(number(s + 12, 4), max(number(s + 8, 4), number(s + 16, 4)), number(s + 20, 4))
             for s in range(optional + optional_size, optional + optional_size + 40 * sections,
                            40)]

    def offset(rva):
        for address, size, raw in table:
            if address <= rva < address + size:
                return rva - address + raw
        fail(f"{path}: address {rva:#x} lies in no section")

    def name(rva):
        start = offset(rva)
        end = data.find(b"\0", start, start + 260)
        if end < 0:
            fail(f"{path}: a DLL name without its end")
        return data[start:end].decode("ascii", "replace").lower()

    def dll_name(rva):
        try:
            found = name(rva)
        except SystemExit:
            return None
        return found if re.fullmatch(r"[a-z0-9_.-]+\.dll", found) else None

    imported = set()
    at = number(directories + 8, 4) and offset(number(directories + 8, 4))
    for _ in range(4096 if at else 0):
        if not any(data[at:at + 20]):
            break
        imported.add(name(number(at + 12, 4)))
        at += 20
    # The delay-import descriptors: the linker leaves the directory entry empty for those that
    # dlltool makes, so they are found by their form: attributes 1 (addresses relative to the
    # image), the DLL's name, its handle, its address and name tables within the image, then
    # three zeros.
    delayed = set()
    end = max((address + size for address, size, _ in table), default=0)
    for address, size, raw in table:
        for at in range(raw, min(raw + size, len(data)) - 31, 4):
            fields = [int.from_bytes(data[at + 4 * i:at + 4 * i + 4], "little") for i in range(8)]
            if (fields[0] == 1 and fields[5:] == [0, 0, 0]
                    and all(0 < rva < end for rva in fields[1:5])):
                dll = dll_name(fields[1])
                if dll:
                    delayed.add(dll)
    return imported, delayed


def party(value):
    """A supplier, manufacturer or author given as NAME|URL|EMAIL (URL or EMAIL may be empty)."""
    name, url, email = (value.split("|") + ["", ""])[:3]
    if not name or not (url or email):
        fail(f"{value}: a party needs its name and a URL or an e-mail address")
    return name, url, email


def organisation(value):
    name, url, email = party(value)
    entity = {"name": name}
    if url:
        entity["url"] = [url]
    if email:
        entity["contact"] = [{"email": email}]
    return entity


def person(value):
    name, url, email = party(value)
    return {"name": name, "email": email} if email else {"name": name}


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
    # A tool named without its folder (CMake's resource compiler) is the one on the search path.
    if not os.path.isabs(program):
        program = shutil.which(os.path.basename(program)) or fail(f"no {program} to be found")
    package, version, arch = owner(os.path.realpath(program))
    return {"type": "application", "bom-ref": f"build-tool:{role}",
            "supplier": DEBIAN, "name": os.path.basename(program), "version": version,
            "purl": purl(package, version, arch), "description": TOOL_ROLES.get(role, role)}


TOOL_ROLES = {"compiler": "C++ compiler", "linker": "linker", "rc": "resource compiler",
              "cmake": "build system"}


def part_component(part):
    ref = f"runtime:{part['name']}"
    upstream = UPSTREAM[part["upstream"]]
    source, source_version = part["source"]
    nested = []
    for path in sorted(part["archives"]):
        members = sorted(part["archives"][path])
        nested.append({
            "type": "library", "bom-ref": f"{ref}:{os.path.basename(path)}",
            "supplier": DEBIAN, "manufacturer": upstream["manufacturer"],
            "name": os.path.basename(path), "version": part["version"],
            "hashes": digests(path),
            "licenses": licenses(part["archive_licenses"][path], part["license_texts"]),
            "purl": purl(part["package"], part["version"], part["arch"], path.lstrip("/")),
            "properties": properties(path, False, path.endswith(".a")) + [
                {"name": "instkit:linked-member", "value": m} for m in members]})
    component = {
        "type": "library", "bom-ref": ref, "supplier": DEBIAN,
        "manufacturer": upstream["manufacturer"],
        "name": part["name"], "version": part["version"], "description": part["title"],
        "licenses": licenses(part["license_ids"], part["license_texts"]),
        "purl": purl(part["package"], part["version"], part["arch"])}
    if upstream["cpe"]:
        component["cpe"] = upstream["cpe"].format(version=part["upstream_version"])
    copyrights = [line for p in part["paragraphs"] for line in p["copyright"]]
    if copyrights:
        component["copyright"] = "; ".join(dict.fromkeys(copyrights))
    component["pedigree"] = {"ancestors": [
        {"type": "library", "bom-ref": f"{ref}:source", "supplier": DEBIAN,
         "name": source, "version": source_version,
         "purl": purl(source, source_version, "source")},
        {"type": "library", "bom-ref": f"{ref}:upstream",
         "manufacturer": upstream["manufacturer"], "name": upstream["release"],
         "version": part["upstream_version"],
         **({"cpe": component["cpe"]} if "cpe" in component else {})}]}
    component["externalReferences"] = [
        {"type": "source-distribution",
         "url": f"https://sources.debian.org/src/{source}/{source_version}/"},
        {"type": "distribution",
         "url": f"https://snapshot.debian.org/binary/{part['package']}/"},
        {"type": "website", "url": upstream["manufacturer"]["url"][0]}]
    component["properties"] = [
        {"name": "instkit:source-package", "value": f"{source} {source_version}"},
        {"name": "instkit:upstream-version", "value": part["upstream_version"]}] + [
        {"name": "instkit:linked-into", "value": program} for program in sorted(part["programs"])]
    component["components"] = nested
    return component


def sbom(parts, files, tools, maps, args):
    version = args.version
    product_ref = f"pkg:generic/instkit@{version}"
    parties = dict(pairs(args.party, "--party"))
    for role in ("supplier", "manufacturer", "author"):
        if role not in parties:
            fail(f"--party {role}=NAME|URL|EMAIL is missing")
    supplier = organisation(parties["supplier"])
    manufacturer = organisation(parties["manufacturer"])
    authors = [person(parties["author"])]
    own = licenses({"MIT"}, {}, ("declared", "concluded"))
    inputs = {program: linked_inputs(map_file) for program, map_file in maps}
    program_parts = {program: sorted(f"runtime:{part['name']}" for part in parts
                                     if program in part["programs"]) for program, _ in maps}
    components, dependencies, system = [], [], {}
    for relative, path in sorted(files):
        name = os.path.basename(relative)
        executable = name.endswith(".exe")
        ref = f"file:{relative}"
        extra, depends = [], []
        if name in inputs:
            extra = [{"name": "instkit:linked-member",
                      "value": f"{os.path.basename(archive)}({member})" if member
                      else os.path.basename(archive)}
                     for archive, member in sorted(inputs[name], key=lambda i: (i[0], i[1] or ""))]
            imported, delayed = pe_imports(path)
            for kind, dlls in (("import", imported), ("delay-load", delayed)):
                for dll in sorted(dlls):
                    system.setdefault(dll, set()).add(kind)
                    extra.append({"name": f"instkit:{kind}", "value": dll})
            depends = program_parts[name] + sorted(f"system:{dll}" for dll in imported | delayed)
        elif executable:
            fail(f"{relative} is a program without a link map")
        components.append({
            "type": "application" if executable else "library", "bom-ref": ref,
            "supplier": supplier, "manufacturer": manufacturer, "authors": authors,
            "name": name, "version": version, "hashes": digests(path), "licenses": own,
            "copyright": COPYRIGHT, "purl": f"{product_ref}#{relative}",
            "properties": properties(relative, executable, name.endswith(".a")) + extra})
        dependencies.append({"ref": ref, "dependsOn": sorted(depends)})
    for part in parts:
        component = part_component(part)
        components.append(component)
        for ref in [component["bom-ref"]] + [n["bom-ref"] for n in component["components"]]:
            dependencies.append({"ref": ref, "dependsOn": []})
    dlls = []
    for dll in sorted(system):
        dlls.append({"type": "library", "bom-ref": f"system:{dll}", "supplier": MICROSOFT,
                     "manufacturer": MICROSOFT, "name": dll, "scope": "required",
                     "properties": properties(dll, True, False) + [
                         {"name": "instkit:loaded-by", "value": kind}
                         for kind in sorted(system[dll])]})
        dependencies.append({"ref": f"system:{dll}", "dependsOn": []})
    if dlls:
        components.append({
            "type": "operating-system", "bom-ref": "system:windows", "supplier": MICROSOFT,
            "manufacturer": MICROSOFT, "name": "Windows", "scope": "required",
            "description": "The system the programs run on; its DLLs that they import or "
                           "delay-load are not part of the release",
            "components": dlls})
        dependencies.append({"ref": "system:windows", "dependsOn": []})
    file_refs = sorted(f"file:{relative}" for relative, _ in files)
    dependencies.insert(0, {"ref": product_ref, "dependsOn": file_refs})
    timestamp = datetime.fromtimestamp(int(args.epoch), timezone.utc).strftime(
        "%Y-%m-%dT%H:%M:%SZ")
    security = args.security_contact
    generator = os.path.abspath(__file__)
    bom = {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX", "specVersion": "1.6", "serialNumber": None, "version": 1,
        "metadata": {
            "timestamp": timestamp, "lifecycles": [{"phase": "build"}],
            "tools": {"components": [{
                "type": "application", "bom-ref": "generator", "group": "instkit",
                "name": "third_party.py", "version": version, "manufacturer": manufacturer,
                "hashes": digests(generator),
                "description": "instkit's writer of its release's SBOM and notices "
                               "(packaging/third_party.py)"}]},
            "manufacturer": manufacturer, "authors": authors,
            "component": {
                "type": "application", "bom-ref": product_ref, "supplier": supplier,
                "manufacturer": manufacturer, "authors": authors, "name": "instkit",
                "version": version, "licenses": own, "copyright": COPYRIGHT, "purl": product_ref,
                "externalReferences": [{"type": "security-contact", "url": security}] + (
                    [{"type": "website", "url": supplier["url"][0]}] if "url" in supplier
                    else []),
                "properties": [{"name": "instkit:commit", "value": args.commit},
                               {"name": "instkit:package", "value": args.package},
                               {"name": "instkit:built-on", "value": build_host()}]},
            "supplier": supplier,
            # The license of this document, not of the product (that is the component's): CC0,
            # so that whoever ships the programs may copy and merge it freely.
            "licenses": [{"license": {"id": "CC0-1.0"}}]},
        "components": components, "dependencies": dependencies,
        "compositions": [
            # What ships, the parts and their archives, and each program's direct dependencies
            # (its link map's runtime parts, its import and delay-import tables) are complete.
            {"aggregate": "complete",
             "assemblies": [product_ref] + file_refs + [f"runtime:{p['name']}" for p in parts],
             "dependencies": [product_ref] + file_refs},
            # What the runtime parts and the system's DLLs themselves depend on is not recorded.
            {"aggregate": "unknown",
             "dependencies": [f"runtime:{p['name']}" for p in parts] +
                             [f"system:{dll}" for dll in sorted(system)]}],
        "formulation": [{"bom-ref": "build", "components": [
            tool_component(role, program) for role, program in sorted(tools)]}]}
    content = json.dumps({k: v for k, v in bom.items() if k != "serialNumber"},
                         sort_keys=True, ensure_ascii=False).encode("utf-8")
    digest = hashlib.sha256(content).hexdigest()
    bom["serialNumber"] = "urn:uuid:" + str(
        uuid.uuid5(uuid.NAMESPACE_URL, f"urn:instkit:sbom:{args.package}:{digest}"))
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
    parser.add_argument("--party", action="append")
    parser.add_argument("--security-contact")
    parser.add_argument("--package")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    maps = pairs(args.map, "--map")
    parts = collect(maps)
    if args.what == "notices":
        write(args.out, notices(parts, [program for program, _ in maps], args.version), "")
    else:
        if not args.security_contact or not args.package:
            fail("the SBOM needs --security-contact and --package")
        write(args.out, sbom(parts, pairs(args.file, "--file"), pairs(args.tool, "--tool"), maps,
                             args), "\n")


if __name__ == "__main__":
    main()
