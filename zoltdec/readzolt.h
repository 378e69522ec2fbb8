#ifndef ZOLT_ZOLTDEC_READZOLT_H
#define ZOLT_ZOLTDEC_READZOLT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "zoltfile.h"

// A ZOLT file is read in order from an open stream, which may be a pipe:
// the header, then the pixels in runs of rows, then the tag and palette. The
// magic and the tag are not checked and bytes after the palette are ignored.
// Each function prints one line on stderr and returns false on failure.

// Reads the header; it must show a width and height of at least 1 and, for a
// regular file, the file must be long enough for all the header promises.
bool ReadZoltHeader(std::FILE* in, ZoltHeader& header);

// Reads the next count pixels.
bool ReadZoltPixels(std::FILE* in, std::uint8_t* pixels, std::size_t count);

// Reads the tag and the palette that follow the last pixel.
bool ReadZoltPalette(std::FILE* in, ZoltPalette& palette);

#endif
