#!/bin/sh
# Every batch recipe of the README (the shell blocks under "Converting many
# files"), as printed, on a folder of the names people have: spaces, a quote,
# a leading -, .tiff and .TIFF, a subfolder, and one RGB image that must fail.
# Each must convert every other file it takes to what a direct run writes,
# name the failing file, and fail. make, which cannot take every name, must
# name the ones it leaves out; an interrupted make is safe to run again, and
# only a stale output is made again.
#   recipes.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$tmp"
mkdir -p bin images/sub want
ln -s "$build/zoltenc" bin/zoltenc
PATH="$tmp/bin:$PATH"
export PATH
awk '/^#+ Converting many files/ { s = 1; next } s && /^##/ { exit }
     s && /^```sh/ { n++; f = "recipe" n; next } s && /^```/ { f = ""; next } f { print > f }' "$src/README.md"
[ -f recipe4 ] || fail "the README has fewer than four recipes"

i=0
for name in "my photo.tif" "-lead.tif" "UP.TIFF" "low.tiff" "sub/in'ner.Tif" "sub/plain.tif"; do
  i=$((i + 1))
  "$build/zolt_makeimage" $((40 + i * 7)) 30 "images/$name" lzw
  "$build/zoltenc" "images/$name" "want/$i.zolt"
done
/usr/bin/python3 -c 'import numpy, tifffile; tifffile.imwrite("images/sub/rgb.tif", numpy.zeros((4, 4, 3), numpy.uint8))'

for recipe in recipe*; do
  find images -name '*.zolt' -delete
  # Across machines: here, this one only (scripts/test-cluster.sh runs it
  # against real hosts). make: the makefile as the source tree has it.
  sed -i -e 's|--sshlogin [^ ]*|--sshlogin :|' -e "s|/usr/share/doc/zolt/examples/|$src/docs/examples/|" "$recipe"
  status=0
  sh "$recipe" >log 2>&1 || status=$?
  [ "$status" -ne 0 ] || fail "$recipe: status 0 with a file that cannot convert"
  grep -q "images/sub/rgb.tif" log || fail "$recipe does not name the failing file: $(cat log)"
  i=0
  for name in "my photo.tif" "-lead.tif" "UP.TIFF" "low.tiff" "sub/in'ner.Tif" "sub/plain.tif"; do
    i=$((i + 1))
    out="images/${name%.*}.zolt"
    case $name in *" "* | *"'"*) odd=$(grep -c "^make " "$recipe" || true) ;; *) odd=0 ;; esac
    if [ "$odd" -ne 0 ]; then
      grep -qF "images/$name: not converted" log || fail "$recipe: $name is not named as left out"
      [ ! -e "$out" ] || fail "$recipe converted $name"
    else
      cmp -s "want/$i.zolt" "$out" || fail "$recipe: $out differs from a direct conversion: $(cat log)"
    fi
  done
  echo "$recipe: ok, status $status"
  sed 's/^/  /' log
done

# make: interrupted part way (SIGINT, as Ctrl-C), then run again to the end;
# nothing hidden left behind; then only a stale output is made again.
make=$(grep -l "^make " recipe*)
find images -name '*.zolt' -delete
sh "$make" >/dev/null 2>&1 & pid=$!
sleep 0.05
kill -INT "$pid" 2>/dev/null || true
wait "$pid" || true
sh "$make" >/dev/null 2>&1 || true
cmp -s want/6.zolt images/sub/plain.zolt || fail "plain.zolt differs after an interrupted make"
[ "$(find images -name '.*' | wc -l)" -eq 0 ] || fail "left behind: $(find images -name '.*')"
sleep 1
touch images/sub/plain.tif
before=$(stat -c %Y images/UP.zolt)
sh "$make" >/dev/null 2>&1 || true
[ images/sub/plain.zolt -nt images/UP.zolt ] || fail "plain.zolt was not made again"
[ "$(stat -c %Y images/UP.zolt)" = "$before" ] || fail "UP.zolt was made again"
echo "recipes: ok"
