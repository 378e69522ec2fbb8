#!/bin/bash
# Times zoltenc and zoltdec against the tools people would otherwise use, and
# how both grow with the image. Makes its own inputs; installs the peers.
#   bench/run.sh           8192 x 8192 inputs, 5 runs each (CPU time: the fastest
#                          of 15 alternating runs), sizes up to 32767 x 32767
#   bench/run.sh --quick   small inputs, few runs: checks that the benchmark works
#   bench/run.sh --many    the many-files comparison alone
# Results go to build/bench/ (or $BENCH_DIR): report.md, scaling.png, raw data.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
quick=0 many_only=0
[ "${1:-}" = "--quick" ] && quick=1
[ "${1:-}" = "--many" ] && many_only=1

scripts/install-deps.sh hyperfine imagemagick graphicsmagick libvips-tools netpbm libtiff-tools gnuplot-nox time eatmydata
scripts/build.sh -DZOLT_TESTS=ON >/dev/null  # with the image maker
bin=$root/build
out=${BENCH_DIR:-$root/build/bench}
mkdir -p "$out"
# The build's image loader, for the thumbnail rows.
eval "$(scripts/loader-env.sh build "$out")"
cd "$out"
rm -f results.tsv scaling.tsv cpu.tsv memory.tsv sync.tsv threads-*.tsv

if [ $quick = 1 ]; then
  side=512 runs=2 rounds=3 sizes="256 512"
else
  side=8192 runs=5 rounds=15 sizes="1024 4096 16384 32767"
fi
im=/usr/bin/convert  # ImageMagick 6 (the Debian alternative)

