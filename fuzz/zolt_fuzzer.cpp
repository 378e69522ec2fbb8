// Arbitrary bytes as a ZOLT file, through zoltdec's reader and, when accepted,
// its TIFF writer; the TIFF written must read back as the same image.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "memtiff.h"
#include "readdata.h"
#include "readzolt.h"
#include "writedata.h"

namespace {
void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (QuietTiff(), true);
  (void)quiet;
  // The bytes sit in a regular (memory-backed) file, as zoltdec's input does,
  // so the size check before allocation applies.
  const int fd = memfd_create("zolt", MFD_CLOEXEC);
  if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
    Fail("memfd");
  }
  const FilePtr in(fdopen(fd, "rb"));
  if (!in) Fail("fdopen");
  ZoltHeader header{};
  ZoltPalette palette{};
  const MallocBuffer pixels = ReadZolt(in.get(), header, palette);
  if (!pixels) return 0;

  MemFile out;
  {
    const TiffPtr tif(OpenMemTiff(out, "w"));
    if (!tif || WriteData(tif.get(), header, pixels.get(), palette) != 1) Fail("WriteData failed on a valid file");
  }
  // Read back with zoltenc's reader: the same size, pixels and (for
  // components up to 63) palette.
  out.pos = 0;
  const TiffPtr back(OpenMemTiff(out, "rm"));
  ZoltHeader backHeader{};
  ZoltPalette backPalette{};
  const TiffBuffer backPixels = back ? ReadData(back.get(), backHeader, backPalette) : nullptr;
  if (!backPixels) Fail("written TIFF does not read back");
  const std::size_t count = static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);
  if (backHeader.width != header.width || backHeader.height != header.height ||
      std::memcmp(backPixels.get(), pixels.get(), count) != 0) {
    Fail("round trip changed the image");
  }
  for (std::size_t i = 0; i < sizeof palette.rgb; ++i) {
    if (palette.rgb[i] < 64 && backPalette.rgb[i] != palette.rgb[i]) Fail("round trip changed the palette");
  }
  return 0;
}
