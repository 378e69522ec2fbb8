#include "readzolt.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>

namespace {
bool ReadExactly(std::FILE* in, void* buffer, std::size_t size) {
  return std::fread(buffer, 1, size, in) == size;
}
}  // namespace

MallocBuffer ReadZolt(std::FILE* in, ZoltHeader& header, ZoltPalette& palette) {
  std::uint8_t head[kZoltHeaderSize];
  if (!ReadExactly(in, head, sizeof head)) {
    std::fprintf(stderr, "Error: ZOLT file is truncated\n");
    return nullptr;
  }
  header = DecodeZoltHeader(head);
  if (header.width < 1 || header.height < 1) {
    std::fprintf(stderr, "Error: invalid image size %dx%d\n", header.width, header.height);
    return nullptr;
  }
  const std::size_t pixelCount = static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);

  // The size of a regular file is known before anything is allocated; a
  // stream that cannot tell is checked as it is read.
  struct stat st {};
  const int fd = fileno(in);
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::uint64_t>(st.st_size) < kZoltOverhead + pixelCount) {
    std::fprintf(stderr, "Error: ZOLT file is truncated\n");
    return nullptr;
  }

  MallocBuffer pixels = AllocMallocBuffer(pixelCount);
  if (!pixels) {
    std::fprintf(stderr, "Error: can't allocate image buffer\n");
    return nullptr;
  }
  std::uint8_t tag[kZoltTagSize];
  if (!ReadExactly(in, pixels.get(), pixelCount) || !ReadExactly(in, tag, sizeof tag) ||
      !ReadExactly(in, palette.rgb, sizeof palette.rgb)) {
    std::fprintf(stderr, "Error: ZOLT file is truncated\n");
    return nullptr;
  }
  return pixels;
}
