#!/bin/sh
# Unpacks Debian's source of library NAME, at exactly the version that
# scripts/targets/libraries gives it, into DEST (removed first), and prints that
# version. Adds deb-src lists for bookworm (derived from debian.sources) and
# for unstable where apt has none. Fails, saying why, when that version
# cannot be had: nothing else is unpacked in its place.
#   scripts/targets/debian-source.sh NAME DEST
set -eu
name=$1 dest=$2
scripts_dir=$(dirname "$0")
. "$scripts_dir/../lib.sh"
"$scripts_dir/../install-deps.sh" dpkg-dev >&2
set -- $(awk -v n="$name" '$1 == n { print $2, $3 }' "$scripts_dir/libraries")
[ $# -eq 2 ] || { echo "$name is not in scripts/targets/libraries" >&2; exit 1; }
source=$1 version=$2
lists=/etc/apt/sources.list.d
if [ ! -f "$lists/zolt-deb-src.sources" ] || [ ! -f "$lists/zolt-unstable-src.sources" ]; then
  sed 's/^Types: deb$/Types: deb-src/' "$lists/debian.sources" | as_root tee "$lists/zolt-deb-src.sources" >/dev/null
  # Sources only: no binary package comes from unstable.
  printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: unstable' 'Components: main' \
    'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | as_root tee "$lists/zolt-unstable-src.sources" >/dev/null
  as_root apt-get update -qq
elif ! apt-cache showsrc "$source" 2>/dev/null | grep -qx "Version: $version"; then
  as_root apt-get update -qq
fi
dl=$(mktemp -d)
trap 'rm -rf "$dl"' EXIT
if ! (cd "$dl" && apt-get source -qq --download-only "$source=$version" >"$dl/log" 2>&1); then
  grep -E '^(E|W):' "$dl/log" >&2 || cat "$dl/log" >&2
  echo "Debian's source package $source $version cannot be had; pick a version it serves in scripts/targets/libraries" >&2
  exit 1
fi
rm -rf "$dest" && mkdir -p "$(dirname "$dest")"
dpkg-source -x -q "$dl"/*.dsc "$dest" >"$dl/log" 2>&1 || { cat "$dl/log" >&2; exit 1; }
echo "$version"
