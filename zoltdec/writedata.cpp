#include "writedata.h"

#include <cstdint>

#include "messages.h"
#include "process.h"
#include "zoltreader.h"
#include "resources.h"

namespace {
constexpr std::uint32_t kRowsPerStrip = 64;
}  // namespace

Outcome WriteData(TIFF* tif, const ZoltHeader& header, ZoltReader& reader) {
  const auto width = static_cast<std::uint32_t>(header.width);
  const auto height = static_cast<std::uint32_t>(header.height);
  if (TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE) != 1 ||
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) != 1 ||
      TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) != 1 ||
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) != 1 || TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) != 1 ||
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) != 1 ||
      TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) != 1 ||
      TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0) != 1 || TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0) != 1 ||
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip) != 1) {
    return Failure::kWriteOutput;
  }

  // width * 64 bytes, or width * height when the image has fewer rows.
  const tmsize_t stripSize = TIFFStripSize(tif);
  const std::uint32_t strips = (height + kRowsPerStrip - 1) / kRowsPerStrip;
  if (stripSize != static_cast<tmsize_t>(std::size_t{width} * (strips > 1 ? kRowsPerStrip : height))) {
    return Failure::kWriteOutput;
  }
  // One strip buffer, reused: a short last strip's rows replace only the
  // start of it, and the rest still holds the strip before. Every strip
  // starts at offset kZoltHeaderSize plus a multiple of 64 both in the ZOLT
  // file and in the TIFF (after its 8-byte header), so one place in the
  // buffer lines up with both files.
  const TiffBuffer buffer = AllocTiffBuffer(static_cast<std::size_t>(stripSize) + kCopyAlignment);
  if (!buffer) {
    return Failure::kAllocate;
  }
  std::uint8_t* strip = AlignedFor(buffer.get(), kZoltHeaderSize);
  for (std::uint32_t s = 0; s < strips; ++s) {
    if (Interrupted() != 0) return Failure::kInterrupted;
    const std::uint32_t rows = s + 1 < strips ? kRowsPerStrip : height - s * kRowsPerStrip;
    if (Outcome fault = reader.Rows(strip, std::size_t{width} * rows)) return fault;
    // Uncompressed, the strip's bytes are the file's: written from here, not
    // copied into libtiff's own buffer first.
    if (TIFFWriteRawStrip(tif, s, strip, stripSize) != stripSize) return Failure::kWriteOutput;
  }

  ZoltPalette palette{};
  if (Outcome fault = reader.Palette(palette)) return fault;
  // The red, green and blue maps, each in index order.
  std::uint16_t map[3][256];
  for (std::size_t i = 0; i < kZoltPaletteSize; ++i) map[i % 3][i / 3] = ZoltToTiffComponent(palette.rgb[i]);
  if (TIFFSetField(tif, TIFFTAG_COLORMAP, map[0], map[1], map[2]) != 1) return Failure::kWriteOutput;
  // libtiff reports success even where it had no memory for its copy of the
  // colour map, and would then write the map from nowhere, here or when the
  // handle is closed.
  const std::uint16_t* copies[3] = {};
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &copies[0], &copies[1], &copies[2]) != 1 || copies[0] == nullptr ||
      copies[1] == nullptr || copies[2] == nullptr) {
    TIFFUnsetField(tif, TIFFTAG_COLORMAP);
    return Failure::kAllocate;
  }
  if (TIFFWriteDirectory(tif) != 1) return Failure::kWriteOutput;
  return {};
}
