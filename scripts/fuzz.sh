#!/bin/sh
# Builds the fuzz targets with clang and libFuzzer in build-fuzz/ and runs each
# for SECONDS (default 60), starting from its committed seeds; a finding is
# saved in build-fuzz/findings/ and fails the run.
#   scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ BUILD_DIR=build-fuzz scripts/build.sh -DZOLT_FUZZ=ON >/dev/null
for target in tiff zolt; do
  work="build-fuzz/corpus/$target"
  mkdir -p "$work" build-fuzz/findings
  echo "fuzz_$target: $seconds s"
  # stderr of the code under test is closed (every rejected input prints a
  # line); libFuzzer and the sanitizers keep reporting, into the log.
  log="build-fuzz/fuzz_$target.log"
  if ! build-fuzz/fuzz_$target -max_total_time="$seconds" -timeout=30 -close_fd_mask=2 -print_final_stats=1 \
      -artifact_prefix=build-fuzz/findings/ "$work" "fuzz/corpus/$target" "fuzz/regressions/$target" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$target failed; inputs found: $(ls build-fuzz/findings)"
    exit 1
  fi
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units)' "$log"
done
