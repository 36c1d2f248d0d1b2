# Sourced by the end-to-end test scripts: expectations counted, each failure shown with both values.
passed=0 failed=0

# expect WHAT ACTUAL EXPECTED
expect() {
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$3" "$2"
  fi
}

# expect_same_files WHAT BEFORE AFTER: two listings of files with sizes are the same; a failure
# shows the first lines that differ.
expect_same_files() {
  expect "$1 (diff: $(diff <(echo "$2") <(echo "$3") | grep '^[<>]' | head -5 | tr '\n' ' '))" \
    "$(echo "$3" | wc -l) $(echo "$3" | md5sum)" "$(echo "$2" | wc -l) $(echo "$2" | md5sum)"
}

# expect_all_met WHAT: says how many expectations held; fails when any did not.
expect_all_met() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# skip_test REASON...: ends the test as skipped, saying why, in the form GoogleTest gives a skip
# (the tests that call it set CTest's SKIP_REGULAR_EXPRESSION to "\[  SKIPPED \]").
skip_test() {
  printf '%s: Skipped\n%s\n[  SKIPPED ]\n' "$(basename "$0")" "$*"
  exit 0
}
