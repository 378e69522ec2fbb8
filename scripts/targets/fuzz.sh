#!/bin/sh
# Builds the fuzz targets with clang and libFuzzer in build-fuzz/, against a
# libtiff built from Debian's source package with the same instrumentation
# (scripts/targets/libraries.sh), and runs each target for SECONDS
# (default 60), starting from its committed seeds; a finding is saved in
# build-fuzz/findings/ and fails the run.
#   scripts/targets/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/../.."
seconds="${1:-60}"
root=$PWD
scripts/install-deps.sh clang libclang-rt-14-dev pkg-config
scripts/targets/libraries.sh fuzz
CC=clang CXX=clang++ BUILD_DIR=build-fuzz scripts/build.sh -DZOLT_FUZZ=ON -DZOLT_LIBTIFF_PREFIX="$root/build-fuzz/libs/inst" >/dev/null
for target in tiff zolt stdin pixbuf; do
  work="build-fuzz/corpus/$target"
  mkdir -p "$work" build-fuzz/findings
  echo "fuzz_$target: $seconds s"
  # stderr of the code under test is closed (every rejected input prints a
  # line); libFuzzer and the sanitizers keep reporting, into the log. Any
  # single allocation past the design's bound (16 MiB, and 256 MiB for
  # libtiff's own buffers) is a finding, as is a run past 768 MiB resident
  # (the sanitizers' own memory included).
  log="build-fuzz/fuzz_$target.log"
  if ! build-fuzz/fuzz_$target -max_total_time="$seconds" -timeout=30 -close_fd_mask=2 -print_final_stats=1 \
      -malloc_limit_mb=272 -rss_limit_mb=768 -artifact_prefix=build-fuzz/findings/ \
      "$work" "fuzz/corpus/$target" $(ls -d "fuzz/regressions/$target" 2>/dev/null) >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$target failed; inputs found: $(ls build-fuzz/findings)"
    exit 1
  fi
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units)' "$log"
done
