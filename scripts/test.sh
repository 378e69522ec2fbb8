#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite. Arguments go
# to cmake, e.g. BUILD_DIR=build-asan scripts/test.sh -DZOLT_SANITIZE=ON
set -eu
cd "$(dirname "$0")/.."
# The editors that the editors test takes ZOLT files through.
scripts/install-deps.sh gimp imagemagick graphicsmagick python3-pil libvips-tools netpbm
scripts/build.sh -DZOLT_TESTS=ON "$@"
# A sanitizer finding must not pass for an expected failure status.
export ASAN_OPTIONS="${ASAN_OPTIONS:-exitcode=86}"
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j "$(nproc)"
