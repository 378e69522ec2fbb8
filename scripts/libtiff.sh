#!/bin/sh
# Builds libtiff, static, from Debian's source package of the installed
# release (scripts/debian-source.sh), into LIBS/inst: source in LIBS/tiff,
# build in LIBS/build-tiff, logs beside them; no tools, tests, contributions,
# documentation or C++ interface. Further arguments go to its cmake: the
# toolchain, compiler flags and codecs of the build that needs it. Prints the
# Debian version it built.
#   scripts/libtiff.sh LIBS [CMAKE_ARGUMENT...]
set -eu
cd "$(dirname "$0")/.."
libs=$1
shift
version=$(scripts/debian-source.sh libtiff6 "$libs/tiff")
cmake -S "$libs/tiff" -B "$libs/build-tiff" -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$libs/inst" \
  -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dcxx=OFF "$@" >"$libs/tiff-configure.log"
cmake --build "$libs/build-tiff" -j "$(nproc)" >"$libs/tiff-build.log"
cmake --install "$libs/build-tiff" >/dev/null
echo "$version"
