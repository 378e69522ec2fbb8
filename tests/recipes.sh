#!/bin/sh
# The README's first lines for the programs, and its lines for --batch, as
# printed, each output checked. Then every batch recipe of the README (the
# other shell blocks under "Converting many files"), as printed, on a folder
# of the names people have: spaces, a quote, a leading -, .tiff and .TIFF, a
# subfolder, and one RGB image that must fail.
# Each must convert every other file it takes to what a direct run writes,
# name the failing file, and fail. make, which cannot take every name, must
# name the ones it leaves out; an interrupted make is safe to run again, and
# only a stale output is made again.
# Given a Windows build and its Wine: the README's lines for cmd and its batch
# file instead, under Wine, with that build's programs.
#   recipes.sh BUILD_DIR SOURCE_DIR [WINE WINDOWS_BUILD_DIR]
set -eu
build=$1 src=$2 wine=${3:-} windows=${4:-}
. "$src/scripts/lib.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
cd "$tmp"
mkdir -p bin images want
printf '%s\n' "$awkward_names" | make_images "$build" images want
rgb_images images/sub/rgb.tif

if [ -n "$wine" ]; then
  # Unix paths as Wine's drive Z: shows them.
  z() { printf 'Z:%s' "$1" | tr / '\\'; }
  (cd "$src" && readme_blocks "On Windows" '```bat' "$tmp/bat") >/dev/null
  run_bat() { sed 's/$/\r/' "$1" >"$1.bat" && (cd "$2" && WINEPATH=$(z "$windows") "$wine" cmd /c "$(z "$tmp/$1.bat")"); }
  # The lines for cmd, on the sample as photo.tif.
  mkdir lines && cp "$src/samples/sample.tif" lines/photo.tif
  "$build/zoltenc" lines/photo.tif want/photo.zolt
  under_wine "the lines for cmd" run_bat bat1 lines >log 2>&1 || fail "the lines for cmd: $(cat log)"
  for f in photo.zolt back.zolt; do cmp -s want/photo.zolt "lines/$f" || fail "the lines for cmd: $f differs: $(cat log)"; done
  echo "the README's lines for cmd: ok"
  # The batch file. Wine's cmd may run what follows || after a success too:
  # then it names every file, and only the failing file's name is checked.
  status=0
  run_bat bat2 images >log 2>&1 || status=$?
  [ "$status" -eq 1 ] || fail "the batch file: status $status with a file that cannot convert: $(cat log)"
  grep -q 'rgb.tif: not converted' log || fail "the batch file does not name the failing file: $(cat log)"
  if [ -n "$("$wine" cmd /c "cmd /c exit 0 || echo ran" 2>/dev/null)" ]; then
    echo "the batch file: not checked: that it names only the files that failed (this Wine's cmd runs what follows || after a success)"
  elif grep -v rgb.tif log | grep -q 'not converted'; then
    fail "the batch file names a file that converted: $(cat log)"
  fi
  i=0
  printf '%s\n' "$awkward_names" | while IFS= read -r name; do
    i=$((i + 1))
    cmp -s "want/$i.zolt" "images/${name%.*}.zolt" || fail "the batch file: ${name%.*}.zolt differs: $(cat log)"
  done
  echo "the README's batch file: ok, status $status"
  echo "not run: the PowerShell lines of the README and zoltenc(1): Debian has no PowerShell, and Wine none"
  exit 0
fi

ln -s "$build/zoltenc" "$build/zoltdec" bin/
PATH="$tmp/bin:$PATH"
export PATH
[ "$(cd "$src" && readme_blocks "Converting many files" '```sh' "$tmp/recipe")" -eq 5 ] || fail "the README has not its lines for --batch and four recipes"

# The first lines of "Converting your files", on the sample.
(cd "$src" && readme_blocks "Converting your files" '```sh' "$tmp/first") >/dev/null
mkdir first && cp "$src/samples/sample.tif" first/photo.tif && cp first/photo.tif first/scan.tif
zoltenc first/photo.tif first/game.zolt && cp first/game.zolt want/game.zolt && zoltdec first/game.zolt first/edited.tif
(cd first && sh ../first1) >log 2>&1 || fail "the first lines: $(cat log)"
cmp -s first/photo.zolt want/game.zolt && cmp -s first/back.tif first/copy.tif && cmp -s first/game.zolt want/game.zolt ||
  fail "the first lines: an output differs"
echo "the first lines of Converting your files: ok"

# The lines for --batch: the TIFF files of images/ itself, and ZOLT files.
mkdir art && cp want/1.zolt art/one.zolt
sh recipe1 >log 2>&1 || fail "the lines for --batch: $(cat log)"
cmp -s want/1.zolt "images/my photo.zolt" && cmp -s want/2.zolt images/-lead.zolt || fail "the lines for --batch: zoltenc"
zoltenc art/one.tif art/back.zolt && cmp -s want/1.zolt art/back.zolt || fail "the lines for --batch: zoltdec"
rm recipe1
echo "the lines for --batch: ok"

for recipe in recipe*; do
  find images -name '*.zolt' -delete
  # Across machines: here, this one only (scripts/targets/cluster.sh runs it
  # against real hosts). make: the makefile as the source tree has it.
  sed -i -e 's|--sshlogin [^ ]*|--sshlogin :|' -e "s|/usr/share/doc/zolt/examples/|$src/docs/examples/|" "$recipe"
  status=0
  sh "$recipe" >log 2>&1 || status=$?
  [ "$status" -ne 0 ] || fail "$recipe: status 0 with a file that cannot convert"
  grep -q "images/sub/rgb.tif" log || fail "$recipe does not name the failing file: $(cat log)"
  i=0
  printf '%s\n' "$awkward_names" | while IFS= read -r name; do
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
