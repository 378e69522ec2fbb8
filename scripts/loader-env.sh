# Sourced from the top of the checkout: makes gdk-pixbuf programs started
# from this shell use the image loader of the build in $1 beside the system's
# loaders, and know the MIME type, as installing the package would; the
# registrations are kept in the existing folder $2.
#   . scripts/loader-env.sh BUILD_DIR FOLDER
"$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0)" \
  "$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0)"/*.so "$(realpath "$1")/libpixbufloader-zolt.so" \
  >"$2/loaders.cache"
mkdir -p "$2/share/mime/packages"
cp pixbuf/zolt.xml "$2/share/mime/packages/"
update-mime-database "$2/share/mime" >/dev/null 2>&1
export GDK_PIXBUF_MODULE_FILE="$(realpath "$2")/loaders.cache" XDG_DATA_HOME="$(realpath "$2")/share"
