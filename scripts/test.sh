#!/usr/bin/env bash
# Builds everything and runs every test under Wine, on the route this host takes
# (scripts/route.sh; INSTKIT_TEST_ARCH=i686 or x86_64 forces one):
#   every host  the shipped 32-bit release build: programs, library and every test compile (the
#               32-bit layout checks hold), and its programs are examined (image, rebuild)
#   i686        the whole suite on that build in a 32-bit prefix, again in a 64-bit prefix
#               (WoW64, as on 64-bit Windows), and on the x86_64 build; the same whether the
#               host runs 32-bit code natively or emulated
#   x86_64      the whole suite on the x86_64 build
# Ends with CTest's closing lines over every suite run; any suite failing or running no test
# fails the whole.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/setup.sh
. scripts/route.sh
instkit_choose_route
echo "== Route: $instkit_route, $instkit_route_why"
# Each suite names its own prefix architecture: one left set in the caller's environment would
# run the 32-bit-prefix suite under WoW64 instead.
if [ -n "${INSTKIT_WINE_ARCH:-}" ]; then
  echo "== Ignoring INSTKIT_WINE_ARCH=$INSTKIT_WINE_ARCH from the environment: each suite sets its own"
  unset INSTKIT_WINE_ARCH
fi

cmake --preset release
cmake --build --preset release

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
names=() counts=() failures=() failed_lines=() walls=()
total_seconds=0

# run_suite NAME TEST-PRESET: one CTest run, its figures kept for the closing summary.
run_suite() {
  local name=$1 preset=$2 log="$logs/${#names[@]}.log" count failed seconds
  echo
  echo "== Suite: $name (ctest --preset $preset)"
  local status=0 started=$SECONDS
  ctest --preset "$preset" 2>&1 | tee "$log" || status=$?
  walls+=("$((SECONDS - started))")
  count=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -1)
  failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of [0-9]*$/\1/p' "$log" | tail -1)
  seconds=$(sed -n 's/^Total Test time (real) = *\([0-9.]*\) sec$/\1/p' "$log" | tail -1)
  if [ -z "$count" ] || [ "$count" -eq 0 ]; then
    # A suite that was meant to run and ran nothing is a failure, never a skip.
    count=0 failed=1
    failed_lines+=("	(suite '$name' ran no test)")
  fi
  if [ "$status" -ne 0 ] && [ "${failed:-0}" -eq 0 ]; then
    # CTest failed outside any test (a test program whose tests could not be listed, say).
    failed=1
    failed_lines+=("	(suite '$name': ctest exited with $status)")
  fi
  while IFS= read -r line; do failed_lines+=("$line"); done \
    < <(sed -n '/^The following tests FAILED:/,/^Errors while running CTest/p' "$log" |
      grep -E '^[[:space:]]+[0-9]+ - ' | sed "s/\$/ [$name]/")
  names+=("$name") counts+=("$count") failures+=("${failed:-1}")
  total_seconds=$(awk -v a="$total_seconds" -v b="${seconds:-0}" 'BEGIN { print a + b }')
}

if [ "$instkit_route" = i686 ]; then
  run_suite "i686 build, 32-bit prefix" release
  run_suite "i686 build, 64-bit prefix (WoW64)" release-wow64
fi
# The x86_64 suite also examines the shipped 32-bit programs of build/release.
cmake --preset debug-x64 -DINSTKIT_SHIPPED_PROGRAMS="$top/build/release"
cmake --build --preset debug-x64
run_suite "x86_64 build, 64-bit prefix" debug-x64

echo
echo "== Summary (route $instkit_route, $instkit_route_why; $((SECONDS / 60)) min $((SECONDS % 60)) s in all)"
all=0 bad=0
for i in "${!names[@]}"; do
  echo "   ${names[$i]}: $((counts[i] - failures[i])) of ${counts[$i]} passed in ${walls[$i]} s"
  all=$((all + counts[i])) bad=$((bad + failures[i]))
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
