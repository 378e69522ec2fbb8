#!/bin/sh
# Installs what is missing, builds, and converts the sample image to ZOLT and back.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Everything, as the tests need it: a part that cannot be built stops here.
scripts/build.sh -DZOLT_TESTS=ON -DZOLT_PIXBUF=ON >/dev/null
mkdir -p build/demo
build/zoltenc samples/sample.tif build/demo/sample.zolt
echo "Wrote build/demo/sample.zolt ($(wc -c <build/demo/sample.zolt) bytes) from samples/sample.tif"
build/zoltdec build/demo/sample.zolt build/demo/sample.tif
echo "Wrote build/demo/sample.tif ($(wc -c <build/demo/sample.tif) bytes) from build/demo/sample.zolt"
