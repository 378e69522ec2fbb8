#!/bin/sh
# ZOLT files on a desktop, under Xvfb: Eye of GNOME showing one, and Thunar
# showing a folder of them as thumbnails (made by tumbler through the
# loader). Writes docs/eog.png and docs/thunar.png. Uses the installed
# zolt-gdk-pixbuf package where there is one, else this checkout's build.
# With --check, writes nothing: opens a ZOLT file of one colour in eog and
# fails unless that colour fills a good part of the screen.
#   scripts/release/screenshots.sh [--check]
set -eu
cd "$(dirname "$0")/../.."
check=false
[ "${1:-}" != --check ] || check=true
scripts/install-deps.sh eog thunar tumbler xvfb xauth dbus dbus-x11 imagemagick
work=$(mktemp -d "${TMPDIR:-/tmp}/zolt-screenshots.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CACHE_HOME="$work/home/.cache" XDG_CONFIG_HOME="$work/home/.config" NO_AT_BRIDGE=1
images="$HOME/Pictures"
mkdir -p "$images"

if dpkg-query -W -f='${Status}' zolt-gdk-pixbuf 2>/dev/null | grep -q "install ok installed"; then
  zoltenc=zoltenc
else
  scripts/build.sh >/dev/null
  zoltenc=build/zoltenc
  eval "$(scripts/loader-env.sh build "$work")"
fi

# Runs a program for a few seconds on a screen of its own (the size of
# Thunar's first window) and saves the screen, less any black border.
shoot() {
  out=$1 seconds=$2
  shift 2
  xvfb-run -a -s "-screen 0 640x480x24" dbus-run-session -- sh -c \
    '"$@" >/dev/null 2>&1 & sleep '"$seconds"'; import -window root -trim +repage "'"$out"'"; kill $! 2>/dev/null' \
    sh "$@" 2>/dev/null
}

if $check; then
  # Every pixel index 7, whose colour (63, 0, 31) shows as (255, 0, 125).
  /usr/bin/python3 -c "
import struct, sys
palette = bytearray(768); palette[21:24] = bytes((63, 0, 31))
sys.stdout.buffer.write(b'ZOLT' + struct.pack('<hh', 400, 300) + bytes([7]) * 120000 + b'RGB ' + palette)" \
    >"$images/one-colour"
  shoot "$work/eog.png" 5 eog --new-instance "$images/one-colour"
  share=$(convert "$work/eog.png" -fill white -opaque 'rgb(255,0,125)' -fill black +opaque white -format '%[fx:mean]' info:)
  echo "eog: $share of the screen shows the file's colour"
  awk -v s="$share" 'BEGIN { exit !(s > 0.05) }' || { echo "eog did not show the ZOLT file" >&2; exit 1; }
  exit 0
fi

# Paletted images of a few kinds, made with ImageMagick and converted.
i=0
for spec in "plasma:fractal" "gradient:navy-orange" "radial-gradient:yellow-darkgreen" "plasma:red-blue" \
  "pattern:checkerboard" "xc:teal"; do
  i=$((i + 1))
  convert -seed $i -size 320x240 "$spec" -colors 200 -type Palette -depth 8 "$work/in.tif"
  "$zoltenc" "$work/in.tif" "$images/picture-$i.zolt"
done
"$zoltenc" samples/sample.tif "$images/sample.zolt"
shoot docs/eog.png 5 eog --new-instance "$images/picture-1.zolt"
# Thunar misses some of the thumbnails tumbler finishes in a first run; a
# second shows every one from tumbler's cache.
shoot "$work/warm-up.png" 15 thunar "$images"
shoot docs/thunar.png 10 thunar "$images"
echo "wrote docs/eog.png and docs/thunar.png"
