#!/usr/bin/env bash
# Builds everything (debug) and runs every test under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/setup.sh
cmake --preset debug
cmake --build --preset debug
ctest --preset debug
