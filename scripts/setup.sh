#!/usr/bin/env bash
# Installs what the build, the demo and the tests need on a Debian 12 machine, for the route this
# host takes (scripts/route.sh): both MinGW-w64 toolchains and 64-bit Wine everywhere, 32-bit
# Wine only where the host executes 32-bit code.
set -euo pipefail
. "$(dirname "$0")/route.sh"
instkit_choose_route

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

need=()
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
for package in cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest \
  icoutils nsis wine wine64; do
  installed "$package" || need+=("$package")
done
if [ "$instkit_route" = i686 ] && ! installed wine32:i386; then need+=(wine32:i386); fi

if [ ${#need[@]} -gt 0 ]; then
  if [ "$instkit_route" = i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
fi
