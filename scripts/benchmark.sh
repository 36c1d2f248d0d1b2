#!/usr/bin/env bash
# Times the programs under Wine (tests/bench): the shipped 32-bit build wherever 32-bit code runs
# here, and beside it, labelled, the x86_64 build of the same sources where that 32-bit code is
# only emulated (its figures are then the emulator's speed, not the product's) or does not run.
#   benchmark.sh          build and time what this host can run
#   benchmark.sh --note   only say, in one line, when this host's 32-bit figures are emulated
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/route.sh"
instkit_i386_support
if [ "${1:-}" = --note ]; then
  if [ "$instkit_i386" = emulated ]; then
    echo "32-bit code runs here emulated by $instkit_i386_emulator: these 32-bit figures are the" \
      "emulator's speed, not the product's (scripts/benchmark.sh times the x86_64 build beside them)"
  fi
  exit 0
fi

cd "$top"
bash scripts/setup.sh
instkit_i386_support
case "$instkit_i386" in
native) runs=("release|the shipped i686 build, 32-bit code native") ;;
emulated)
  runs=("release|the shipped i686 build, 32-bit code emulated by $instkit_i386_emulator: not the product's speed"
    "release-x64|the x86_64 build of the same sources, native: the speed to compare with")
  ;;
none) runs=("release-x64|the x86_64 build of the same sources (this host runs no 32-bit code)") ;;
esac
for run in "${runs[@]}"; do
  preset=${run%%|*}
  echo
  echo "== Benchmark: ${run#*|}"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target benchmark
done
