# Sourced by scripts/setup.sh and scripts/debian13.sh: where apt's Debian packages come from here.

# debian_mirror SUITE [DEFAULT]: prints the address of the Debian mirror that apt already uses for
# SUITE (e.g. bookworm, or bookworm-security for the security archive), from apt's sources in
# either format; DEFAULT (http://deb.debian.org/debian unless given) when no source names SUITE.
debian_mirror() {
  local suite=$1 mirror
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    sed -n "s/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]\+\)[[:space:]]\+$suite[[:space:]].*/\2/p" |
    head -n 1)
  if [ -z "$mirror" ]; then
    # Each file's stanzas on their own: a file need not end with an empty line.
    mirror=$(awk -v suite="$suite" '
      FNR == 1 || /^[[:space:]]*$/ { if (found && uri) exit; found = 0; uri = "" }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) found = 1 }
      END { if (found && uri) print uri }' /etc/apt/sources.list.d/*.sources 2>/dev/null)
  fi
  echo "${mirror:-${2:-http://deb.debian.org/debian}}"
}
