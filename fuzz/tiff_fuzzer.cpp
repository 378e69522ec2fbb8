// Arbitrary bytes as a TIFF file, through zoltenc's reader.
#include <cstdint>

#include "memtiff.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (QuietTiff(), true);
  (void)quiet;
  MemFile file{std::vector<std::uint8_t>(data, data + size)};
  const TiffPtr tif(OpenMemTiff(file, "r"));
  if (tif) CheckTiffRead(tif.get(), -1);
  return 0;
}
