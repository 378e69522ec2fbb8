// Where a program's input comes from: a path, or "-" for standard input.
#ifndef ZOLT_COMMON_INPUT_H
#define ZOLT_COMMON_INPUT_H

#include "resources.h"

// A descriptor that can be read at any offset (libtiff seeks), for path or,
// with "-", standard input: used as it is when it is a regular file,
// otherwise copied first into an unnamed temporary file (on disk, not in
// memory), whatever its size. Invalid when it cannot be opened or read.
UniqueFd OpenSeekableInput(const char* path);

// A stream read in order, for path or, with "-", standard input. Null when
// it cannot be opened, or is a folder.
FilePtr OpenStreamInput(const char* path);

#endif
