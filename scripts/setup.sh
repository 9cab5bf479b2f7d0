#!/bin/sh
# Installs the Debian packages that building and testing need, when missing.
# Usage: scripts/setup.sh [extra-package ...]
# (SETUP_POLICY_RC_D names the policy file in its place, for its test.)
set -eu

packages="g++ make cmake libgtest-dev $*"

missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'install ok installed'; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=""
elif command -v sudo >/dev/null 2>&1; then
  as_root="sudo"
else
  echo "setup: need root (or sudo) to install:$missing" >&2
  exit 1
fi
echo "setup: installing$missing"
# Install without starting services: nothing installed for building or
# testing is to run on its own (a policy of the machine's own is kept).
policy=${SETUP_POLICY_RC_D:-/usr/sbin/policy-rc.d}
if [ ! -e "$policy" ]; then
  # Ours once it is there: a stop at sudo's password prompt, before it is,
  # asks for no password again.
  remove_policy() {
    if [ -e "$policy" ]; then $as_root rm -f "$policy" || true; fi
  }
  # Whatever ends the script: dash runs no EXIT trap when a signal ends it,
  # so each (Ctrl+C, Ctrl+\, kill, a closed terminal or pipe) removes the
  # file first, then ends it as it would have.
  trap remove_policy EXIT
  for signal in INT QUIT TERM HUP PIPE; do
    trap "trap - EXIT $signal; remove_policy; kill -$signal \$\$" "$signal"
  done
  $as_root sh -c "printf '#!/bin/sh\nexit 101\n' >\"\$1\" && chmod +x \"\$1\"" \
    sh "$policy"
fi
# A fresh machine has empty package lists.
$as_root apt-get update
$as_root env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends $missing
