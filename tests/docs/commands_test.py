#!/usr/bin/env python3
"""The commands in the fenced ```sh blocks of README.md and docs/*.md still work as written.

    commands_test.py SOURCE_TREE

For every command line of those blocks (a line ending in a backslash continues on the next; a
` #` starts a comment):
  - every path into the repository it names (scripts/..., tests/..., ...) exists, and a script it
    starts is executable;
  - every build/<tree> it names is a configure preset's tree, and every build/<tree>/<file> is a
    file that tree produces (a build output, or the package CPack packs there), where that tree is
    configured in the source tree's build/ (scripts/test.sh always configures build/release);
  - every --preset names a preset of its kind (configure, build or test), and every --target a
    target of that preset's tree (where configured);
  - it is run from the source tree when RUN lists it, and must exit with 0; otherwise NOT_RUN
    must say why not. A command that neither lists fails: each new command in the docs needs a
    decision here.
"""
import os
import re
import shlex
import subprocess
import sys

# Commands cheap and safe to run on every host: they read, and change nothing.
RUN = {
    "cmake --list-presets",
    "scripts/benchmark.sh --note",
    '. scripts/route.sh && instkit_choose_route && echo "$instkit_route: $instkit_route_why"',
}
# The others, by pattern, and why they are not run here.
NOT_RUN = [
    (r"^scripts/(demo|test)\.sh$",
     "builds everything and runs Wine for minutes; scripts/test.sh is the run this is part of"),
    (r"^scripts/setup\.sh$", "installs packages as root or through sudo"),
    (r"\bsudo\b", "changes this system (undoes set-up)"),
    (r"^cmake --preset |^cmake --build ", "a build of minutes, into a tree the suites use"),
    (r"^ctest --preset ", "a whole suite under Wine"),
    (r"^cmake --install ", "writes outside the source tree"),
    (r"^scripts/sign\.sh ",
     "needs a signing key; the test SignedRelease signs with one of its own"),
    (r"^git clone ", "placeholders (<repository>, <release commit>) and the network"),
    (r"^scripts/verify_release\.sh ",
     "needs a published release; the test SignedRelease verifies one"),
    (r"(^|=x86_64 )scripts/debian13\.sh( |$)",
     "makes a Debian 13 root as root and runs a whole leg in it; .ci/run runs it"),
    (r"^scripts/benchmark\.sh$", "builds and times the programs under Wine for minutes"),
]
REPO_PATH = re.compile(r"^(\./)?(scripts|packaging|tests|examples|tools|cmake|instutil|resources|"
                       r"docs|add_shortcuts|remove_shortcuts|suite|\.ci)/")
SEPARATORS = {"&&", "||", "|", ";", "&"}

top = os.path.realpath(sys.argv[1])
failures = []


def fail(where, what):
    failures.append(f"{where}: {what}")


def commands(page):
    """(line number, command line) of each command in the page's ```sh blocks."""
    found, in_block, pending = [], False, None
    with open(os.path.join(top, page), encoding="utf-8") as text:
        for number, line in enumerate(text, 1):
            line = line.rstrip("\n")
            if not in_block:
                in_block = line.strip() == "```sh"
                continue
            if line.strip() == "```":
                in_block = False
                continue
            line = re.sub(r"(^|\s)#.*$", "", line).rstrip()
            if pending:
                line = pending[1] + " " + line.strip()
                number = pending[0]
            pending = (number, line[:-1].rstrip()) if line.endswith("\\") else None
            if not pending and line.strip():
                found.append((number, " ".join(line.split())))
    return found


def presets():
    listing = subprocess.run(["cmake", "--list-presets=all"], cwd=top, capture_output=True,
                             text=True, check=True).stdout
    kinds, kind = {}, None
    for line in listing.splitlines():
        heading = re.match(r"Available (\w+) presets:", line)
        if heading:
            kind = heading.group(1)
            kinds[kind] = set()
        elif kind and re.match(r'\s+"', line):
            kinds[kind].add(line.split('"')[1])
    return kinds


PRESETS = presets()
trees = {}


