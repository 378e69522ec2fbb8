#!/bin/sh
# The text files of the Windows ZIP, with Windows' line ends (CRLF): its own
# README.txt, made from the README's sections that hold on Windows (the
# introduction, "On Windows", the images taken, the messages, the file
# format), pointing to the HTML pages the ZIP holds; LICENSE.txt;
# THIRD-PARTY.txt, where the build has one; and each further file named.
#   ziptexts.sh SOURCE_DIR THIRD_PARTY_OR_EMPTY OUT_DIR [FILE ...]
set -eu
src=$1 third=$2 out=$3
shift 3
mkdir -p "$out"
crlf() { sed 's/\r*$/\r/'; }
{
  echo "# zoltenc and zoltdec for Windows"
  awk '
    /^# / && !title { title = 1; next }
    /^## / { section = $0 }
    { text[section] = text[section] $0 "\n" }
    END {
      printf "%s", text[""]
      n = split("## On Windows|## Which TIFF images zoltenc accepts|## Exit status and messages|## The ZOLT file", order, "|")
      for (i = 1; i <= n; i++) printf "%s", text[order[i]]
    }' "$src/README.md" |
    sed -e 's/\[\([^]]*\)\](#[^)]*)/\1/g' \
        -e 's/`\(zolt[a-z]*\)(\([15]\))`/`doc\\\1.\2.html`/g' \
        -e 's/ and `common\/zoltfile.h` describe/ describes/'
} | crlf >"$out/README.txt"
crlf <"$src/LICENSE" >"$out/LICENSE.txt"
if [ -n "$third" ]; then crlf <"$third" >"$out/THIRD-PARTY.txt"; fi
for file in "$@"; do crlf <"$file" >"$out/$(basename "$file")"; done
