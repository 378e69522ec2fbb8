#!/bin/sh
# Cuts the power under both programs, on a simulated disk that keeps only
# what was synced (scripts/sweeps/power-loss.py says how), and checks that
# every output is its old bytes or its new ones. Needs root and /dev/fuse.
#   scripts/sweeps/power-loss.sh [CUTS]   CUTS at random moments per scenario (30)
set -eu
cd "$(dirname "$0")/../.."
scripts/install-deps.sh python3-fusepy
scripts/build.sh -DZOLT_TESTS=ON >/dev/null  # with the image maker
exec /usr/bin/python3 scripts/sweeps/power-loss.py build "$@"
