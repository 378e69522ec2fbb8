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
#include "zoltreader.h"
#include "writedata.h"


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (QuietTiff(), true);
  (void)quiet;
  // The bytes sit in a regular (memory-backed) file, as zoltdec's input does,
  // so the size check before writing applies.
  const int fd = memfd_create("zolt", MFD_CLOEXEC);
  if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
    Fail("memfd");
  }
  const FilePtr in(fdopen(fd, "rb"));
  if (!in) Fail("fdopen");
  ZoltReader reader(in.get(), "input");
  ZoltHeader header{};
  if (reader.Header(header)) return 0;

  MemFile out;
  {
    const TiffPtr tif(OpenMemTiff(out, "w"));
    if (!tif || WriteData(tif.get(), header, reader)) Fail("WriteData failed on a valid file");
  }
  // Read back with zoltenc's reader: the same size, pixels and (for
  // components up to 63) palette as the input's bytes.
  out.pos = 0;
  const TiffPtr back(OpenMemTiff(out, "r"));
  ZoltPalette backPalette{};
  TiffImage image;
  Notes notes;
  if (!back || InspectTiff(back.get(), backPalette, image, notes)) Fail("written TIFF does not read back");
  const std::size_t count = static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);
  VectorSink sink(count);
  if (ReadData(back.get(), image, sink) || sink.written != count) Fail("written TIFF's pixels do not read back");
  if (image.width != static_cast<std::uint32_t>(header.width) || image.height != static_cast<std::uint32_t>(header.height) ||
      std::memcmp(sink.pixels.data(), data + kZoltHeaderSize, count) != 0) {
    Fail("round trip changed the image");
  }
  const std::uint8_t* rgb = data + kZoltHeaderSize + count + kZoltTagSize;
  for (std::size_t i = 0; i < kZoltPaletteSize; ++i) {
    if (rgb[i] < 64 && backPalette.rgb[i] != rgb[i]) Fail("round trip changed the palette");
  }
  return 0;
}
