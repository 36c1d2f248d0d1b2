#!/usr/bin/env python3
"""Reads a CTest JUnit report and prints one line per test, tab-separated: its verdict (passed,
failed or skipped), its name, and for a skipped test the reason it gave (GTEST_SKIP's message).
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
            print(f"failed\t{name}")


if __name__ == "__main__":
    main()
