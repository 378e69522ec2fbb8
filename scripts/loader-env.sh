#!/bin/sh
# Registers the image loader of the build in BUILD beside the system's
# loaders, and the MIME type, as installing the package would, in the
# existing folder FOLDER, and prints the settings that make gdk-pixbuf
# programs use them:
#   eval "$(scripts/loader-env.sh BUILD FOLDER)"
set -eu
build=$(realpath "$1") folder=$(realpath "$2")
cd "$(dirname "$0")/.."
"$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0)" \
  "$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0)"/*.so "$build/libpixbufloader-zolt.so" \
  >"$folder/loaders.cache"
mkdir -p "$folder/share/mime/packages"
cp pixbuf/zolt.xml "$folder/share/mime/packages/"
update-mime-database "$folder/share/mime" >/dev/null 2>&1
echo "export GDK_PIXBUF_MODULE_FILE='$folder/loaders.cache' XDG_DATA_HOME='$folder/share'"
