#!/usr/bin/env bash
# Builds everything and runs every test under Wine, on the route this host takes
# (scripts/route.sh; INSTKIT_TEST_ARCH=i686 or x86_64 forces one):
#   every host  the shipped 32-bit release build: programs, library and every test compile (the
#               32-bit layout checks hold), and its programs are examined (image, rebuild)
#   i686        the whole suite on that build in a 32-bit prefix, again in a 64-bit prefix
#               (WoW64, as on 64-bit Windows), and on the x86_64 build; the same whether the
#               host runs 32-bit code natively or emulated
#   x86_64      the whole suite on the x86_64 build
# Each tree's build is one line, its output in build/test-build-<preset>.log. Ends with CTest's
# closing lines over every suite run, counted from CTest's JUnit reports, and per suite the child
# starts that Wine let die and the tests made again; any suite failing or running no test fails
# the whole.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/setup.sh
. scripts/route.sh
instkit_choose_route
echo "== Route: $instkit_route, $instkit_route_why"

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
mkdir -p build
. scripts/step.sh
build_release() { cmake --preset release && cmake --build --preset release; }
build_x64() {
  cmake --preset debug-x64 -DINSTKIT_SHIPPED_PROGRAMS="$top/build/release" &&
    cmake --build --preset debug-x64
}
rm -f build/test-build-*.log
instkit_step "== Building the shipped 32-bit release tree (preset release)" \
  build/test-build-release.log build_release

names=() counts=() failures=() failed_lines=() walls=() restarts=()
total_seconds=0

# run_suite NAME TEST-PRESET: one CTest run, its figures, from CTest's JUnit report, kept for the
# closing summary.
run_suite() {
  local name=$1 preset=$2 report="$logs/${#names[@]}.xml" restart_log="$logs/${#names[@]}.restarts"
  local count=0 failed=0 status=0 started=$SECONDS testcases
  echo
  echo "== Suite: $name (ctest --preset $preset)"
  : >"$restart_log"
  INSTKIT_RESTART_LOG=$restart_log ctest --preset "$preset" --output-junit "$report" || status=$?
  walls+=("$((SECONDS - started))")
  testcases=$(grep -o '<testcase [^>]*>' "$report" 2>/dev/null || true)
  if [ -n "$testcases" ]; then
    count=$(grep -c . <<<"$testcases")
    failed=$(grep -c -E 'status="(fail|notrun)"' <<<"$testcases" || true)
    while IFS= read -r line; do failed_lines+=("	$line [$name]"); done \
      < <(grep -E 'status="(fail|notrun)"' <<<"$testcases" | sed 's/.* name="\([^"]*\)".*/\1/')
  fi
  if [ "$count" -eq 0 ]; then
    # A suite that was meant to run and ran nothing is a failure, never a skip.
    failed=1
    failed_lines+=("	(suite '$name' ran no test)")
  elif [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
    # CTest failed outside any test (a test program whose tests could not be listed, say).
    failed=1
    failed_lines+=("	(suite '$name': ctest exited with $status)")
  fi
  names+=("$name") counts+=("$count") failures+=("$failed")
  total_seconds=$(awk -v a="$total_seconds" -v b="$(sed -n 's/^[[:space:]]*time="\([0-9.]*\)".*/\1/p' \
    "$report" 2>/dev/null | head -1)" 'BEGIN { print a + b }')
  restarts+=("$(grep -c . "$restart_log" || true)")
}

if [ "$instkit_route" = i686 ]; then
  run_suite "i686 build, 32-bit prefix" release
  run_suite "i686 build, 64-bit prefix (WoW64)" release-wow64
fi
# The x86_64 suite also examines the shipped 32-bit programs of build/release.
echo
instkit_step "== Building the x86_64 tree (preset debug-x64)" build/test-build-debug-x64.log \
  build_x64
run_suite "x86_64 build, 64-bit prefix" debug-x64

echo
echo "== Summary (route $instkit_route, $instkit_route_why; $((SECONDS / 60)) min $((SECONDS % 60)) s in all)"
all=0 bad=0 restarted=0
for i in "${!names[@]}"; do
  echo "   ${names[$i]}: $((counts[i] - failures[i])) of ${counts[$i]} passed in ${walls[$i]} s;" \
    "child starts that Wine let die and the tests made again: ${restarts[$i]}"
  all=$((all + counts[i])) bad=$((bad + failures[i])) restarted=$((restarted + restarts[i]))
done
echo
if [ "$bad" -eq 0 ]; then percent=100; else percent=$(((all - bad) * 100 / (all > 0 ? all : 1))); fi
echo "$percent% tests passed, $bad tests failed out of $all"
echo
echo "Total Test time (real) = $total_seconds sec"
if [ "$bad" -ne 0 ]; then
  echo
  echo "The following tests FAILED:"
  printf '%s\n' "${failed_lines[@]}"
  echo "Errors while running CTest"
  exit 1
fi
