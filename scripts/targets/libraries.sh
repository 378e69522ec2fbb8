#!/bin/bash
# Builds, static, the libraries of scripts/targets/libraries that TARGET needs, from
# Debian's sources at the versions given there, into build-TARGET/libs/inst,
# and prints each one's version:
#   win64, win32  every library, with mingw-w64's compilers, and GoogleTest
#                 (the tests run under Wine);
#   s390x         every library but LERC, whose code is little-endian only
#                 (Debian's own s390x libtiff has no LERC either), and GoogleTest;
#   fuzz          libtiff alone, instrumented as the fuzz targets are, over the
#                 host's codec libraries.
# GoogleTest comes from the host's libgtest-dev sources; it is never shipped.
# Beside inst/, THIRD-PARTY.txt names each library linked in, with its version
# and its copyright and licence as its Debian source states them (and, for
# Windows, mingw-w64's runtime, which the programs also hold).
# The build is kept in a cache that every checkout on this machine shares,
# ${XDG_CACHE_HOME:-~/.cache}/zolt/TARGET-KEY, where KEY sums what the build
# depends on (the manifest, these scripts and the toolchain file, less their
# comments, and the compiler); build-TARGET/libs is a link to it. Fails when
# the libtiff it would build is an older upstream release than the host's.
#   scripts/targets/libraries.sh win64|win32|s390x|fuzz
set -euo pipefail
cd "$(dirname "$0")/../.."
target=${1:?usage: scripts/targets/libraries.sh win64|win32|s390x|fuzz}
all=(zlib libdeflate libjpeg-turbo lerc liblzma libzstd libwebp libtiff)
googletest=yes gtest_args=()
case $target in
  win64) names=("${all[@]}") cc=x86_64-w64-mingw32-gcc-posix gtest_args=(-Dgtest_disable_pthreads=ON) ;;
  win32) names=("${all[@]}") cc=i686-w64-mingw32-gcc-posix gtest_args=(-Dgtest_disable_pthreads=ON) ;;
  s390x) names=(zlib libdeflate libjpeg-turbo liblzma libzstd libwebp libtiff) cc=s390x-linux-gnu-gcc ;;
  fuzz) names=(libtiff) cc=clang googletest=no ;;
  *) echo "unknown target $target" >&2; exit 2 ;;
esac
scripts/install-deps.sh nasm >&2
# The fuzz targets' instrumentation (CMakeLists.txt, ZOLT_FUZZ).
fuzz_flags="-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"

host=$(dpkg-query -W -f='${source:Upstream-Version}' "libtiff6:$(dpkg --print-architecture)")
bundled=$(awk '$1 == "libtiff" { v = $3; sub(/^[0-9]+:/, "", v); sub(/-[^-]*$/, "", v); print v }' scripts/targets/libraries)
if dpkg --compare-versions "$bundled" lt "$host"; then
  echo "scripts/targets/libraries gives libtiff $bundled, older than the host's $host: name a newer one there" >&2
  exit 1
fi

cache=${XDG_CACHE_HOME:-$HOME/.cache}/zolt
key=$({ grep -hv '^[[:space:]]*#' scripts/targets/libraries scripts/targets/libraries.sh scripts/targets/debian-source.sh cmake/cross.cmake
  "$cc" --version | head -n 1; } | sha256sum | cut -c 1-12)
libs=$cache/$target-$key
mkdir -p "build-$target"
[ -L "build-$target/libs" ] || rm -rf "build-$target/libs"
ln -sfn "$libs" "build-$target/libs"
if [ -f "$libs/versions" ]; then
  sed 's/^/cached: /' "$libs/versions"
  exit 0
fi
rm -rf "$cache/$target-"*
mkdir -p "$libs/log"
inst=$libs/inst

# A step's output goes to its log, shown only when the step fails.
quiet() {
  local log=$1
  shift
  "$@" >>"$libs/log/$log" 2>&1 || { tail -n 40 "$libs/log/$log" >&2; echo "failed: $*" >&2; exit 1; }
}
case $target in
  # Without the alignment check: libtiff's LZW decoder reads its compressed
  # data as 8-byte words wherever the data lies, which in a mapped file (its
  # default way of reading, and ours for large strips) is the strip's own
  # offset; the check stays on for this project's code.
  fuzz) cmake_args=(-DCMAKE_C_COMPILER=clang -DCMAKE_C_FLAGS="$fuzz_flags -fno-sanitize=alignment") ;;
  *) cmake_args=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/cross.cmake" -DZOLT_ARCH="$target" -DZOLT_CROSS_PREFIX="$inst") ;;
esac
cmake_args+=(-DCMAKE_INSTALL_PREFIX="$inst" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF --no-warn-unused-cli)
# NAME SOURCE [CMAKE_ARGUMENT...]: configures, builds and installs the CMake
# project in SOURCE.
with_cmake() {
  local name=$1 source=$2
  shift 2
  quiet "$name" cmake -S "$source" -B "$libs/build/$name" "${cmake_args[@]}" "$@"
  quiet "$name" cmake --build "$libs/build/$name" -j "$(nproc)"
  quiet "$name" cmake --install "$libs/build/$name"
}

