#ifndef ZOLT_ZOLTDEC_READZOLT_H
#define ZOLT_ZOLTDEC_READZOLT_H

#include <cstdio>

#include "resources.h"
#include "zoltfile.h"

// Reads a whole ZOLT file from an open stream: header, pixels and palette.
// The magic and the tag are not checked and bytes after the palette are
// ignored. Nothing is allocated before the header shows a width and height of
// at least 1 and, for a regular file, the file is long enough for all the
// header promises. On failure it prints one line on stderr and returns null.
MallocBuffer ReadZolt(std::FILE* in, ZoltHeader& header, ZoltPalette& palette);

#endif
