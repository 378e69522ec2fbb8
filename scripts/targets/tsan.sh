#!/bin/sh
# Builds everything with ThreadSanitizer in build-tsan/ and decodes on four
# threads: the reader over every layout in-process, and both programs on the
# command line (compressed, tiled, failing part way, many files in one run).
# Any report fails.
set -eu
cd "$(dirname "$0")/../.."
scripts/install-deps.sh
BUILD_DIR=build-tsan scripts/build.sh -DZOLT_TSAN=ON -DZOLT_TESTS=ON >/dev/null
export ZOLT_THREADS=4
# Reports go to files: the tests capture standard error.
logs=build-tsan/reports
rm -rf "$logs"
mkdir -p "$logs"
export TSAN_OPTIONS="halt_on_error=1 exitcode=86 log_path=$PWD/$logs/tsan"
status=0
build-tsan/zolt_tests --gtest_brief=1 \
  --gtest_filter='Layouts/Reader.*:ReaderThreads.*:Programs/Cli.*:CliFormat.*:CliFaults.EveryTruncatedTiff:CliBatch.*' || status=$?
if [ -n "$(ls "$logs")" ]; then
  cat "$logs"/*
  echo "ThreadSanitizer reported the above"
  exit 1
fi
exit $status