for name in "${names[@]}"; do
  version=$(scripts/targets/debian-source.sh "$name" "$libs/src/$name")
  src=$libs/src/$name
  case $name in
    zlib)
      # Debian's source leaves out contrib/, which the CMake build enters, and
      # some of the documents its installation copies: the library and its
      # headers are installed alone. Finders look for a static zlib on
      # Windows as libz.a, not libzs.a.
      touch "$src/contrib/CMakeLists.txt"
      quiet zlib cmake -S "$src" -B "$libs/build/zlib" "${cmake_args[@]}" -DZLIB_BUILD_TESTING=OFF -DZLIB_BUILD_SHARED=OFF
      quiet zlib cmake --build "$libs/build/zlib" -j "$(nproc)"
      quiet zlib cmake --install "$libs/build/zlib" --component Development
      [ ! -f "$inst/lib/libzs.a" ] || mv "$inst/lib/libzs.a" "$inst/lib/libz.a" ;;
    libdeflate)
      # A Makefile of its own, whose installation takes its programs too; on
      # Windows it would name the library libdeflatestatic.lib, which no
      # finder looks for.
      quiet libdeflate make -C "$src" -j "$(nproc)" CC="$cc" AR="${cc%-gcc*}-ar" CFLAGS=-O2 STATIC_LIB_SUFFIX=.a \
        libdeflate.a
      mkdir -p "$inst/lib/pkgconfig" "$inst/include"
      cp "$src/libdeflate.a" "$inst/lib/" && cp "$src/libdeflate.h" "$inst/include/"
      sed -e "s|@PREFIX@|$inst|" -e "s|@LIBDIR@|$inst/lib|" -e "s|@INCDIR@|$inst/include|" \
        -e "s|@VERSION@|${version%-*}|" "$src/libdeflate.pc.in" >"$inst/lib/pkgconfig/libdeflate.pc" ;;
    libjpeg-turbo) with_cmake libjpeg-turbo "$src" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DWITH_TOOLS=OFF -DWITH_TESTS=OFF \
      -DWITH_JAVA=OFF ;;
    lerc) with_cmake lerc "$src" ;;
    liblzma) with_cmake liblzma "$src" -DXZ_TOOL_XZ=OFF -DXZ_TOOL_XZDEC=OFF -DXZ_TOOL_LZMADEC=OFF -DXZ_TOOL_LZMAINFO=OFF \
      -DXZ_TOOL_SCRIPTS=OFF -DXZ_DOC=OFF -DXZ_NLS=OFF -DBUILD_TESTING=OFF ;;
    libzstd) with_cmake libzstd "$src/build/cmake" -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_TESTS=OFF \
      -DZSTD_MULTITHREAD_SUPPORT=OFF ;;
    libwebp) with_cmake libwebp "$src" -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
      -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF \
      -DWEBP_BUILD_LIBWEBPMUX=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF ;;
    libtiff)
      # Every codec whose library is built above but JBIG: JBIG-KIT is under
      # the GPL, which would then cover the whole program. The fuzz build,
      # which is never shipped, takes the host's codec libraries, JBIG-KIT
      # among them. Static liblzma and LERC are declared for linking
      # statically only when their users say so.
      codecs=(-Djbig=OFF)
      [ "$target" != fuzz ] || codecs=()
      with_cmake libtiff "$src" -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dtiff-cxx=OFF \
        "${codecs[@]}" -DCMAKE_C_FLAGS_INIT="-DLZMA_API_STATIC -DLERC_STATIC"
      # Every codec library found must be one built here, not one the system
      # happens to have for the target (libz-mingw-w64-dev's, say).
      if [ "$target" != fuzz ] && grep -E '^-- Found [^:]+: /' "$libs/log/libtiff" | grep -v -F "$inst/" >&2; then
        echo "libtiff found the libraries above outside $inst" >&2
        exit 1
      fi ;;
  esac
  echo "$name $version" | tee -a "$libs/versions.new"
done
if [ $googletest = yes ]; then
  with_cmake googletest /usr/src/googletest "${gtest_args[@]}"
  echo "googletest $(dpkg-query -W -f='${Version}' googletest) (the host's, for the tests only)"
fi

# The licences, from the sources just built: each under a heading that names
# it and its version.
heading() {
  local rule="================================================================"
  printf '\n%s\n%s\n%s\n\n' "$rule" "$1" "$rule"
}
{
  echo "The programs hold the libraries below, each built from Debian's source package of the version given and"
  echo "linked in statically. Each one's copyright and licence follow, as that source's debian/copyright states them."
  while read -r name version; do
    heading "$name $version"
    cat "$libs/src/$name/debian/copyright"
  done <"$libs/versions.new"
  case $target in
    win*)
      heading "mingw-w64 runtime and winpthreads $(dpkg-query -W -f='${Version}' mingw-w64-common)"
      cat /usr/share/doc/mingw-w64-common/copyright ;;
  esac
} >"$libs/THIRD-PARTY.txt"
rm -rf "$libs/src" "$libs/build"
mv "$libs/versions.new" "$libs/versions"
