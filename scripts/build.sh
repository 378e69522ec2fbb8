#!/bin/sh
# Configures and builds into build/ (or $BUILD_DIR); extra arguments go to cmake.
set -eu
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
cmake -S . -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
