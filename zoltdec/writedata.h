#ifndef ZOLT_ZOLTDEC_WRITEDATA_H
#define ZOLT_ZOLTDEC_WRITEDATA_H

#include <tiffio.h>

#include "messages.h"
#include "zoltreader.h"
#include "zoltfile.h"

// Writes one uncompressed, paletted, 8-bit TIFF image of header.width x
// header.height (both at least 1) pixels in strips of 64 rows, at 300 pixels
// per inch, and its directory, to a TIFF open for writing with nothing written
// yet. The reader, past the header, hands it the pixels, 64 rows at a time,
// so that memory stays one strip whatever the image size, and then the
// palette. The colour map is the palette on the 16-bit scale
// (ZoltToTiffComponent); it is set after the last strip, once the palette has
// arrived.
//
// Every strip is written at the full strip size: a short last strip is
// followed by the rows of the strip before it that its own rows did not
// replace, as the format's first writer did.
//
// Returns why it failed, if it did; the handle is left open either way.
Outcome WriteData(TIFF* tif, const ZoltHeader& header, ZoltReader& reader);

#endif
