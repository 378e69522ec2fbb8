// zoltenc: converts an 8-bit greyscale or paletted TIFF image to a ZOLT file.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "readdata.h"
#include "resources.h"
#include "zoltfile.h"

namespace {

// Writes header, pixels, tag and palette; false when any write fails.
bool WriteZolt(std::FILE* out, const ZoltHeader& header, const std::uint8_t* pixels, const ZoltPalette& palette) {
  std::uint8_t head[kZoltHeaderSize];
  EncodeZoltHeader(header, head);
  const std::size_t pixelCount = static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);
  return std::fwrite(head, 1, sizeof head, out) == sizeof head &&
         std::fwrite(pixels, 1, pixelCount, out) == pixelCount &&
         std::fwrite(kZoltTag, 1, sizeof kZoltTag, out) == sizeof kZoltTag &&
         std::fwrite(palette.rgb, 1, sizeof palette.rgb, out) == sizeof palette.rgb;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("Usage: %s in.tiff out.zolt\n", argc > 0 ? argv[0] : "zoltenc");
    return 5;
  }
  // A write beyond the file-size limit then fails like any other write, and
  // the incomplete output is removed instead of being left behind.
  std::signal(SIGXFSZ, SIG_IGN);

  // "m": no memory mapping, so that uncompressed strips are read straight
  // into the pixel buffer.
  TiffPtr tif(TIFFOpen(argv[1], "rm"));
  if (!tif) {
    std::fprintf(stderr, "Error: Can't open TIFF File\n");
    return 1;
  }
  ZoltHeader header{};
  ZoltPalette palette{};
  const TiffBuffer pixels = ReadData(tif.get(), header, palette);
  if (!pixels) return 1;
  tif.reset();
  std::copy(std::begin(kZoltMagic), std::end(kZoltMagic), header.magic);

  FilePtr out(std::fopen(argv[2], "wb"));
  if (!out) {
    std::fprintf(stderr, "Error: Can't open output file\n");
    return 1;
  }
  PartialOutput partial(argv[2], fileno(out.get()));
  const bool written = WriteZolt(out.get(), header, pixels.get(), palette);
  if (std::fclose(out.release()) != 0 || !written) {
    std::fprintf(stderr, "Error: can't write output file\n");
    return 1;
  }
  partial.Keep();
  return 0;
}