def tree_outputs(preset):
    """What build/<preset> produces, or None when that tree is not configured here."""
    if preset not in trees:
        tree = os.path.join(top, "build", preset)
        if not os.path.exists(os.path.join(tree, "build.ninja")):
            trees[preset] = None
        else:
            listing = subprocess.run(["ninja", "-C", tree, "-t", "targets", "all"],
                                     capture_output=True, text=True, check=True).stdout
            outputs = {line.rsplit(": ", 1)[0] for line in listing.splitlines()}
            with open(os.path.join(tree, "CPackConfig.cmake"), encoding="utf-8") as config:
                package = re.search(r'set\(CPACK_PACKAGE_FILE_NAME "([^"]+)"\)', config.read())
            if package:
                outputs.add(package.group(1) + ".zip")
            trees[preset] = outputs
    return trees[preset]


unchecked = set()


def check_build_path(where, word):
    parts = word.rstrip("/").split("/", 2)
    if len(parts) < 2 or parts[1] not in PRESETS["configure"]:
        fail(where, f"{word}: build/<tree> is no configure preset's tree")
        return
    if len(parts) == 3:
        outputs = tree_outputs(parts[1])
        if outputs is None:
            unchecked.add(f"build/{parts[1]} (not configured here)")
        elif parts[2] not in outputs:
            fail(where, f"{word}: no build output of build/{parts[1]}")


def check_words(where, command):
    lexer = shlex.shlex(command, posix=True, punctuation_chars=True)
    lexer.whitespace_split, lexer.commenters = True, ""
    words = list(lexer)
    start, program, preset = 0, None, None
    for i, word in enumerate(words):
        if word in SEPARATORS:
            start, program, preset = i + 1, None, None
            continue
        if i == start:
            program = word
        if REPO_PATH.match(word):
            path = os.path.join(top, word)
            if not os.path.exists(path):
                fail(where, f"{word}: no such file in the source tree")
            elif i == start and not os.access(path, os.X_OK):
                fail(where, f"{word}: started as a program, but not executable")
        elif word.startswith("build/"):
            check_build_path(where, word)
        if i > 0 and words[i - 1] == "--preset":
            kind = ("test" if program == "ctest" else
                    "build" if "--build" in words[start:i] else "configure")
            preset = word
            if word not in PRESETS.get(kind, ()):
                fail(where, f"--preset {word}: no {kind} preset of that name")
        if i > 0 and "--target" in words[start:i] and not word.startswith("-") and preset:
            outputs = tree_outputs(preset)
            if outputs is None:
                unchecked.add(f"build/{preset} (not configured here)")
            elif word not in outputs:
                fail(where, f"--target {word}: no target of build/{preset}")


pages = ["README.md"] + sorted("docs/" + name for name in os.listdir(os.path.join(top, "docs"))
                               if name.endswith(".md"))
ran, not_run = 0, {}
for page in pages:
    for number, command in commands(page):
        where = f"{page}:{number}"
        check_words(where, command)
        if command in RUN:
            result = subprocess.run(["bash", "-c", command], cwd=top, capture_output=True,
                                    text=True, timeout=120)
            ran += 1
            print(f"ran {where}: {command}\n    " + (result.stdout + result.stderr).strip()
                  .replace("\n", "\n    "))
            if result.returncode != 0:
                fail(where, f"{command}: exit code {result.returncode}")
            continue
        reason = next((why for pattern, why in NOT_RUN if re.search(pattern, command)), None)
        if reason is None:
            fail(where, f"{command}: neither run nor said why not (RUN, NOT_RUN in {sys.argv[0]})")
        else:
            not_run.setdefault(reason, []).append(f"{where}: {command}")

for reason, lines in not_run.items():
    print(f"not run, {reason}:\n    " + "\n    ".join(lines))
for tree in sorted(unchecked):
    print(f"not checked: the outputs and targets of {tree}")
for failure in failures:
    print(f"FAILED: {failure}")
print(f"{len(pages)} pages: {ran} commands run, {sum(map(len, not_run.values()))} not run, "
      f"{len(failures)} failures")
sys.exit(1 if failures or ran == 0 else 0)
