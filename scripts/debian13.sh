#!/usr/bin/env bash
# Runs a command as root in a Debian 13 ("trixie") root, on a fresh clone of this checkout's
# commit, so that Debian 13's toolchain and Wine build and test the same sources:
#   scripts/debian13.sh [--rebuild] [COMMAND [ARGUMENT...]]    (default: scripts/test.sh)
# e.g. `scripts/debian13.sh`, `scripts/debian13.sh scripts/demo.sh`,
# `INSTKIT_TEST_ARCH=x86_64 scripts/debian13.sh`. COMMAND runs in the clone's top folder,
# /root/instkit inside the root ($INSTKIT_DEBIAN13_ROOT/root/instkit on the host), which each run
# makes anew from the commit checked out here (uncommitted changes are not in it; this
# checkout's build/ is never touched). Its exit code is the script's.
#
# The root: $INSTKIT_DEBIAN13_ROOT, by default /var/cache/instkit/debian13-root, outside any
# clone and kept between runs. The first run makes it with debootstrap (minbase) from the Debian
# mirror that apt uses here, with the trixie, trixie-updates and trixie-security suites; what the
# build and the tests need, set-up (scripts/setup.sh) installs in it, as on any host. A root made
# more than 7 days ago ($INSTKIT_DEBIAN13_MAX_DAYS) is made anew, and --rebuild makes it anew
# now; otherwise, once a day, its package lists are updated and its packages upgraded
# (apt-get dist-upgrade), so that it follows Debian 13's updates. What debootstrap and apt print
# goes to $INSTKIT_DEBIAN13_ROOT.log, shown whole when a step fails.
#
# Each run gives the root this host's trust and ways out, as a company network needs: the
# certificates under /usr/local/share/ca-certificates (then update-ca-certificates inside, and
# npm's cafile is the bundle it writes), resolv.conf, the proxy variables (http_proxy,
# https_proxy, ftp_proxy, no_proxy, in either case) and apt's Acquire::*::Proxy settings; the
# INSTKIT_* and SOURCE_DATE_EPOCH variables pass through to COMMAND. It mounts /proc, /sys, /dev,
# /dev/pts, /dev/shm (and binfmt_misc, with the interpreter of the i386 handler, so that set-up
# and the route see the emulator that runs 32-bit code here) into the root for the run, and
# unmounts them on every way out. One run at a time uses a root: a second waits for the first
# (a lock beside the root). Needs root, or sudo; installs debootstrap here with apt-get.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then exec sudo -E bash "$0" "$@"; fi
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/step.sh"
. "$top/scripts/debian_mirror.sh"
. "$top/scripts/route.sh"

rebuild=no
if [ "${1:-}" = --rebuild ]; then
  rebuild=yes
  shift
fi
if [ $# -eq 0 ]; then set -- scripts/test.sh; fi
root=${INSTKIT_DEBIAN13_ROOT:-/var/cache/instkit/debian13-root}
max_days=${INSTKIT_DEBIAN13_MAX_DAYS:-7}
if [[ $root != /?* || $root == *[[:space:]]* ]]; then
  echo "debian13.sh: INSTKIT_DEBIAN13_ROOT must be an absolute path without spaces, not '$root'" >&2
  exit 2
fi
root=${root%/}
log=$root.log
clone=/root/instkit
stamps=$root/var/lib/instkit
mkdir -p "${root%/*}"

exec 9>"$root.lock"
if ! flock -n 9; then
  echo "== Waiting for another run that uses $root"
  flock 9
fi

# Everything mounted below the root, deepest first: ours, or a killed run's.
mounted_below() { awk -v top="$root/" 'index($2, top) == 1 { print $2 }' /proc/self/mounts | sort -r; }
unmount_all() {
  local path process
  # Whatever the command left running in the root (Wine's services, say) ends with the run.
  for process in /proc/[0-9]*; do
    if [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ]; then kill "${process#/proc/}" 2>/dev/null || true; fi
  done
  for path in $(mounted_below); do umount "$path" 2>/dev/null || umount -l "$path"; done
  if [ -n "${interpreter_stand_in:-}" ]; then rm -f "$interpreter_stand_in"; fi
  interpreter_stand_in=""
}
trap unmount_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
unmount_all
if [ -n "$(mounted_below)" ]; then
  echo "debian13.sh: cannot unmount what is mounted below $root: $(mounted_below | tr "\n" " ")" >&2
  exit 1
fi

inside() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    "${passed[@]}" "$@"
}
# apt's own proxy settings here, for apt in the root; and, when the environment names none, as
# the environment's proxies, for debootstrap (which reads only those) and everything in the root.
apt_proxies=$(apt-config dump 2>/dev/null | grep -iE '^Acquire::(http|https|ftp)::Proxy(::[^ ]+)? ' || true)
for scheme in http https ftp; do
  variable=${scheme}_proxy
  if [ -z "${!variable:-}" ]; then
    value=$(sed -n "s/^Acquire::$scheme::Proxy \"\(.*\)\";\$/\1/ip" <<<"$apt_proxies" | head -n 1)
    if [ -n "$value" ] && [ "$value" != DIRECT ]; then export "$variable=$value"; fi
  fi
done
# What passes into the root: the proxies, our own settings, and npm's trust.
passed=(npm_config_cafile=/etc/ssl/certs/ca-certificates.crt)
while IFS= read -r name; do
  case "$name" in
  http_proxy | https_proxy | ftp_proxy | no_proxy | HTTP_PROXY | HTTPS_PROXY | FTP_PROXY | NO_PROXY | \
    SOURCE_DATE_EPOCH | INSTKIT_*) passed+=("$name=${!name}") ;;
  esac
