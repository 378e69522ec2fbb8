#!/bin/sh
# Cuts the power under both programs, on a simulated disk that keeps only
# what was synced (scripts/faults/powerloss.py says how), and checks that
# every output is its old bytes or its new ones. Needs root and /dev/fuse.
#   scripts/power-loss.sh [CUTS]   CUTS at random moments per scenario (30)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh python3-fusepy
scripts/build.sh >/dev/null
exec /usr/bin/python3 scripts/faults/powerloss.py build "$@"
