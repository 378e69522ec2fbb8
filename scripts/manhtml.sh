#!/bin/sh
# A manual page as HTML for the Windows ZIP: mandoc's HTML with the style
# sheet beside it, and each mention of one of the project's pages, such as
# zoltdec(1), a link to that page (mandoc links only mdoc's cross references).
#   manhtml.sh PAGE OUT.html
set -eu
mandoc -T html -O style=zolt.css "$1" |
  sed -E 's#<b>(zoltenc|zoltdec|zolt)</b>\(([15])\)#<a href="\1.\2.html"><b>\1</b>(\2)</a>#g' >"$2"
