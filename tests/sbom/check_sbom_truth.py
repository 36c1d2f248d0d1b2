#!/usr/bin/env python3
"""Checks an unpacked release's SBOM and notices against the build's link maps, the programs'
import tables (objdump), the build tree's cache and the installed packages, reading each on its
own (not through packaging/third_party.py). scripts/check_sbom_files.py checks the hashes.

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
top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
cache = dict(re.findall(r"(?m)^(INSTKIT_\w+|CMAKE_LINKER|CMAKE_COMMAND):[A-Z]+=(.*)$",
                        open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8").read()))
objdump = re.sub(r"ld$", "objdump", cache["CMAKE_LINKER"])


def nested(items):
    for item in items:
        yield item
        yield from nested(item.get("components", []))


everything = {c["bom-ref"]: c for c in nested(bom["components"])}
own = {c["name"]: c for c in bom["components"] if c["bom-ref"].startswith("file:bin/")}
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
    # The members this program's own map took, and nothing else, listed on its component.
    took = {f"{os.path.basename(os.path.realpath(a))}({m})" for a, m in
            re.findall(r"(?m)^(/[^\s(]+\.a)\(([^)]+)\)", text)}
    took |= {os.path.basename(p) for p in re.findall(r"(?m)^LOAD (/\S+\.o)$", text)}
    listed = {p["value"] for p in own[program].get("properties", [])
              if p["name"] == "instkit:linked-member"}
    checked += 1
    if took != listed:
        problems.append(f"{program}: the SBOM lists members its map did not take: "
                        f"{sorted(listed - took)[:3]}, or misses {sorted(took - listed)[:3]}")
    # The system DLLs it imports (objdump) and delay-loads (a function of the DLL's .def whose
    # import slot the map kept), each a component of the system the program depends on.
    dump = subprocess.run([objdump, "-p", os.path.join(root, "bin", program)],
                          capture_output=True, text=True, check=True).stdout
    loads = {("import", d.lower()) for d in re.findall(r"DLL Name: (\S+)", dump)}
    for definition in glob.glob(os.path.join(top, "instutil", "delayload", "*.def")):
        lines = open(definition, encoding="utf-8").read().split("\n")
        dll = next(line.split()[1] for line in lines if line.startswith("LIBRARY"))
        functions = lines[lines.index("EXPORTS") + 1:]
        if any(re.search(rf"(?m)^ +0x[0-9a-f]+ +(_imp__|__imp_){re.escape(f.split('@')[0])}"
                         rf"(@\d+)?$", text) for f in functions if f.strip()):
            loads.add(("delay-load", dll.lower()))
    listed = {(p["name"][len("instkit:"):], p["value"]) for p in own[program]["properties"]
              if p["name"] in ("instkit:import", "instkit:delay-load")}
    checked += 1
    if loads != listed or not loads:
        problems.append(f"{program}: loads {sorted(loads)}, the SBOM says {sorted(listed)}")
    for _, dll in loads:
        dll_component = everything.get(f"system:{dll}", {})
        if (f"system:{dll}" not in depends.get(f"file:bin/{program}", []) or
                dll_component.get("type") != "library" or
                dll_component.get("scope") != "required"):
            problems.append(f"{program}: {dll} is no required system library it depends on")

programs = {os.path.basename(p) for p in shipped if p.endswith(".exe")}


def expect(what, holds):
    global checked
    checked += 1
    if not holds:
        problems.append(what)


def entity(value):
    return value.get("name"), (value.get("url") or [""])[0], (
        (value.get("contact") or [{}])[0].get("email", value.get("email", "")))


meta = bom["metadata"]
product = meta["component"]
# The parties and the security contact are the build tree's configured ones, each with a contact.
supplier = (cache["INSTKIT_SUPPLIER"], cache["INSTKIT_SUPPLIER_URL"],
            cache["INSTKIT_SUPPLIER_EMAIL"])
maker = (cache["INSTKIT_MANUFACTURER"], cache["INSTKIT_MANUFACTURER_URL"],
         cache["INSTKIT_MANUFACTURER_EMAIL"])
for where, value, wanted in [("metadata.supplier", meta.get("supplier", {}), supplier),
                             ("the product's supplier", product.get("supplier", {}), supplier),
                             ("metadata.manufacturer", meta.get("manufacturer", {}), maker),
                             ("the product's manufacturer", product.get("manufacturer", {}), maker)
                             ] + [(f"{c['name']}'s supplier", c.get("supplier", {}), supplier)
                                  for c in own.values()]:
    expect(f"{where} is {entity(value)}, configured: {wanted}", entity(value) == wanted)
expect("the SBOM's authors are not the configured one with an e-mail address",
       [entity(a) for a in meta.get("authors", [])] ==
       [(cache["INSTKIT_SBOM_AUTHOR"], "", cache["INSTKIT_SBOM_AUTHOR_EMAIL"])])
contact = [r["url"] for r in product.get("externalReferences", [])
           if r["type"] == "security-contact"]
expect(f"the product's security contact is {contact}",
       contact == [cache["INSTKIT_SECURITY_CONTACT"]])
default = re.search(r'INSTKIT_SECURITY_CONTACT "(?:mailto:)?([^"]+)"',
                    open(os.path.join(top, "packaging", "CMakeLists.txt")).read()).group(1)
readme = open(os.path.join(root, "README.md"), encoding="utf-8").read()
expect("the README does not name the security contact and how to set it",
       default in readme and "INSTKIT_SECURITY_CONTACT" in readme)
# The document's own license; the tool that wrote it; the build tools in the formulation.
expect("metadata.licenses is not the document's CC0-1.0",
       meta.get("licenses") == [{"license": {"id": "CC0-1.0"}}])
tools = meta.get("tools", {}).get("components", [])
expect(f"metadata.tools is not the generator at the release's version: {tools}",
       [(t.get("name"), t.get("version")) for t in tools] ==
       [("third_party.py", product["version"])])
built_with = {c["name"]: c for f in bom.get("formulation", []) for c in f.get("components", [])}
for program in (cache["CMAKE_LINKER"], cache["CMAKE_COMMAND"]):
    package = subprocess.run(["dpkg-query", "-S", os.path.realpath(program)], capture_output=True,
                             text=True).stdout.split(":")[0]
    version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], capture_output=True,
                             text=True).stdout
    tool = built_with.get(os.path.basename(program), {})
    expect(f"the formulation lacks {program} ({package} {version})",
           tool.get("version") == version and f"/{package}@" in tool.get("purl", ""))
expect("a description names a Debian package", "from the Debian package" not in json.dumps(bom))
# Identifiers: purls of the shipped files; upstream version, source package and CPE of the parts.
for component in own.values():
    expect(f"{component['name']} has no purl of the product",
           component.get("purl", "").startswith(product["purl"] + "#"))
for part in (c for c in bom["components"] if c["bom-ref"].startswith("runtime:")):
    package = re.match(r"pkg:deb/debian/([^@]+)@", part["purl"]).group(1)
    source, source_version = subprocess.run(
        ["dpkg-query", "-W", "-f=${source:Package} ${source:Version}", package],
        capture_output=True, text=True).stdout.split()
    upstream = re.match(r"(?:\d+:)?([^-]+)", part["version"]).group(1)
    values = {p["name"]: p["value"] for p in part.get("properties", [])}
    expect(f"{part['name']}: no source package {source} {source_version}",
           values.get("instkit:source-package") == f"{source} {source_version}")
    expect(f"{part['name']}: no upstream version {upstream}",
           values.get("instkit:upstream-version") == upstream)
    gcc = package.startswith(("gcc-", "g++-"))
    expect(f"{part['name']}: CPE {part.get('cpe')}",
           part.get("cpe") == (f"cpe:2.3:a:gnu:gcc:{upstream}:*:*:*:*:*:*:*" if gcc else None))
# Licenses, BSI properties and creators throughout; every LicenseRef- defined with its text.
defined = {lic["license"]["name"] for c in everything.values() for lic in c.get("licenses", [])
           if "license" in lic and lic["license"].get("text", {}).get("content")}
used = set(re.findall(r"LicenseRef-[A-Za-z0-9.-]+", json.dumps(bom)))
expect(f"LicenseRef- used but not defined: {sorted(used - defined)}", used <= defined)
for ref, component in everything.items():
    values = {p["name"]: p["value"] for p in component.get("properties", [])}
    if component["type"] == "operating-system":
        continue
    name = component["name"]
    kind = (("non-executable", "archive") if name.endswith(".a") else
            ("executable", "no archive") if name.endswith((".exe", ".dll")) else
            ("non-executable", "no archive") if name.endswith(".o") else None)
    if kind:
        expect(f"{ref}: BSI properties {values}", values.get("bsi:component:filename") == name
               and (values.get("bsi:component:executable"), values.get("bsi:component:archive"))
               == kind and "bsi:component:structured" in values)
    expect(f"{ref}: no creator with a URL or an e-mail address",
           any(entity(component.get("manufacturer", {}))[1:]))
    if not ref.startswith("system:"):
        expect(f"{ref}: no license", bool(component.get("licenses")))
# The completeness of what ships and of each program's dependencies is stated.
complete = [c for c in bom.get("compositions", []) if c.get("aggregate") == "complete"]
expect("no composition says each program's dependencies are complete",
       any({f"file:bin/{p}" for p in programs} <= set(c.get("dependencies", []))
           for c in complete))
# The notices point at nothing the release lacks; libiberty's member has its own terms.
expect("the notices point at the build host's files", "/usr/share/" not in notices)
if any("(cp-demangle.o)" in p["value"] for c in own.values() for p in c["properties"]):
    expect("cp-demangle.o is not under libiberty's exception in the notices and the SBOM",
           re.search(r"(?m)^Except libstdc\+\+\.a\(cp-demangle\.o\).*\n"
                     r"License: GPL-2\.0-or-later WITH GCC-exception-2\.0", notices) and
           "GPL-2.0-or-later WITH GCC-exception-2.0" in json.dumps(
               everything.get("runtime:libstdc++:libstdc++.a", {}).get("licenses")))
if mapped != programs:
    problems.append(f"link maps found for {sorted(mapped)}, programs shipped: {sorted(programs)}")

for problem in problems:
    print(f"FAILED: {problem}")
print(f"SBOM and notices: {checked} facts checked, {len(problems)} wrong")
sys.exit(1 if problems else 0)
