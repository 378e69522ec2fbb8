#ifndef ZOLT_ZOLTDEC_WRITEDATA_H
#define ZOLT_ZOLTDEC_WRITEDATA_H

#include <cstdint>

#include <tiffio.h>

#include "zoltfile.h"

// Writes one uncompressed, paletted, 8-bit TIFF image of header.width x
// header.height (both at least 1) pixels in strips of 64 rows, at 300 pixels
// per inch, and its directory, to a TIFF open for writing with nothing written
// yet. The colour map is the palette shifted left by 10 bits.
//
// Every strip is written at the full strip size: a short last strip is
// followed by the rows of the strip before it that its own rows did not
// replace, as the format's first writer did.
//
// Returns 1 on success; on failure prints one line on stderr and returns 0.
// The handle is left open either way.
int WriteData(TIFF* tif, const ZoltHeader& header, const std::uint8_t* pixels, const ZoltPalette& palette);

#endif