# Median seconds of each command (hyperfine, after a warm-up run, inputs in the
# page cache) and peak resident KiB (one run under /usr/bin/time), appended to
# results.tsv as: group, name, median seconds, peak KiB.
bench() {
  local group=$1
  shift
  local names=() cmds=() hf=()
  while [ $# -gt 0 ]; do
    names+=("$1") cmds+=("$2") hf+=(-n "$1" "$2")
    shift 2
  done
  hyperfine -N --style none --warmup 1 --runs "$runs" --export-json "$group.json" "${hf[@]}" >/dev/null
  for i in "${!names[@]}"; do
    local median
    median=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"])' "$group.json" "$i")
    /usr/bin/time -o peak.txt -f %M sh -c "${cmds[$i]}" >/dev/null
    printf '%s\t%s\t%s\t%s\n' "$group" "${names[$i]}" "$median" "$(tail -n 1 peak.txt)" >>results.tsv
  done
}

many_files() {
  # Many small files in one folder (320 x 200, 64 KB each), and a mixed one
  # where a few large compressed images lie among them: one run of --batch
  # over them all, against the file-by-file recipe (one process per file and
  # processor) and against cp and dd conv=fdatasync file by file, each with
  # its syncs and under eatmydata, and ImageMagick's mogrify writing raw
  # pixels, which syncs nothing. Every command converts the whole folder over
  # the outputs of the round before. Fastest of alternating rounds, CPU of the
  # whole command and its children.
  many=10000 large=3 side_large=4096 many_rounds=3
  [ $quick = 1 ] && many=200 large=2 side_large=512 many_rounds=2
  rm -rf many && mkdir -p many/small
  "$bin/zolt_makeimage" 320 200 many/seed.tif none
  for i in $(seq -w "$many"); do cp many/seed.tif "many/small/$i.tif"; done
  rm many/seed.tif
  cp -r many/small many/mixed
  "$bin/zoltenc" --batch many/small/*.tif 2>/dev/null
  mkdir many/dec && mv many/small/*.zolt many/dec/
  for i in $(seq "$large"); do "$bin/zolt_makeimage" "$side_large" "$side_large" "many/mixed/large-$i.tif" lzw 64; done
  mkdir -p many/raw
  # Each command is a little script of its own, run by sh.
  n=$(nproc)
  recipe() { printf '%s\n' "$2" >"many/$1.sh"; }
  recipe enc-batch "find many/small -name '*.tif' -print0 | xargs -0 $bin/zoltenc --batch"
  recipe enc-files "find many/small -name '*.tif' -print0 | ZOLT_THREADS=1 xargs -0 -r -P $n -n 1 sh -c '$bin/zoltenc \"\$1\" \"\${1%.*}.zolt\"' sh"
  recipe cp-files "find many/small -name '*.tif' -print0 | xargs -0 -P $n -I{} cp {} {}.cp"
  recipe dd-files "find many/small -name '*.tif' -print0 | xargs -0 -P $n -I{} dd if={} of={}.dd bs=4M conv=fdatasync status=none"
  recipe dd-files-nosync "find many/small -name '*.tif' -print0 | xargs -0 -P $n -I{} dd if={} of={}.dd bs=4M status=none"
  recipe dec-batch "find many/dec -name '*.zolt' -print0 | xargs -0 $bin/zoltdec --batch"
  recipe dec-files "find many/dec -name '*.zolt' -print0 | ZOLT_THREADS=1 xargs -0 -r -P $n -n 1 sh -c '$bin/zoltdec \"\$1\" \"\${1%.*}.tif\"' sh"
  recipe mogrify "$(dirname "$im")/mogrify -path many/raw -format gray many/small/*.tif"
  recipe mixed-batch "find many/mixed -name '*.tif' -print0 | xargs -0 $bin/zoltenc --batch"
  recipe mixed-files "find many/mixed -name '*.tif' -print0 | ZOLT_THREADS=1 xargs -0 -r -P $n -n 1 sh -c '$bin/zoltenc \"\$1\" \"\${1%.*}.zolt\"' sh"
  echo "many files: $many small, fastest of $many_rounds alternating runs"
  /usr/bin/python3 "$root/bench/cputime.py" "$many_rounds" \
    "zoltenc --batch" "sh many/enc-batch.sh" \
    "zoltenc, file by file" "sh many/enc-files.sh" \
    "cp, file by file" "sh many/cp-files.sh" \
    "dd conv=fdatasync, file by file" "sh many/dd-files.sh" \
    "zoltenc --batch, eatmydata" "eatmydata sh many/enc-batch.sh" \
    "zoltenc, file by file, eatmydata" "eatmydata sh many/enc-files.sh" \
    "cp, file by file, eatmydata" "eatmydata sh many/cp-files.sh" \
    "dd, file by file, eatmydata" "eatmydata sh many/dd-files-nosync.sh" \
    "zoltdec --batch" "sh many/dec-batch.sh" \
    "zoltdec, file by file" "sh many/dec-files.sh" \
    "ImageMagick mogrify to raw grey" "sh many/mogrify.sh" \
    "zoltenc --batch, mixed folder" "sh many/mixed-batch.sh" \
    "zoltenc, file by file, mixed folder" "sh many/mixed-files.sh" >many.tsv
  # Peak memory: a batch of the mixed folder against one run on its largest file.
  /usr/bin/time -o peak.txt -f %M "$bin/zoltenc" --batch many/mixed/*.tif 2>/dev/null
  printf 'peak\tzoltenc --batch, mixed folder\t%s\n' "$(tail -n 1 peak.txt)" >>many.tsv
  /usr/bin/time -o peak.txt -f %M "$bin/zoltenc" many/mixed/large-1.tif many/one.zolt
  printf 'peak\tzoltenc, its largest file alone\t%s\n' "$(tail -n 1 peak.txt)" >>many.tsv
  printf 'files\t%s\t%s\n' "$many" "$large" >>many.tsv
  rm -rf many
}

if [ $many_only = 1 ]; then
  many_files
  /usr/bin/python3 "$root/bench/report.py" --many many.tsv | tee report-many.md
  exit 0
fi

echo "making ${side} x ${side} inputs"
for c in none lzw deflate; do "$bin/zolt_makeimage" "$side" "$side" "in-$c.tif" "$c"; done
"$bin/zoltenc" in-none.tif in.zolt
dd if=in.zolt of=pixels.gray iflag=skip_bytes,count_bytes skip=8 count=$((side * side)) status=none

for c in none lzw deflate; do
  echo "zoltenc, $c input"
  bench "enc-$c" \
    zoltenc "$bin/zoltenc in-$c.tif out.zolt" \
    dd "dd if=in-$c.tif of=out.dd bs=4M status=none" \
    "tiffcp -c none" "tiffcp -c none in-$c.tif out-tiffcp.tif" \
    ImageMagick "$im in-$c.tif gray:out-im.gray" \
    GraphicsMagick "gm convert in-$c.tif gray:out-gm.gray" \
    libvips "vips copy in-$c.tif out.v" \
    "Netpbm tifftopnm" "sh -c 'tifftopnm -quiet in-$c.tif >out.pgm'"
done

echo "zoltdec"
bench dec \
  zoltdec "$bin/zoltdec in.zolt out.tif" \
  dd "dd if=in.zolt of=out.dd bs=4M status=none" \
  ImageMagick "$im -size ${side}x${side} -depth 8 gray:pixels.gray out-im.tif"

# Decoding on 1, 2 and 4 threads against libtiff's own single-threaded
# decoding: fastest wall time of alternating runs.
"$bin/zolt_makeimage" "$side" "$side" in-tiles.tif deflate t256
for c in lzw deflate tiles; do
  echo "threads, $c input: fastest of $rounds alternating runs"
  /usr/bin/python3 "$root/bench/cputime.py" "$rounds" \
    "tiffcp -c none" "tiffcp -c none in-$c.tif out-tiffcp.tif" \
    "zoltenc, 1 thread" "ZOLT_THREADS=1 $bin/zoltenc in-$c.tif out.zolt" \
    "zoltenc, 2 threads" "ZOLT_THREADS=2 $bin/zoltenc in-$c.tif out.zolt" \
    "zoltenc, 4 threads" "ZOLT_THREADS=4 $bin/zoltenc in-$c.tif out.zolt" \
    "zoltenc, default" "$bin/zoltenc in-$c.tif out.zolt" >"threads-$c.tsv"
done
# Uncompressed input is read on one thread: the CPU-time comparison below
# is its row. The programs sync their output, so their floor is dd with
# conv=fdatasync; with the syncs turned off by eatmydata, plain dd run by
# eatmydata too (its shell wrapper alone costs a few milliseconds of CPU).
echo "CPU time against dd: fastest of $rounds alternating runs"
/usr/bin/python3 "$root/bench/cputime.py" "$rounds" \
  zoltenc "$bin/zoltenc in-none.tif out.zolt" \
  "dd conv=fdatasync (TIFF)" "dd if=in-none.tif of=out.dd bs=4M conv=fdatasync status=none" \
  zoltdec "$bin/zoltdec in.zolt out.tif" \
  "dd conv=fdatasync (ZOLT)" "dd if=in.zolt of=out.dd bs=4M conv=fdatasync status=none" \
  "zoltenc, eatmydata" "eatmydata $bin/zoltenc in-none.tif out.zolt" \
  "dd (TIFF), eatmydata" "eatmydata dd if=in-none.tif of=out.dd bs=4M status=none" \
  "zoltdec, eatmydata" "eatmydata $bin/zoltdec in.zolt out.tif" \
  "dd (ZOLT), eatmydata" "eatmydata dd if=in.zolt of=out.dd bs=4M status=none" >cpu.tsv

# What syncing each output before it takes its target's place costs: the
# same conversions with every sync turned off by eatmydata, alternating (the
# large image's pair is in cpu.tsv).
files=500
[ $quick = 1 ] && files=20
mkdir -p small
for i in $(seq -w "$files"); do "$bin/zolt_makeimage" 256 256 "small/$i.tif" none; done
loop="for f in small/*.tif; do $bin/zoltenc \"\$f\" \"\${f%.tif}.zolt\"; done"
echo "sync cost: $files small files, fastest of $rounds alternating runs"
printf 'files\t%s\t0\n' "$files" >sync.tsv
/usr/bin/python3 "$root/bench/cputime.py" "$rounds" \
  "new names" "sh -c 'rm -f small/*.zolt; $loop'" \
  "new names, eatmydata" "eatmydata sh -c 'rm -f small/*.zolt; $loop'" \
  replacing "sh -c '$loop'" \
  "replacing, eatmydata" "eatmydata sh -c '$loop'" >>sync.tsv
rm -rf small

# Peak resident KiB of one run of a command, appended to memory.tsv as:
# layout, pixels per side, tool, peak KiB.
peak() {
  /usr/bin/time -o peak.txt -f %M sh -c "$4" >/dev/null
  printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$(tail -n 1 peak.txt)" >>memory.tsv
}

echo "scaling: $sizes"
for n in $sizes; do
  "$bin/zolt_makeimage" "$n" "$n" scale.tif none
  "$bin/zoltenc" scale.tif scale.zolt
  bench "scale-$n" zoltenc "$bin/zoltenc scale.tif scale-out.zolt" zoltdec "$bin/zoltdec scale.zolt scale-out.tif" \
    dd "dd if=scale.zolt of=out.dd bs=4M status=none" libvips "vips copy scale.tif out.v"
  peak "64-row strips" "$n" zoltenc "$bin/zoltenc scale.tif scale-out.zolt"
  peak "64-row strips" "$n" zoltdec "$bin/zoltdec scale.zolt scale-out.tif"
  peak "64-row strips" "$n" libvips "vips copy scale.tif out.v"
  peak "64-row strips" "$n" dd "dd if=scale.zolt of=out.dd bs=4M status=none"
  # A file manager's thumbnail of the ZOLT file: time and peak memory.
  bench "thumb-$n" thumbnail "gdk-pixbuf-thumbnailer -s 256 scale.zolt thumb.png"
  rm -f scale.tif scale-out.zolt scale-out.tif out.dd out.v
  # The same image as one strip, as LZW strips of 64 MiB, and as 256 x 256 tiles.
  for layout in "one strip:none:$n" "64 MiB LZW strips:lzw:$(((64 << 20) / n))" "256 x 256 tiles:none:t256"; do
    IFS=: read -r name method rows <<<"$layout"
    "$bin/zolt_makeimage" "$n" "$n" scale.tif "$method" "$rows"
    peak "$name" "$n" zoltenc "$bin/zoltenc scale.tif scale-out.zolt"
    cmp -s scale-out.zolt scale.zolt || { echo "$name, $n: output differs"; exit 1; }
    rm -f scale.tif scale-out.zolt
  done
  rm -f scale.zolt
done

many_files
/usr/bin/python3 "$root/bench/report.py" results.tsv cpu.tsv memory.tsv sync.tsv "$side" threads-*.tsv >report.md
/usr/bin/python3 "$root/bench/report.py" --many many.tsv >>report.md
gnuplot "$root/bench/scaling.gp"
rm -f out* in* pixels.gray
cat report.md
echo "wrote $out/report.md and $out/scaling.png"
