#ifndef ZOLT_ZOLTENC_INSPECTTIFF_H
#define ZOLT_ZOLTENC_INSPECTTIFF_H

// The first stage of zoltenc: which image of the file, whether it can be
// converted, its palette and its layout.

#include <cstddef>
#include <cstdint>

#include <tiffio.h>

#include "messages.h"
#include "zoltfile.h"

// The layout of the image being converted, as InspectTiff found it.
struct TiffImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t step = 1;  // samples from one pixel's first sample to the next one's, in a plane
  std::uint16_t bits = 8;  // per sample: 8, or 1, 2 or 4 for one-sample images, or 16 for colours
  // Red, green and blue samples, each pixel's index found by a PaletteMatch,
  // from one plane (contiguous) or from the first three.
  bool colour = false;
  std::uint16_t planes = 1;
  bool tiled = false;
  std::uint32_t rowsPerStrip = 0;  // strips
  std::uint32_t tileWidth = 0;     // tiles
  std::uint32_t tileLength = 0;
  bool compressed = false;
  std::uint64_t directory = 0;  // offset of the image's directory in the file

  // Whether decoded rows are the pixels themselves: one sample of 8 bits, to
  // be decoded straight into place.
  bool Direct() const { return step == 1 && bits == 8 && !colour; }
  // Bytes of a decoded row of columns pixels, all samples and bits.
  std::uint64_t RowBytes(std::uint32_t columns) const { return (std::uint64_t{columns} * step * bits + 7) / 8; }
};

class PaletteMatch;

// Selects the image of an open TIFF file (the second when the file holds
// several, otherwise the first) and checks it: 8-bit with one sample, or two
// (the second, such as alpha, is dropped), or one sample of 1, 2 or 4 bits
// (each value becomes one byte unchanged), greyscale or paletted, 1 to 32767
// pixels each way, with strips or tiles of a sane size. Fills all 256 palette
// entries and image. On failure returns why, with what was found; image is
// then untouched. What the user should know of a file that converts (it holds
// several images, a sample is dropped, a short colour map) goes into notes.
//
// With match, the palette is match's, and RGB or RGBA images of 8 or 16 bits
// per sample are taken too, contiguous or in planes: their colours are found
// in it as they are decoded. The indices of any other image are matched to
// it by their colours (MatchIndicesOf).
Outcome InspectTiff(TIFF* tif, ZoltPalette& palette, TiffImage& image, Notes& notes, PaletteMatch* match = nullptr);

#endif
