#include "writedata.h"

#include <cstdio>
#include <cstring>

#include "resources.h"

namespace {
constexpr std::uint32_t kRowsPerStrip = 64;

int WriteFailed() {
  std::fprintf(stderr, "Error: can't write output file\n");
  return 0;
}
}  // namespace

int WriteData(TIFF* tif, const ZoltHeader& header, const std::uint8_t* pixels, const ZoltPalette& palette) {
  std::uint16_t red[256];
  std::uint16_t green[256];
  std::uint16_t blue[256];
  for (std::size_t i = 0; i < 256; ++i) {
    // Components above 63 keep the low 16 bits of the shift.
    red[i] = static_cast<std::uint16_t>(palette.rgb[3 * i] << 10U);
    green[i] = static_cast<std::uint16_t>(palette.rgb[3 * i + 1] << 10U);
    blue[i] = static_cast<std::uint16_t>(palette.rgb[3 * i + 2] << 10U);
  }
  const auto width = static_cast<std::uint32_t>(header.width);
  const auto height = static_cast<std::uint32_t>(header.height);
  if (TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE) != 1 ||
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) != 1 ||
      TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) != 1 ||
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) != 1 || TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) != 1 ||
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) != 1 ||
      TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) != 1 ||
      TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0) != 1 || TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0) != 1 ||
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip) != 1 ||
      TIFFSetField(tif, TIFFTAG_COLORMAP, red, green, blue) != 1) {
    return WriteFailed();
  }

  // width * 64 bytes, or width * height when the image has fewer rows.
  const tmsize_t stripSize = TIFFStripSize(tif);
  const std::uint32_t strips = (height + kRowsPerStrip - 1) / kRowsPerStrip;
  const std::size_t fullStrip = static_cast<std::size_t>(width) * kRowsPerStrip;
  const std::size_t lastRows = height - (strips - 1) * kRowsPerStrip;
  if (stripSize != static_cast<tmsize_t>(static_cast<std::size_t>(width) * (strips > 1 ? kRowsPerStrip : height))) {
    return WriteFailed();
  }

  // Full strips go straight from the pixel buffer (libtiff leaves 8-bit
  // uncompressed data untouched); only a short last strip after a full one is
  // assembled: its own rows, then the tail of the strip before it.
  TiffBuffer last;
  if (strips > 1 && lastRows < kRowsPerStrip) {
    last = AllocTiffBuffer(fullStrip);
    if (!last) {
      std::fprintf(stderr, "Error: can't allocate temporary buffer\n");
      return 0;
    }
    const std::uint8_t* own = pixels + (strips - 1) * fullStrip;
    const std::size_t ownBytes = lastRows * width;
    std::memcpy(last.get(), own, ownBytes);
    std::memcpy(last.get() + ownBytes, own - fullStrip + ownBytes, fullStrip - ownBytes);
  }
  for (std::uint32_t s = 0; s < strips; ++s) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast): libtiff takes void* but does not write 8-bit uncompressed data
    void* data = (s == strips - 1 && last) ? last.get() : const_cast<std::uint8_t*>(pixels + s * fullStrip);
    if (TIFFWriteEncodedStrip(tif, s, data, stripSize) != stripSize) return WriteFailed();
  }
  if (TIFFWriteDirectory(tif) != 1) return WriteFailed();
  return 1;
}
