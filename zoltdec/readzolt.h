#ifndef ZOLT_ZOLTDEC_READZOLT_H
#define ZOLT_ZOLTDEC_READZOLT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "messages.h"
#include "zoltfile.h"

// A ZOLT file is read in order from an open stream, which may be a pipe:
// the header, then the pixels in runs of rows, then the tag and palette. The
// tag is not checked and bytes after the palette are ignored. Each function
// returns why it failed, after printing a line that names the file where
// that says more.

// Reads the header of the file called name in messages; it must start with
// the magic and show a width and height of at least 1 and, for a regular
// file, the file must be long enough for all the header promises.
Outcome ReadZoltHeader(std::FILE* in, const char* name, ZoltHeader& header);

// Reads the next count pixels.
Outcome ReadZoltPixels(std::FILE* in, std::uint8_t* pixels, std::size_t count);

// Reads the tag and the palette that follow the last pixel.
Outcome ReadZoltPalette(std::FILE* in, ZoltPalette& palette);

#endif
