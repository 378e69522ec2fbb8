#!/bin/sh
# Installs the Debian packages that building and testing need, and any named
# as arguments, if one is missing; a package of another architecture
# (wine32:i386) adds that architecture first.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
packages="g++ cmake make pkg-config libtiff-dev libgtest-dev libgdk-pixbuf-2.0-dev python3 python3-numpy python3-tifffile
  python3-gi gir1.2-gdkpixbuf-2.0 libgdk-pixbuf2.0-bin libglib2.0-bin shared-mime-info parallel man-db groff-base file
  dpkg-dev lintian $*"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && continue
  missing="$missing $p"
  case $p in
    *:*) arch=${p#*:}
         [ "$arch" = "$(dpkg --print-architecture)" ] || dpkg --print-foreign-architectures | grep -qx "$arch" ||
           as_root dpkg --add-architecture "$arch" ;;
  esac
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
as_root apt-get update -qq
# shellcheck disable=SC2086
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
