#!/bin/sh
# The programs of two builds, the second run under a wrapper (an emulator),
# write the same bytes and give the same status and message (the last line;
# libtiff's own lines may differ: it prints a bad magic number in the host's
# byte order) for the same inputs: the tests' own (saved by the test suite as
# it runs, both byte orders among them), the committed test files, the fuzz
# corpora and regressions and the sample; every TIFF through zoltenc, and
# every ZOLT file, given or written by that, through zoltdec. The builds'
# libtiff may be different releases (Debian's, and the one built from source
# for another target): damaged files must still fail alike.
# LEAVE_OUT, where given, is a pattern of the tests' input names (the test
# cases' names) to leave out, for a difference the caller has explained.
#   same_bytes.sh BUILD_A BUILD_B [WRAPPER [LEAVE_OUT]]
set -eu
. scripts/lib.sh
a=$1 b=$2 wrapper=${3:-} leave_out=${4:-}
exe=""
[ ! -f "$b/zoltenc.exe" ] || exe=.exe  # a Windows build
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ZOLT_SEED_DIR=$tmp/seeds "$a/zolt_tests" --gtest_filter='Layouts/*:Programs/*' >/dev/null 2>&1 || true
mkdir -p "$tmp/tiff" "$tmp/zolt"
n=0
for f in "$tmp"/seeds/tiff/* tests/data/* fuzz/corpus/tiff/* fuzz/regressions/tiff/* samples/sample.tif; do
  if [ -n "$leave_out" ] && basename "$f" | grep -Eq "$leave_out"; then continue; fi
  n=$((n + 1)) && cp "$f" "$tmp/tiff/$n"
done
for f in "$tmp"/seeds/zolt/* fuzz/corpus/zolt/*; do
  n=$((n + 1)) && cp "$f" "$tmp/zolt/$n"
done
# The second build's run matches the first's.
same_b() {
  sb=0
  rm -f "$out"
  # shellcheck disable=SC2086
  $wrapper "$b/$program$exe" "$in" "$out" 2>"$tmp/err.b" || sb=$?
  [ "$sa" = "$sb" ] && [ "$(tail -n 1 "$tmp/err.a")" = "$(tail -n 1 "$tmp/err.b")" ] || return 1
  if [ -f "$out" ] || [ -f "$tmp/out.a" ]; then cmp -s "$tmp/out.a" "$out" || return 1; fi
}
# One program of both builds on one input, into the same output path.
same() {
  program=$1 in=$2 out=$3
  sa=0
  "$a/$program" "$in" "$out" 2>"$tmp/err.a" || sa=$?
  [ ! -f "$out" ] || mv "$out" "$tmp/out.a"
  status=0
  if [ -n "$wrapper" ]; then under_wine "$program $in" same_b || status=1; else same_b || status=1; fi
  if [ "$status" = 1 ]; then
    echo "FAIL: $program $in: status $sa and $sb"; diff "$tmp/err.a" "$tmp/err.b" || true
    exit 1
  fi
  rm -f "$tmp/out.a"
}
for in in "$tmp"/tiff/*; do
  same zoltenc "$in" "$in.zolt"
  [ ! -f "$in.zolt" ] || mv "$in.zolt" "$tmp/zolt/from-$(basename "$in")"
done
count=0
for in in "$tmp"/zolt/*; do
  same zoltdec "$in" "$tmp/out.tif"
  rm -f "$tmp/out.tif"
  count=$((count + 1))
done
echo "same bytes, statuses and messages: $(ls "$tmp/tiff" | wc -l) TIFF and $count ZOLT inputs ($b${wrapper:+ under $wrapper} against $a)"
