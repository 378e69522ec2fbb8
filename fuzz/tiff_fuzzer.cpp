// Arbitrary bytes as a TIFF file, through zoltenc's reader.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "memtiff.h"
#include "readdata.h"

namespace {
// A few bytes can describe a large image whose strips all decode (repeated
// compressed data): slow under the sanitizers, though bounded by the size
// limit. The fuzzer skips images above this many pixels.
constexpr std::uint64_t kMaxPixels = 1U << 22U;

bool WithinBudget(MemFile& file) {
  const TiffPtr tif(OpenMemTiff(file, "rm"));
  if (!tif) return false;
  TIFFReadDirectory(tif.get());  // the image ReadData converts
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  file.pos = 0;
  return static_cast<std::uint64_t>(width) * height <= kMaxPixels;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (QuietTiff(), true);
  (void)quiet;
  MemFile file{std::vector<std::uint8_t>(data, data + size)};
  if (!WithinBudget(file)) return 0;
  const TiffPtr tif(OpenMemTiff(file, "rm"));
  if (!tif) return 0;
  ZoltHeader header{};
  ZoltPalette palette{};
  const TiffBuffer pixels = ReadData(tif.get(), header, palette);
  if (!pixels) return 0;
  if (header.width < 1 || header.height < 1) {
    std::fprintf(stderr, "accepted an image of %dx%d\n", header.width, header.height);
    std::abort();
  }
  // Every byte of the pixel buffer and palette goes out as zoltenc would write
  // it: a buffer shorter than width * height faults under AddressSanitizer, and
  // bytes never written show up under valgrind.
  static const int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const std::size_t count = static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);
  if (::write(sink, pixels.get(), count) != static_cast<ssize_t>(count) ||
      ::write(sink, palette.rgb, sizeof palette.rgb) != static_cast<ssize_t>(sizeof palette.rgb)) {
    std::abort();
  }
  return 0;
}
