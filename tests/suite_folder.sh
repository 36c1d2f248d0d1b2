#!/usr/bin/env bash
# Runs a test's command with @SUITE_FOLDER@ in its arguments replaced by BASE-<Wine architecture>,
# the suite's own folder: the 32-bit and the WoW64 suite of one build tree run side by side, and
# whatever one test writes outside its Wine prefix must not be a path the other writes too.
#   suite_folder.sh WINE_RUN ARCH BASE COMMAND...
# WINE_RUN and ARCH are the build's wine-run.sh and its architecture (build-win32 or build-win64,
# which INSTKIT_WINE_ARCH replaces as for the prefix).
set -euo pipefail
folder=$("$1" --where "$2" "$3")
shift 3
command=()
for argument in "$@"; do command+=("${argument//@SUITE_FOLDER@/$folder}"); done
exec "${command[@]}"
