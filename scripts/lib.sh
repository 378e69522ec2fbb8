# shellcheck shell=sh
# What the scripts share; sourced (". scripts/lib.sh" from the checkout's
# top), never run. POSIX sh, for the scripts in bash as well.

# as_root COMMAND...: COMMAND as root, through sudo where this is not root.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# readme_blocks SECTION FENCE PREFIX: each block fenced as FENCE (```sh, say)
# under the README's "## SECTION" heading, as printed, into PREFIX1,
# PREFIX2, ...; prints how many there are.
readme_blocks() {
  awk -v section="## $1" -v fence="$2" -v prefix="$3" '
    $0 == section { s = 1; next } s && /^## / { exit }
    s && $0 == fence { n++; f = prefix n; printf "" > f; next } s && /^```/ { f = ""; next }
    f { print > f } END { print n + 0 }' README.md
}

# The names people give the files a recipe must take, a line each: spaces, a
# quote, a leading -, .tiff and .TIFF, a subfolder.
# shellcheck disable=SC2034
awkward_names="my photo.tif
-lead.tif
UP.TIFF
low.tiff
sub/in'ner.Tif
sub/plain.tif"

# make_images BUILD DIR WANT: an LZW image in DIR for each name on standard
# input (each of its own size), and BUILD's zoltenc's output for the Nth as
# WANT/N.zolt.
make_images() {
  i=0
  while IFS= read -r name; do
    i=$((i + 1))
    mkdir -p "$(dirname "$2/$name")"
    "$1/zolt_makeimage" $((40 + i * 3)) 30 "$2/$name" lzw
    "$1/zoltenc" "$2/$name" "$3/$i.zolt"
  done
}

# rgb_images FILE...: a small RGB image at each path, which zoltenc refuses.
rgb_images() {
  /usr/bin/python3 -c 'import sys, numpy, tifffile
for f in sys.argv[1:]: tifffile.imwrite(f, numpy.zeros((4, 4, 3), numpy.uint8))' "$@"
}

# enter_root ROOT ORIGIN: mounts what a chroot into ROOT needs, /proc and
# /dev, and ORIGIN read-only at ROOT/mnt/origin. Call it in a mount namespace
# of the caller's own (unshare --mount), so that the mounts end with it.
enter_root() {
  mount -t proc proc "$1/proc"
  mount --rbind /dev "$1/dev"
  mkdir -p "$1/mnt/origin"
  mount --bind -o ro "$2" "$1/mnt/origin"
}

# new_root DEST PACKAGES: a new Debian 12 root (variant apt) with PACKAGES,
# comma-separated; a tarball where DEST ends in .tar.
new_root() {
  mmdebstrap -q --variant=apt --include="$2" bookworm "$1"
}

# under_wine WHAT COMMAND...: COMMAND, and where it fails, again, up to three
# times in all, saying so. Wine now and then starts no program at all or, while
# two tests start Windows programs at once, loses a program's standard error or
# leaves a killed program's temporary file behind; run alone, the same tests
# have always passed here. COMMAND sees which try it is as $try.
under_wine() {
  what=$1
  shift
  try=1
  until "$@"; do
    [ "$try" -lt 3 ] || return 1
    echo "failed under Wine, run again: $what"
    try=$((try + 1))
  done
}
