#!/bin/sh
# The make example of the manual page and README, on a folder of generated
# images: every output right, only stale ones redone, and an interrupted run
# safe to run again.
#   make_example.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mk="make -s -f $src/docs/examples/convert.mk DIR=$tmp ZOLTENC=$build/zoltenc"
for i in 1 2 3 4 5 6 7 8; do "$build/zolt_makeimage" $((300 + i * 40)) 1200 "$tmp/img$i.tif" lzw; done

# Interrupted part way (SIGINT, as Ctrl-C), then run again to the end.
$mk -j2 & pid=$!
sleep 0.05
kill -INT "$pid" 2>/dev/null || true
wait "$pid" || true
$mk -j2
for i in 1 2 3 4 5 6 7 8; do
  "$build/zoltenc" "$tmp/img$i.tif" "$tmp/want.zolt"
  cmp -s "$tmp/want.zolt" "$tmp/img$i.zolt" || fail "img$i.zolt differs from a direct conversion"
done
[ "$(find "$tmp" -name '.*' | wc -l)" -eq 0 ] || fail "left behind: $(find "$tmp" -name '.*')"

# Only a stale output is made again.
sleep 1
touch "$tmp/img3.tif"
before=$(stat -c %Y "$tmp/img5.zolt")
$mk -j2
[ "$tmp/img3.zolt" -nt "$tmp/img5.zolt" ] || fail "img3.zolt was not made again"
[ "$(stat -c %Y "$tmp/img5.zolt")" = "$before" ] || fail "img5.zolt was made again"
echo "make example: ok"
