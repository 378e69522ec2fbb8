#!/bin/sh
# Builds for another architecture and runs the whole test suite there under
# qemu-user, with Debian's multiarch libtiff and GoogleTest:
#   scripts/test-cross.sh i386|armhf|arm64
# Build tree: build-ARCH/. Tests that need the host's own build are skipped
# by name, with the reason.
set -eu
cd "$(dirname "$0")/.."
arch=${1:?usage: scripts/test-cross.sh i386|armhf|arm64}
case $arch in
  i386) compiler=g++-multilib emulator=qemu-i386 ;;
  armhf) compiler=g++-arm-linux-gnueabihf emulator=qemu-arm ;;
  arm64) compiler=g++-aarch64-linux-gnu emulator=qemu-aarch64 ;;
  *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo dpkg --add-architecture "$arch"
  $sudo apt-get update -qq
fi
scripts/install-deps.sh "$compiler" qemu-user "libtiff-dev:$arch" "libgtest-dev:$arch"
dir=build-$arch
BUILD_DIR=$dir scripts/build.sh -DCMAKE_TOOLCHAIN_FILE=cmake/cross.cmake -DZOLT_ARCH="$arch" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" >/dev/null
echo "skipped on $arch: install, package (they install and package the host's build and run its programs)"
echo "skipped on $arch: tifffile_reads_zoltdec_output, recipes (they run the programs without the emulator)"
# The command-line tests run every program under the emulator.
ZOLT_TEST_WRAPPER=$emulator ASAN_OPTIONS=exitcode=86 \
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" -E '^(install|package|tifffile_reads_zoltdec_output|recipes)$'
