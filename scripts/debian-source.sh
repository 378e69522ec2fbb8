#!/bin/sh
# Unpacks Debian's source of the installed package BINARY into DEST (removed
# first) and prints the version unpacked: the installed one or, where the
# archive no longer holds that exact version, the newest source of the same
# upstream release (said on standard error). Adds a deb-src list derived from
# debian.sources where apt has none.
#   scripts/debian-source.sh BINARY DEST
set -eu
binary=$1 dest=$2
scripts_dir=$(dirname "$0")
"$scripts_dir/install-deps.sh" dpkg-dev >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
package="$binary:$(dpkg --print-architecture)"
source=$(dpkg-query -W -f='${source:Package}' "$package")
installed=$(dpkg-query -W -f='${source:Version}' "$package")
if ! apt-cache showsrc "$source" 2>/dev/null | grep -q '^Version:'; then
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
    $sudo tee /etc/apt/sources.list.d/zolt-deb-src.sources >/dev/null
  $sudo apt-get update -qq
fi
dl=$(mktemp -d)
trap 'rm -rf "$dl"' EXIT
got=""
for version in "$installed" $(apt-cache showsrc "$source" | sed -n 's/^Version: //p' | grep -F "${installed%%-*}-" | sort -rV); do
  if (cd "$dl" && apt-get source -qq --download-only "$source=$version" >/dev/null 2>&1); then
    got=$version
    break
  fi
done
[ -n "$got" ] || { echo "no source package of $source $installed can be had" >&2; exit 1; }
[ "$got" = "$installed" ] || echo "$source $installed is installed; its source is not to be had, unpacking $got" >&2
rm -rf "$dest"
dpkg-source -x -q "$dl"/*.dsc "$dest" >"$dl/log" 2>&1 || { cat "$dl/log" >&2; exit 1; }
echo "$got"
