// Arbitrary bytes as a TIFF file, through zoltenc's reader.
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

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (QuietTiff(), true);
  (void)quiet;
  MemFile file{std::vector<std::uint8_t>(data, data + size)};
  const TiffPtr tif(OpenMemTiff(file, "r"));
  if (!tif) return 0;
  ZoltHeader header{};
  ZoltPalette palette{};
  TiffImage image;
  if (!InspectTiff(tif.get(), header, palette, image)) return 0;
  if (header.width < 1 || header.height < 1 || static_cast<std::uint32_t>(header.width) != image.width ||
      static_cast<std::uint32_t>(header.height) != image.height) {
    Fail("accepted an image of a size it cannot hold");
  }
  const std::uint64_t count = std::uint64_t{image.width} * image.height;
  if (count > kMaxPixels) return 0;
  // Every pixel must arrive exactly once, inside the image.
  VectorSink sink(count);
  const bool read = ReadData(tif.get(), image, sink) == ReadResult::kOk;
  if (sink.outside) Fail("a piece outside the image");
  if (read && sink.written != count) Fail("pixels missing or written twice");
  return 0;
}
