#!/usr/bin/env bash
# Builds everything and runs every test under Wine, on the route this host takes
# (scripts/route.sh; INSTKIT_TEST_ARCH=i686 or x86_64 forces one):
#   every host  the shipped 32-bit release build: programs, library and every test compile (the
#               32-bit layout checks hold), and its programs are examined (image, rebuild)
#   i686        the whole suite on that build in a 32-bit prefix, again in a 64-bit prefix
#               (WoW64, as on 64-bit Windows), and on the x86_64 build; the same whether the
#               host runs 32-bit code natively or emulated
#   x86_64      the whole suite on the x86_64 build
# The suites run side by side, each as soon as its tree is built: the shipped programs are built
# first, then the rest of the release tree and the x86_64 tree (which needs only those programs)
# at once. Each build is one line, its output in build/test-build-<preset>.log; each suite's CTest
# output goes to build/test-suite-<test preset>.log and is printed whole when the suite ends. Ends
# with CTest's closing lines over every suite run, counted from CTest's JUnit reports, with each
# suite's wall time and the starts that Wine let die and the tests made again, and under
# each failed test its first failure in short; any build or suite failing, or a suite running no
# test, fails the whole.
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
build_programs() {
  cmake --preset release &&
    cmake --build --preset release --target add_shortcuts remove_shortcuts check_shortcuts
}
build_release() { cmake --build --preset release; }
build_x64() {
  cmake --preset debug-x64 -DINSTKIT_SHIPPED_PROGRAMS="$top/build/release" &&
    cmake --build --preset debug-x64
}
# Each suite's test programs list their tests when CTest first reads them, and write the list
# into the build tree: the two suites of the release tree must not both do it at once.
list_tests() { ctest --preset release -N; }
rm -f build/test-build-*.log build/test-suite-*.log

# The background jobs: a build or a suite each, by process id; a job's name, its log and, once it
# has ended, its exit code and wall time in $logs/<name>.{status,wall}.
declare -A job_of=()
# start NAME LOG COMMAND...
start() {
  local name=$1 log=$2
  shift 2
  (
    started=$SECONDS status=0
    "$@" >>"$log" 2>&1 </dev/null || status=$?
    echo "$((SECONDS - started))" >"$logs/$name.wall"
    echo "$status" >"$logs/$name.status"
  ) &
  job_of[$!]=$name
}

# Suites: name, test preset and figures, by the order in which they end.
names=() counts=() failures=() skips=() failed_lines=() skipped_lines=() walls=() restarts=()
suites_wall=0
suite_label() {
  case $1 in
  release) echo "i686 build, 32-bit prefix" ;;
  release-wow64) echo "i686 build, 64-bit prefix (WoW64)" ;;
  debug-x64) echo "x86_64 build, 64-bit prefix" ;;
  esac
}
suites_started=
# start_suite PRESET [CTEST-ARGUMENTS...]
start_suite() {
  local preset=$1
  shift
  suites_started=${suites_started:-$SECONDS}
  : >"$logs/$preset.restarts"
  INSTKIT_RESTART_LOG=$logs/$preset.restarts start "suite-$preset" "build/test-suite-$preset.log" \
    ctest --preset "$preset" --output-junit "$logs/$preset.xml" "$@"
}
# ReproducibleBuild builds the shipped programs twice from the sources, in folders of its own, and
# never looks at a suite's tree or prefix: its verdict is the same in every suite. Where the
# 32-bit suite runs it, the other two leave it out rather than build the same four times over.
once_is_enough=(-E '^ReproducibleBuild$')
# The suite's log, whole, and its figures from CTest's JUnit report, kept for the closing summary.
end_suite() {
  local preset=$1 name count failed status verdict test reason
  name=$(suite_label "$preset")
  status=$(cat "$logs/suite-$preset.status")
  echo
  echo "== Suite: $name (ctest --preset $preset; log: build/test-suite-$preset.log)"
  cat "build/test-suite-$preset.log"
  walls+=("$(cat "$logs/suite-$preset.wall")")
  python3 scripts/junit_tests.py "$logs/$preset.xml" >"$logs/$preset.tests"
  count=$(grep -c . "$logs/$preset.tests" || true)
  failed=$(grep -c '^failed' "$logs/$preset.tests" || true)
  while IFS=$'\t' read -r verdict test reason; do
    case $verdict in
    failed) failed_lines+=("	$test [$name]${reason:+$'\n'		$reason}") ;;
    skipped) skipped_lines+=("$test [$name]: $reason") ;;
    esac
  done <"$logs/$preset.tests"
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
  skips+=("$(grep -c '^skipped' "$logs/$preset.tests" || true)")
  suites_wall=$((SECONDS - suites_started))
  restarts+=("$(grep -c . "$logs/$preset.restarts" || true)")
}
# A build's one line; true when it succeeded. A failed build shows its log whole, and fails the
# whole run once the suites already running have ended; its suites do not start.
build_failures=()
end_build() {
  local what=$1 log=$2 name=$3 status
  status=$(cat "$logs/$name.status")
  if [ "$status" -ne 0 ]; then
    echo "$what... failed (exit code $status); $log holds:"
    cat "$log"
    build_failures+=("	($what: exit code $status)")
    return 1
  fi
  echo "$what... done in $(cat "$logs/$name.wall") s; log: $log"
}

