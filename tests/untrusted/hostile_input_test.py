#!/usr/bin/env python3
"""What the release scripts read from outside, made hostile: archives (packaging/unpack_zip.py,
and through it scripts/sign.sh and scripts/verify_release.sh), SBOMs (scripts/check_sbom_files.py)
and detached signatures folders (scripts/sign.sh --signatures). Each case must be refused with
exit code 1 and a line naming the entry, the name or the file, leave nothing where the tool
writes, and change nothing else in the work folder, where each hostile name points.
    hostile_input_test.py WORK
WORK is a folder of the suite's own; it is made afresh."""
import hashlib
import json
import os
import shutil
import stat
import subprocess
import sys
import warnings
import zipfile

top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
work = os.path.abspath(sys.argv[1])
unpack = [sys.executable, f"{top}/packaging/unpack_zip.py"]
failures = []
warnings.simplefilter("ignore")  # zipfile's, on the duplicate names made on purpose


def snapshot():
    """Every path below WORK, with its type and size, links not followed."""
    found = set()
    for folder, folders, files in os.walk(work):
        for name in folders + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            found.add((os.path.relpath(path, work), stat.S_IFMT(info.st_mode), info.st_size))
    return found


def run(command):
    done = subprocess.run(command, capture_output=True, text=True, timeout=120,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout + done.stderr


def expect(what, got, want):
    if got != want:
        failures.append(what)
        print(f"FAILED {what}:\n  got:  {got!r}\n  want: {want!r}")


def refused(what, command, names, made=None):
    """COMMAND ends with exit code 1 and its output names each of NAMES; MADE (the folder it
    would write into), when given, is not there afterwards, and nothing else below WORK changed."""
    before = snapshot()
    code, output = run(command)
    print(f"{what}: {output.strip()}")
    expect(f"{what}: exit code", code, 1)
    for name in names:
        expect(f"{what}: the output names {name}", name in output, True)
    if made:
        expect(f"{what}: {os.path.relpath(made, work)} left", os.path.lexists(made), False)
    expect(f"{what}: the work folder changed", sorted(snapshot() ^ before), [])


def zip_of(name, entries):
    """An archive in WORK/zips of (name or ZipInfo, bytes) entries, deflated."""
    path = f"{work}/zips/{name}.zip"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as packed:
        for entry, data in entries:
            packed.writestr(entry, data)
    return path


def typed(name, kind):
    info = zipfile.ZipInfo(name)
    info.create_system = 3
    info.external_attr = (kind | 0o777) << 16
    return info


def declaring(name, data, declared):
    """An archive of one entry whose headers declare DECLARED bytes unpacked."""
    path = zip_of(name, [("lies.bin", data)])
    with open(path, "r+b") as packed:
        raw = bytearray(packed.read())
        size = declared.to_bytes(4, "little")
        raw[22:26] = size  # the local header's
        central = raw.rfind(b"PK\x01\x02")
        raw[central + 24:central + 28] = size
        packed.seek(0)
        packed.write(raw)
    return path


shutil.rmtree(work, ignore_errors=True)
os.makedirs(f"{work}/zips")
os.makedirs(f"{work}/outside")
# Where an archive is unpacked: three levels below WORK, so that "../../../x" is WORK/x.
target = f"{work}/t/u/target"
os.makedirs(os.path.dirname(target))

# --- Archives: each kind of hostile entry, against the unpacker. ---
MAX_ENTRIES, MAX_BYTES = 1000, 64 * 1024 * 1024
archives = [
    ("parent climb", [("ok.txt", b"ok"), ("../../../escaped.txt", b"x")], "../../../escaped.txt"),
    ("climb inside", [("a/../../../../escaped.txt", b"x")], "a/../../../../escaped.txt"),
    ("absolute name", [(f"{work}/escaped.txt", b"x")], f"{work}/escaped.txt"),
    ("drive letter", [("C:/escaped.txt", b"x")], "C:/escaped.txt"),
    ("drive-relative name", [("C:escaped.txt", b"x")], "C:escaped.txt"),
    ("backslashes", [("..\\..\\..\\escaped.txt", b"x")], "..\\..\\..\\escaped.txt"),
    ("control character", [("bin/a\nb.exe", b"x")], "bin/a\\x0ab.exe"),
    ("dot component", [("a/./b.txt", b"x")], "a/./b.txt"),
    ("empty component", [("a//b.txt", b"x")], "a//b.txt"),
    ("names differing in case", [("bin/Report.txt", b"1"), ("bin/report.txt", b"2")],
     "bin/report.txt"),
    ("folders differing in case", [("Bin/a.txt", b"1"), ("bin/b.txt", b"2")], "bin/b.txt"),
    ("names equal in NFC", [("caf\u00e9.txt", b"1"), ("cafe\u0301.txt", b"2")], "cafe\u0301.txt"),
    ("names equal in NFKC", [("\ufb01le.txt", b"1"), ("file.txt", b"2")], "file.txt"),
    ("the same name twice", [("a.txt", b"1"), ("a.txt", b"2")], "a.txt"),
    ("a file below a file", [("x", b"1"), ("x/y.txt", b"2")], "x/y.txt"),
    ("symbolic link", [(typed("link", stat.S_IFLNK), f"{work}/outside".encode())], "link"),
    ("named pipe", [(typed("pipe", stat.S_IFIFO), b"")], "pipe"),
    ("too many entries", [(f"e{i}", b"") for i in range(MAX_ENTRIES + 1)], f"e{MAX_ENTRIES}"),
    ("too many bytes", [("one", bytes(MAX_BYTES // 2 + 1)), ("two", bytes(MAX_BYTES // 2))],
     "two"),
]
for what, entries, named in archives:
    refused(f"archive, {what}", unpack + [zip_of(what.replace(" ", "-"), entries), target],
            [f'entry "{named}"'], target)
data = os.urandom(4096)
refused("archive, more bytes than declared",
        unpack + [declaring("more", data, len(data) - 1), target], ['entry "lies.bin"'], target)
refused("archive, fewer bytes than declared",
        unpack + [declaring("fewer", data, len(data) + 1), target], ['entry "lies.bin"'], target)
with open(f"{work}/zips/garbage.zip", "wb") as garbage:
    garbage.write(b"PK\x03\x04 not really")
refused("archive, not a zip", unpack + [f"{work}/zips/garbage.zip", target], ["garbage.zip"],
        target)

# The same refusal reaches the scripts that take archives from outside, before they build,
# sign or unpack anything.
climbing = f"{work}/zips/parent-climb.zip"
refused("verify_release.sh, parent climb", ["bash", f"{top}/scripts/verify_release.sh", climbing],
        ['entry "../../../escaped.txt"'])
os.makedirs(f"{work}/signed")
refused("sign.sh, parent climb", ["bash", f"{top}/scripts/sign.sh", "--signatures",
                                  f"{work}/outside", "--out", f"{work}/signed", climbing],
        ['entry "../../../escaped.txt"'])

# A sound archive unpacks, the programs' mode kept; its entries are listed and read in place.
release = zip_of("release", [(typed("r/bin/a.exe", stat.S_IFREG), b"MZ" + data),
                             ("r/README.md", b"read me")])
code, output = run(unpack + [release, target])
expect("sound archive: exit code and output", (code, output), (0, ""))
expect("sound archive: files and modes", sorted(
    (os.path.relpath(os.path.join(folder, name), target),
     oct(os.stat(os.path.join(folder, name)).st_mode & 0o111 and 0o755 or 0o644))
    for folder, _, files in os.walk(target) for name in files),
    [("r/README.md", "0o644"), ("r/bin/a.exe", "0o755")])
expect("sound archive: listed", run(unpack + ["--list", release]), (0, "r/bin/a.exe\nr/README.md\n"))
member = subprocess.run(unpack + ["--member", release, "r/bin/a.exe"], capture_output=True)
expect("sound archive: a member read in place", member.stdout == b"MZ" + data, True)
shutil.rmtree(f"{work}/t")

# --- SBOMs: names that leave the folder checked, or reach a link in it. ---
root = f"{work}/sbom/root"
os.makedirs(f"{root}/bin")
with open(f"{root}/bin/a.exe", "wb") as program:
    program.write(b"MZ program")
secret = b"outside the release\n"
with open(f"{work}/sbom/secret.txt", "wb") as outside:
    outside.write(secret)


def component(name, content):
    return {"type": "file", "bom-ref": f"file:{name}", "hashes": [
        {"alg": "SHA-256", "content": hashlib.sha256(content).hexdigest()},
        {"alg": "SHA-512", "content": hashlib.sha512(content).hexdigest()}]}


# Each name with the link it needs, if any, planted in the root for its case only.
sboms = [
    ("parent climb", "../secret.txt", None),
    ("absolute name", f"{work}/sbom/secret.txt", None),
    ("drive letter", "C:/secret.txt", None),
    ("backslashes", "bin\\..\\..\\secret.txt", None),
    ("dot component", "bin/./a.exe", None),
    ("symbolic link to a file outside", "bin/b.exe", ("bin/b.exe", f"{work}/sbom/secret.txt")),
    ("symbolic link to a folder outside", "up/secret.txt", ("up", "..")),
    ("symbolic link among the shipped files", "bin/c.exe", ("bin/c.exe", "../../secret.txt")),
]
for index, (what, name, link) in enumerate(sboms):
    listed = [component("bin/a.exe", b"MZ program")]
    if not link or link[0] != "bin/c.exe":  # a shipped file, found without the SBOM naming it
        listed.append(component(name, secret))
    with open(f"{work}/sbom/{index}.cdx.json", "w", encoding="utf-8") as sbom:
        json.dump({"components": listed}, sbom)
    if link:
        os.symlink(link[1], f"{root}/{link[0]}")
    refused(f"SBOM, {what}", [sys.executable, f"{top}/scripts/check_sbom_files.py",
                              f"{work}/sbom/{index}.cdx.json", root],
            [f'"{name}": refused'])
    if link:
        os.remove(f"{root}/{link[0]}")

# --- Signatures folders: only plain files named <program>.sig, bounded, are read. ---
os.makedirs(f"{work}/sign/pack/r/bin")
with open(f"{work}/sign/pack/r/bin/a.exe", "wb") as program:
    program.write(b"MZ not really a program")
with open(f"{work}/sign/list", "w") as listing:
    listing.write("r/bin/a.exe\n")
subprocess.run([sys.executable, f"{top}/packaging/write_zip.py", f"{work}/sign/unsigned.zip",
                "0", f"{work}/sign/list"], cwd=f"{work}/sign/pack", check=True)
os.makedirs(f"{work}/sign/out")
signatures = f"{work}/sign/signatures"


def plant(kind):
    shutil.rmtree(signatures, ignore_errors=True)
    os.makedirs(signatures)
    sig = f"{signatures}/a.exe.sig"
    if kind == "link":
        os.symlink(f"{work}/sbom/secret.txt", sig)
    elif kind == "folder":
        os.mkdir(sig)
    elif kind == "pipe":
        os.mkfifo(sig)
    elif kind == "large":
        with open(sig, "wb") as large:
            large.write(b"-" * (256 * 1024 + 1))
    else:  # a signature that is none, beside a .sig of no program of the archive
        for name in ("a.exe.sig", "other.exe.sig"):
            with open(f"{signatures}/{name}", "w") as sig_file:
                sig_file.write("not a signature\n")


for kind, names in (("link", ["a.exe.sig is a symbolic link"]),
                    ("folder", ["a.exe.sig is not a plain file"]),
                    ("pipe", ["a.exe.sig is not a plain file"]),
                    ("large", ["a.exe.sig is larger than 262144 bytes"]),
                    ("other", ["ignored other.exe.sig", "a.exe.sig is not a signature"])):
    plant(kind)
    refused(f"signatures folder, {kind}", ["bash", f"{top}/scripts/sign.sh", "--signatures",
                                           signatures, "--out", f"{work}/sign/out",
                                           f"{work}/sign/unsigned.zip"], names)

print(f"{len(failures)} check(s) failed" if failures else "every hostile input refused")
sys.exit(1 if failures else 0)
