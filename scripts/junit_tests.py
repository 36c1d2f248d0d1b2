#!/usr/bin/env python3
"""Reads a CTest JUnit report and prints one line per test, tab-separated: its verdict (passed,
failed or skipped), its name, for a skipped test the reason it gave (GTEST_SKIP's message), and
for a failed test the first failure it reported, in short.
A test counts as skipped when it said so itself (CTest's SKIP_REGULAR_EXPRESSION, which
gtest_discover_tests sets for "[  SKIPPED ]") or is disabled; any other test that did not run
has failed.

  junit_tests.py REPORT
"""
import sys
import xml.etree.ElementTree as ElementTree


def reason(output):
    """GTEST_SKIP's message: the lines between "<file>:<line>: Skipped" and "[  SKIPPED ]"."""
    lines, taking = [], False
    for line in output.splitlines():
        if line.startswith("[  SKIPPED ]"):
            break
        if taking and line.strip():
            lines.append(line.strip())
        if line.rstrip().endswith(": Skipped"):
            taking, lines = True, []
    return " ".join(lines) or "no reason given"


def first_failure(output):
    """A failed test's first failure, on one line: from GoogleTest's "<file>:<line>: Failure" or a
    script's "FAILED: ..." on, at most five lines; else its output's last three lines."""
    lines = [line.strip() for line in output.splitlines() if line.strip()]
    for i, line in enumerate(lines):
        if line.endswith(": Failure") or line.startswith("FAILED:"):
            lines = lines[i:i + 5]
            lines = lines[:next((j for j, text in enumerate(lines) if text.startswith("[  ")),
                                len(lines))]
            break
    else:
        lines = lines[-3:]
    text = " | ".join(lines)
    return text if len(text) <= 300 else text[:297] + "..."


def main():
    try:
        tests = ElementTree.parse(sys.argv[1]).getroot().iter("testcase")
    except (OSError, ElementTree.ParseError):
        return  # no report: the caller counts no test
    for test in tests:
        name, status = test.get("name", "?"), test.get("status")
        skipped = test.find("skipped")
        if status == "run":
            print(f"passed\t{name}")
        elif status == "disabled":
            print(f"skipped\t{name}\tdisabled")
        elif (status == "notrun" and skipped is not None
              and skipped.get("message") == "SKIP_REGULAR_EXPRESSION_MATCHED"):
            print(f"skipped\t{name}\t{reason(test.findtext('system-out') or '')}")
        else:
            print(f"failed\t{name}\t{first_failure(test.findtext('system-out') or '')}")


if __name__ == "__main__":
    main()