instkit_step "== Building the shipped 32-bit programs (preset release)" \
  build/test-build-release.log build_programs
start build-release build/test-build-release.log build_release
start build-x64 build/test-build-debug-x64.log build_x64
while [ ${#job_of[@]} -gt 0 ]; do
  ended=
  wait -n -p ended "${!job_of[@]}" || true
  name=${job_of[$ended]}
  unset "job_of[$ended]"
  case $name in
  build-release)
    if end_build "== Building the rest of the release tree (preset release)" \
      build/test-build-release.log "$name" && [ "$instkit_route" = i686 ]; then
      instkit_step "== Listing the release tree's tests" build/test-build-release.log list_tests ||
        true # a test program that cannot list its tests fails its suites
      echo "== Suites started: $(suite_label release), $(suite_label release-wow64)" \
        "(ReproducibleBuild in the first only)"
      start_suite release
      start_suite release-wow64 "${once_is_enough[@]}"
    fi
    ;;
  build-x64)
    if end_build "== Building the x86_64 tree (preset debug-x64)" \
      build/test-build-debug-x64.log "$name"; then
      if [ "$instkit_route" = i686 ]; then
        echo "== Suite started: $(suite_label debug-x64) (ReproducibleBuild in the 32-bit suite)"
        start_suite debug-x64 "${once_is_enough[@]}"
      else
        echo "== Suite started: $(suite_label debug-x64)"
        start_suite debug-x64
      fi
    fi
    ;;
  suite-*) end_suite "${name#suite-}" ;;
  esac
done

echo
# Which Debian release and which Wine ran the tests: the summary of each host's run says so.
debian=$(. /etc/os-release && echo "${NAME:-Linux} ${VERSION:-}")
if [ -r /etc/debian_version ]; then debian+=", $(cat /etc/debian_version)"; fi
wine=$(/usr/lib/wine/wine64 --version 2>/dev/null || echo "not found")
echo "== Summary ($debian; Wine ${wine#wine-}; route $instkit_route, $instkit_route_why;" \
  "$((SECONDS / 60)) min $((SECONDS % 60)) s in all)"
all=0 bad=0 skipped=0 restarted=0
for i in "${!names[@]}"; do
  echo "   ${names[$i]}: $((counts[i] - failures[i] - skips[i])) of ${counts[$i]} passed," \
    "${skips[$i]} skipped, in ${walls[$i]} s;" \
    "starts that Wine let die and the tests made again: ${restarts[$i]}"
  all=$((all + counts[i])) bad=$((bad + failures[i])) skipped=$((skipped + skips[i]))
  restarted=$((restarted + restarts[i]))
done
echo "   all suites, side by side: $suites_wall s from the first one's start to the last one's end;" \
  "the whole run with set-up and builds: $((SECONDS / 60)) min $((SECONDS % 60)) s"
if [ "$skipped" -ne 0 ]; then
  echo "   skipped, with the reason each gave:"
  printf '      %s\n' "${skipped_lines[@]}"
fi
echo
if [ "$bad" -eq 0 ]; then percent=100; else percent=$(((all - bad) * 100 / (all > 0 ? all : 1))); fi
echo "$percent% tests passed, $bad tests failed out of $all"
echo
# The suites ran side by side: their real time is from the first one's start to the last one's end.
echo "Total Test time (real) = $suites_wall sec"
if [ "$bad" -ne 0 ]; then
  echo
  echo "The following tests FAILED:"
  printf '%s\n' "${failed_lines[@]}"
  echo "Errors while running CTest"
fi
if [ ${#build_failures[@]} -ne 0 ]; then
  echo
  echo "The following builds FAILED:"
  printf '%s\n' "${build_failures[@]}"
fi
[ "$bad" -eq 0 ] && [ ${#build_failures[@]} -eq 0 ]
