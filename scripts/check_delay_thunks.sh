#!/usr/bin/env bash
# Checks in linker maps that every delay-loaded function a program calls kept its thunk: the
# function's import slot starts out pointing at the thunk, and a thunk the linker dropped leaves
# it at address 0, which the program calls on first use.
#   check_delay_thunks.sh DEF_FOLDER MAP...   (DEF_FOLDER holds the delay-load .def files)
set -euo pipefail
defs=$1
shift
# The function names: the lines after each file's EXPORTS line.
functions=$(sed -s -n -e '1,/^EXPORTS$/d' \
  -e '/^[A-Za-z_][A-Za-z0-9_]*\(@[0-9]*\)\{0,1\}$/p' "$defs"/*.def)
bad=0
for map in "$@"; do
  checked=0
  for function in $functions; do
    # Maps name i686 symbols without their leading underscore; x86_64 names have no @N.
    grep -qE "^ +0x[0-9a-f]+ +(_imp__|__imp_)${function%@*}(@[0-9]+)?$" "$map" || continue
    checked=$((checked + 1))
    if ! grep -qE "^ +0x[0-9a-f]+ +${function%@*}(@[0-9]+)?$" "$map"; then
      echo "$map: the delay-load thunk of ${function%@*} was dropped" >&2
      bad=1
    fi
  done
  echo "$map: $checked delay-loaded functions checked"
  [ "$checked" -gt 0 ] || { echo "$map: no delay-loaded function found" >&2; bad=1; }
done
exit $bad
