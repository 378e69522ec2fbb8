#!/bin/sh
# The newcomer's path: a brand-new Debian 12 root (mmdebstrap, variant apt,
# with ca-certificates and git), this checkout's main cloned into
# /root/project inside it, and the two commands of the README's Quick start
# run there as root with a clean environment; then the Debian packages it
# built, installed with apt, and the image loader's tests against them; and,
# in a second new root with only a compiler, cmake, pkg-config and libtiff,
# a packager's build of the programs alone.
# Prints each step's status and time; fails if any fails. Every mount lives in a mount namespace of its
# own and every folder under one temporary folder, both gone when it ends.
#   scripts/fresh-root.sh
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh mmdebstrap git
. scripts/lib.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/zolt-fresh-root.XXXXXX")
cleanup() {
  # The mounts were made in their own namespace; should any be seen here,
  # nothing under them is removed.
  if findmnt -rn -o TARGET | grep -q "^$work"; then
    echo "still mounted under $work; left in place" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The Quick start: the lines of its block.
if [ "$(readme_blocks "Quick start" '```sh' "$work/quick")" -ne 1 ] || [ "$(grep -c . "$work/quick1")" -ne 2 ]; then
  echo "the README's Quick start is not one block of two commands"
  exit 1
fi

start=$(date +%s)
new_root "$work/root" ca-certificates,git
echo "fresh root: $(($(date +%s) - start)) s"
cp /etc/resolv.conf "$work/root/etc/resolv.conf"
# A second, for a packager's build (below), before the first gets anything.
cp -a "$work/root" "$work/bare"

# Inside: the checkout (read-only) to clone from, /proc, /dev and /dev/pts;
# one PID namespace, so that nothing started inside outlives it.
unshare --mount --pid --fork --kill-child sh -eu -s "$PWD" "$work" <<'INSIDE'
src=$1 work=$2 root=$2/root
. "$src/scripts/lib.sh"
mount --make-rprivate /
enter_root "$root" "$src"
in_root() { chroot "$root" env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin sh -c "$1"; }
in_root "git -c safe.directory='*' clone -q --branch main /mnt/origin /root/project" </dev/null
status=0
while IFS= read -r command; do
  start=$(date +%s)
  if in_root "cd /root/project && $command" </dev/null >"$work/log" 2>&1; then
    s=0
    grep -E '^Wrote|tests passed|\(Skipped\)|skipped' "$work/log" || true
  else
    s=$?
    status=1
    tail -n 40 "$work/log"
  fi
  echo "fresh root, /root/project: $command: status $s, $(($(date +%s) - start)) s"
done <"$work/quick1"
[ $status -eq 0 ] || exit 1
# Then the two packages, installed with apt as a user would, so that
# Debian's triggers register the image loader and the MIME type; the
# loader's tests against what they registered, and Eye of GNOME showing a
# file.
start=$(date +%s)
if in_root "cd /root/project && (cd build && cpack -G DEB -B /tmp/packages) >/dev/null &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      /tmp/packages/zolt_*.deb /tmp/packages/zolt-gdk-pixbuf_*.deb >/dev/null &&
    python3 tests/pixbuf_test.py && scripts/release/screenshots.sh --check" </dev/null >"$work/log" 2>&1; then
  grep -E 'passed|eog:' "$work/log"
else
  status=1
  tail -n 40 "$work/log"
fi
echo "fresh root, installed packages: status $status, $(($(date +%s) - start)) s"
# A packager's build: the programs, the manual pages and the install rules
# with cmake's defaults, in a root with nothing but build-essential, cmake,
# pkg-config and libtiff-dev (no GoogleTest, Python or gdk-pixbuf).
start=$(date +%s)
bare=$work/bare
enter_root "$bare" "$src"
if chroot "$bare" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -ec "apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends build-essential cmake pkg-config \
      libtiff-dev >/dev/null
    git -c safe.directory='*' clone -q --branch main /mnt/origin /root/project && cd /root/project
    cmake -S . -B build && cmake --build build && cmake --install build --prefix /tmp/inst
    /tmp/inst/bin/zoltenc --version && /tmp/inst/bin/zoltdec --version
    ls /tmp/inst/share/man/man1/zoltenc.1.gz /tmp/inst/share/man/man5/zolt.5.gz" </dev/null >"$work/log" 2>&1; then
  grep -E 'is off|^zolt(enc|dec) ' "$work/log"
  s=0
else
  s=1
  status=1
  tail -n 40 "$work/log"
fi
echo "fresh root, a packager's build with only build-essential, cmake, pkg-config and libtiff-dev: status $s, $(($(date +%s) - start)) s"
exit $status
INSIDE
