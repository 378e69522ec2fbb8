#!/bin/sh
# Builds zoltenc.exe and zoltdec.exe for 64-bit and 32-bit Windows with
# mingw-w64 (build-win64/, build-win32/), with libtiff, its codecs' libraries
# and GoogleTest built for each from Debian's sources (scripts/libraries.sh),
# all linked statically; packs each into a ZIP with the libraries' licences;
# and runs the tests of the 64-bit build under Wine:
#   - the unit tables, built for Windows;
#   - the command-line tests of this machine's build (build/), running the
#     Windows programs through Wine (the test programs fork, which Windows
#     programs cannot);
#   - the byte comparison of the Linux and the Windows programs' outputs.
# The 32-bit build is built, packed and checked, not run: this kernel runs
# no 32-bit programs, and Wine's 64-bit loader runs only 64-bit ones.
#   scripts/test-windows.sh
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 \
  binutils-mingw-w64-i686 wine64 mandoc unzip
# Wine's 64-bit loader by name: plain "wine" picks the 32-bit one once the
# i386 architecture is added, and fails with "Exec format error".
wine=/usr/lib/wine/wine64
# A Wine prefix of the build's own, made on first use (about 15 s); no
# offer to install Mono or Gecko, no debug lines, and UTF-8 arguments.
export WINEPREFIX="$PWD/build-win64/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8

for arch in win64 win32; do
  scripts/libraries.sh $arch
  libs=$PWD/build-$arch/libs/inst
  emulator=""
  [ $arch = win32 ] || emulator="-DCMAKE_CROSSCOMPILING_EMULATOR=$wine"
  # shellcheck disable=SC2086
  BUILD_DIR=build-$arch scripts/build.sh -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/cross.cmake" -DZOLT_ARCH=$arch \
    -DZOLT_CROSS_PREFIX="$libs" -DZOLT_LIBTIFF_PREFIX="$libs" -DZOLT_TESTS=$([ $arch = win64 ] && echo ON || echo OFF) \
    $emulator >/dev/null
  (cd build-$arch && cpack -G ZIP >/dev/null && echo "packed build-$arch/$(ls zolt-*-$arch.zip)")
done
# The 32-bit build: built, a PE32 image for i386, Windows' own DLLs only.
sh tests/install_test.sh dlls build-win32 . i686-w64-mingw32-objdump
sh tests/install_test.sh zip build-win32 .
i686-w64-mingw32-objdump -f build-win32/zoltenc.exe | grep 'file format'

log=$(mktemp)
# One Wine server for all the tests, not one that exits whenever no program
# has run for a few seconds while the next may be starting.
wineserver=/usr/lib/wine/wineserver64
"$wineserver" -k 2>/dev/null || true  # the one the build's test listing started, if still there
"$wineserver" -w
"$wineserver" -p
# Wine's own services start with a session's first program and inherit its
# standard streams: started here, they hold no test's output open.
"$wine" cmd /c exit </dev/null >/dev/null 2>&1
trap '"$wineserver" -k 2>/dev/null; rm -f "$log" "$log.xml"' EXIT
# Now and then Wine starts no program at all (the test fails at once, with
# no output), or, while two tests start Windows programs at once, loses a
# program's standard error (status 1, no message) or leaves a killed
# program's temporary file behind; run alone, the same tests have always
# passed here. So a failed test runs again, up to twice, and is named.
wine_ctest() {
  ctest "$@" --output-on-failure -j "$(nproc)" --output-log "$log" --output-junit "$log.xml" --repeat until-pass:3
  grep -E 'Test +#[0-9]+: .*[*]{3}Failed' "$log" | sed 's/^/failed once under Wine, then passed: /' || true
}
# The unit tables and what only Windows does, built for Windows.
wine_ctest --test-dir build-win64
# The command-line tests of this machine's build, running the Windows programs.
BUILD_DIR=build scripts/build.sh >/dev/null
export ZOLT_TEST_WRAPPER=$wine ZOLT_TEST_ZOLTENC="$PWD/build-win64/zoltenc.exe" ZOLT_TEST_ZOLTDEC="$PWD/build-win64/zoltdec.exe"
wine_ctest --test-dir build -R 'Cli'
# Each test skipped there, with the reason it gave (the line after GoogleTest's "Skipped").
/usr/bin/python3 - "$log.xml" <<'PY'
import re, sys, xml.etree.ElementTree as tree
for case in tree.parse(sys.argv[1]).getroot().iter("testcase"):
    if case.find("skipped") is not None:
        reason = re.search(r": Skipped\n(.*)", case.findtext("system-out") or "")
        print(f"skipped for Windows: {case.get('name').split()[0]}: {reason.group(1) if reason else 'no reason given'}")
PY
unset ZOLT_TEST_WRAPPER ZOLT_TEST_ZOLTENC ZOLT_TEST_ZOLTDEC
sh tests/same_bytes.sh build build-win64 "$wine"
