#!/bin/sh
# Installs the Debian packages that building and testing need, and any named
# as arguments, if one is missing.
set -eu
packages="g++ cmake make libtiff-dev libgtest-dev python3 python3-numpy python3-tifffile parallel man-db groff-base file dpkg-dev lintian $*"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
