#!/bin/sh
# A manual page as HTML for the Windows ZIP: mandoc's HTML with the style
# sheet beside it, and each mention of one of the project's pages, such as
# zoltdec(1), a link to that page (mandoc links only mdoc's cross references).
# What holds on POSIX systems alone (between the comment lines "posix-only"
# and "end posix-only": spooling in $TMPDIR, modes and links, fdatasync, the
# xargs and make recipes) is left out; the WINDOWS section tells what the
# Windows programs do instead.
#   manhtml.sh PAGE OUT.html
set -eu
sed '/^\.\\" posix-only$/,/^\.\\" end posix-only$/d' "$1" | mandoc -T html -O style=zolt.css |
  sed -E 's#<b>(zoltenc|zoltdec|zolt)</b>\(([15])\)#<a href="\1.\2.html"><b>\1</b>(\2)</a>#g' >"$2"
