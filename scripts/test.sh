#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j "$(nproc)"
