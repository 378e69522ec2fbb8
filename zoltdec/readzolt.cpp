#include "readzolt.h"

#include "fileio.h"

namespace {
bool ReadExactly(std::FILE* in, void* buffer, std::size_t size) {
  if (std::fread(buffer, 1, size, in) == size) return true;
  std::fprintf(stderr, "Error: ZOLT file is truncated\n");
  return false;
}
}  // namespace

bool ReadZoltHeader(std::FILE* in, ZoltHeader& header) {
  std::uint8_t head[kZoltHeaderSize];
  if (!ReadExactly(in, head, sizeof head)) return false;
  header = DecodeZoltHeader(head);
  if (header.width < 1 || header.height < 1) {
    std::fprintf(stderr, "Error: invalid image size %dx%d\n", header.width, header.height);
    return false;
  }
  // The size of a regular file is known before anything is written; a
  // stream that cannot tell is checked as it is read.
  const std::uint64_t pixelCount = static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
  std::uint64_t size = 0;
  const int fd = fileno(in);
  if (fd >= 0 && RegularFileSize(fd, size) && size < kZoltOverhead + pixelCount) {
    std::fprintf(stderr, "Error: ZOLT file is truncated\n");
    return false;
  }
  return true;
}

bool ReadZoltPixels(std::FILE* in, std::uint8_t* pixels, std::size_t count) { return ReadExactly(in, pixels, count); }

bool ReadZoltPalette(std::FILE* in, ZoltPalette& palette) {
  std::uint8_t tag[kZoltTagSize];
  return ReadExactly(in, tag, sizeof tag) && ReadExactly(in, palette.rgb, sizeof palette.rgb);
}
