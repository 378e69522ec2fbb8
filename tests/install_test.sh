#!/bin/sh
# Installation, manual pages and Debian package, as a user would meet them.
#   install_test.sh install|manlint|package BUILD_DIR SOURCE_DIR
# and for Windows, with mingw-w64's objdump:
#   install_test.sh dlls BUILD_DIR SOURCE_DIR OBJDUMP
#   install_test.sh zip BUILD_DIR SOURCE_DIR
set -eu
mode=$1 build=$2 src=$3 objdump=${4:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
files="bin/zoltdec bin/zoltenc share/doc/zolt/changelog.gz share/doc/zolt/copyright share/doc/zolt/examples/convert.mk share/man/man1/zoltdec.1.gz share/man/man1/zoltenc.1.gz share/man/man5/zolt.5.gz"
# The image loader's package, where the build has it.
loader=""
[ ! -f "$build/libpixbufloader-zolt.so" ] || loader=$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0)
pixbuf_files="share/doc/zolt-gdk-pixbuf/changelog.gz share/doc/zolt-gdk-pixbuf/copyright share/mime/packages/zolt.xml share/thumbnailers/zolt.thumbnailer"
[ -z "$loader" ] || pixbuf_files="$pixbuf_files ${loader#/usr/}/libpixbufloader-zolt.so"
listed() { tr ' ' '\n' | sed "s|^|$1|" | sort; }

case $mode in
install)
  cmake --install "$build" --prefix "$tmp/p" >/dev/null
  all=$files
  [ -z "$loader" ] || all="$files $pixbuf_files"
  [ "$(cd "$tmp/p" && find . -type f | sed 's|^\./||' | sort)" = "$(echo $all | listed '')" ] ||
    fail "installed files: $(cd "$tmp/p" && find . -type f)"
  "$tmp/p/bin/zoltenc" "$src/samples/sample.tif" "$tmp/a.zolt"
  "$tmp/p/bin/zoltdec" "$tmp/a.zolt" "$tmp/b.tif"
  "$tmp/p/bin/zoltenc" "$tmp/b.tif" "$tmp/b.zolt"
  cmp "$tmp/a.zolt" "$tmp/b.zolt"
  MANPATH="$tmp/p/share/man" man -P cat zoltenc 2>/dev/null | grep -q "zoltenc in.tiff out.zolt" || fail "man zoltenc"
  ;;
manlint)
  for page in "$build"/doc/*.[15]; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
  done
  ;;
package)
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >/dev/null
  # Each package: its name, what it depends on, its files.
  check_deb() {
    name=$1 needs=$2
    shift 2
    deb=$(ls "$tmp"/pkg/"${name}"_*.deb)
    [ "$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort)" = "$(echo "$@" | listed ./usr/)" ] ||
      fail "$name's files: $(dpkg-deb -c "$deb")"
    dpkg-deb -f "$deb" Depends | grep -q "$needs" || fail "$name's Depends: $(dpkg-deb -f "$deb" Depends)"
    # Neither errors nor warnings from Debian's package checker.
    tags=$(lintian --tag-display-limit 0 --fail-on none "$deb" 2>/dev/null | grep -E '^[EW]: ' || true)
    [ -z "$tags" ] || fail "lintian: $tags"
  }
  check_deb zolt libtiff6 $files
  if [ -n "$loader" ]; then
    check_deb zolt-gdk-pixbuf libgdk-pixbuf-2.0-0 $pixbuf_files
  else
    [ "$(ls "$tmp"/pkg/*.deb)" = "$(ls "$tmp"/pkg/zolt_*.deb)" ] || fail "packages: $(ls "$tmp"/pkg)"
  fi
  ;;
dlls)
  # The programs and the decoder load no DLL but Windows' own, and are
  # Windows programs for the build's processor.
  for exe in "$build"/zoltenc.exe "$build"/zoltdec.exe "$build"/zoltwic.dll; do
    "$objdump" -f "$exe" | grep -Eq 'file format pei-(x86-64|i386)' || fail "$exe: $("$objdump" -f "$exe")"
    for dll in $("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
      case $dll in
        kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll | ole32.dll) ;;
        *) fail "$exe needs $dll" ;;
      esac
    done
  done
  ;;
zip)
  cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >/dev/null
  zip=$(ls "$tmp"/pkg/zolt-*-win*.zip)
  top=$(basename "$zip" .zip)
  want="LICENSE.txt README.txt THIRD-PARTY.txt bin/zoltdec.exe bin/zoltenc.exe bin/zoltwic.dll doc/zolt.5.html doc/zolt.css
    doc/zoltdec.1.html doc/zoltenc.1.html install-decoder.cmd uninstall-decoder.cmd"
  [ "$(unzip -Z1 "$zip" | grep -v '/$' | sort)" = "$(echo $want | listed "$top/")" ] || fail "zip files: $(unzip -Z1 "$zip")"
  html=$(unzip -p "$zip" "$top/doc/zoltenc.1.html")
  for text in "<b>zoltenc</b> <i>in.tiff out.zolt</i>" 'href="zolt.css"' 'href="zoltdec.1.html"'; do
    printf '%s' "$html" | grep -qF "$text" || fail "zoltenc.1.html lacks $text"
  done
  # Text with Windows' line ends; a README of its own, for Windows.
  for text in README.txt LICENSE.txt THIRD-PARTY.txt install-decoder.cmd uninstall-decoder.cmd; do
    [ "$(unzip -p "$zip" "$top/$text" | grep -vc "$(printf '\r')\$")" -eq 0 ] || fail "$text has lines without CRLF"
  done
  unzip -p "$zip" "$top/README.txt" | grep -qF 'C:\zolt\bin' || fail "README.txt does not say how to add bin to PATH"
  # Every library linked in, at the version built, with its licence after it.
  unzip -p "$zip" "$top/THIRD-PARTY.txt" | tr -d '\r' >"$tmp/third-party"
  grep -v '^#' "$src/scripts/targets/libraries" | while read -r name _ version; do
    grep -qxF "$name $version" "$tmp/third-party" || fail "THIRD-PARTY.txt lacks $name $version"
  done
  grep -q 'Permission is hereby granted' "$tmp/third-party" || fail "THIRD-PARTY.txt holds no licence text"
  ;;
*) fail "unknown mode $mode" ;;
esac
echo "$mode: ok"