done < <(compgen -e)

# This host's trust and ways out, given to the root on every run.
give_host_settings() {
  cp --remove-destination /etc/resolv.conf "$root/etc/resolv.conf"
  rm -rf "$root/usr/local/share/ca-certificates/host"
  if [ -d /usr/local/share/ca-certificates ]; then
    mkdir -p "$root/usr/local/share/ca-certificates"
    cp -rL /usr/local/share/ca-certificates "$root/usr/local/share/ca-certificates/host"
  fi
  if [ -n "$apt_proxies" ]; then
    echo "$apt_proxies" >"$root/etc/apt/apt.conf.d/80instkit-host-proxy"
  else
    rm -f "$root/etc/apt/apt.conf.d/80instkit-host-proxy"
  fi
  inside update-ca-certificates >>"$log" 2>&1
}

mount_all() {
  local handler interpreter
  mount -t proc proc "$root/proc"
  for path in sys dev dev/pts dev/shm; do
    mkdir -p "$root/$path"
    mount --bind "/$path" "$root/$path"
  done
  if mountpoint -q /proc/sys/fs/binfmt_misc; then
    mount -t binfmt_misc binfmt_misc "$root/proc/sys/fs/binfmt_misc"
    handler=$(instkit_i386_handler)
    interpreter=${handler:+$(instkit_handler_interpreter "$handler")}
    # The root's own emulator, if it has one, stays; an empty file is a killed run's stand-in.
    if [ -n "$interpreter" ] && [ -x "$interpreter" ] && [ ! -s "$root$interpreter" ]; then
      mkdir -p "$(dirname "$root$interpreter")"
      rm -f "$root$interpreter"
      : >"$root$interpreter"
      interpreter_stand_in=$root$interpreter
      mount --bind -o ro "$interpreter" "$root$interpreter"
    fi
  fi
}

make_root() {
  local mirror security host_release keyring signed_by
  if ! command -v debootstrap >/dev/null; then
    instkit_step "installing debootstrap with apt-get" "$log" \
      apt-get install -y -q -o DPkg::Lock::Timeout=300 --no-install-recommends debootstrap
  fi
  host_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  mirror=$(debian_mirror "${host_release:-trixie}")
  security=$(debian_mirror "${host_release:-trixie}-security" http://deb.debian.org/debian-security)
  rm -rf --one-file-system "$root"
  instkit_step "== Making the Debian 13 root $root with debootstrap from $mirror" "$log" \
    debootstrap --variant=minbase --include=ca-certificates,git trixie "$root" "$mirror"
  rm -f "$root/etc/apt/sources.list"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  signed_by=""
  if [ -f "$root$keyring" ]; then signed_by="Signed-By: $keyring"; fi
  {
    printf 'Types: deb\nURIs: %s\nSuites: trixie trixie-updates\nComponents: main\n%s\n' \
      "$mirror" "$signed_by"
    printf '\nTypes: deb\nURIs: %s\nSuites: trixie-security\nComponents: main\n%s\n' \
      "$security" "$signed_by"
  } >"$root/etc/apt/sources.list.d/debian.sources"
  mkdir -p "$stamps"
}

upgrade_root() {
  inside apt-get update -q && inside apt-get dist-upgrade -y -q -o DPkg::Lock::Timeout=300
}

: >"$log"
age_days=-1
if [ -f "$stamps/made" ]; then age_days=$((($(date +%s) - $(stat -c %Y "$stamps/made")) / 86400)); fi
if [ "$rebuild" = yes ] || [ "$age_days" -lt 0 ] || [ "$age_days" -ge "$max_days" ]; then
  make_root
  made=yes
else
  made=no
fi
mount_all
give_host_settings
if [ "$made" = yes ]; then
  instkit_step "== Updating the new root's packages (trixie-updates, trixie-security)" "$log" upgrade_root
  touch "$stamps/made" "$stamps/upgraded"
elif [ -z "$(find "$stamps/upgraded" -mmin -1440 2>/dev/null)" ]; then
  instkit_step "== Updating the Debian 13 root's packages (a day since the last time)" "$log" upgrade_root
  touch "$stamps/upgraded"
fi

commit=$(git -C "$top" rev-parse HEAD)
rm -rf --one-file-system "$root$clone"
clone_commit() {
  git init -q "$root$clone" &&
    git -C "$root$clone" fetch -q --no-tags "$top" HEAD &&
    git -C "$root$clone" checkout -q --detach FETCH_HEAD &&
    [ "$(git -C "$root$clone" rev-parse HEAD)" = "$commit" ]
}
instkit_step "== Cloning $commit into the root's $clone" "$log" clone_commit
if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
  echo "== Note: this checkout has uncommitted changes; the clone has the commit only"
fi
echo "== In the Debian 13 root ($(. "$root/etc/os-release" && echo "$PRETTY_NAME"), Debian" \
  "$(cat "$root/etc/debian_version"), made $(date -u -r "$stamps/made" +%F)," \
  "packages updated $(date -u -r "$stamps/upgraded" '+%F %H:%M UTC')): $*"
status=0
inside /bin/bash -c 'cd "$0" && exec "$@"' "$clone" "$@" || status=$?
exit $status
