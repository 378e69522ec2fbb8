#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite. Arguments go
# to cmake, e.g. BUILD_DIR=build-asan scripts/test.sh -DZOLT_SANITIZE=ON
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"
# A sanitizer finding must not pass for an expected failure status.
export ASAN_OPTIONS="${ASAN_OPTIONS:-exitcode=86}"
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j "$(nproc)"
