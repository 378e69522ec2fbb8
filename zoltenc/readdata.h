#ifndef ZOLT_ZOLTENC_READDATA_H
#define ZOLT_ZOLTENC_READDATA_H

#include <tiffio.h>

#include "resources.h"
#include "zoltfile.h"

// Reads the image of an open TIFF file: the second image when the file holds
// several, otherwise the first. It must be 8-bit with one sample, or two (the
// second, such as alpha, is dropped), greyscale or paletted, stored in strips
// or tiles, any compression libtiff decodes.
//
// Fills all 256 palette entries and the header's width and height (the magic
// is left alone) and returns the width * height pixel buffer. On failure it
// prints one line on stderr and returns null; the header is then untouched.
TiffBuffer ReadData(TIFF* tif, ZoltHeader& header, ZoltPalette& palette);

#endif
