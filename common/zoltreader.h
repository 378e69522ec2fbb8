#ifndef ZOLT_COMMON_ZOLTREADER_H
#define ZOLT_COMMON_ZOLTREADER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "messages.h"
#include "zoltfile.h"

// A ZOLT file read in order from an open stream, which may be a pipe (zoltdec's
// input, zoltenc's --palette): the header, then the pixels in runs of rows, then the
// tag and palette. The tag is not checked and bytes after the palette are
// ignored. Each call returns why it failed, with what was found where that
// says more than the fixed line.
class ZoltReader {
 public:
  // Reads in, the file called name in messages; in must outlive the reader.
  ZoltReader(std::FILE* in, std::string name) : in_(in), name_(std::move(name)) {}

  // Reads the header; it must start with the magic and be valid (see
  // ZoltHeaderValid) and, for a regular file, the file must be long enough
  // for all the header promises.
  Outcome Header(ZoltHeader& header);
  // Reads the next count pixels into pixels.
  Outcome Rows(std::uint8_t* pixels, std::size_t count);
  // Passes over the next count pixels.
  Outcome SkipRows(std::uint64_t count);
  // Reads the tag and the palette that follow the last pixel.
  Outcome Palette(ZoltPalette& palette);

 private:
  std::FILE* in_;
  std::string name_;
};

#endif
