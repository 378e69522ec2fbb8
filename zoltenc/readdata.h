#ifndef ZOLT_ZOLTENC_READDATA_H
#define ZOLT_ZOLTENC_READDATA_H

#include <cstddef>
#include <cstdint>

#include <tiffio.h>

#include "zoltfile.h"

// The layout of the image being converted, as InspectTiff found it.
struct TiffImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t step = 1;  // bytes from one pixel's first sample to the next one's
  bool tiled = false;
  std::uint32_t rowsPerStrip = 0;  // strips
  std::uint32_t tileWidth = 0;     // tiles
  std::uint32_t tileLength = 0;
};

// Selects the image of an open TIFF file (the second when the file holds
// several, otherwise the first) and checks it: 8-bit with one sample, or two
// (the second, such as alpha, is dropped), greyscale or paletted, 1 to 32767
// pixels each way, with strips or tiles of a sane size. Fills all 256 palette
// entries, the header's width and height (the magic is left alone) and image.
// On failure prints one line on stderr and returns false; the header is then
// untouched.
bool InspectTiff(TIFF* tif, ZoltHeader& header, ZoltPalette& palette, TiffImage& image);

// Takes the pixels as they are decoded: count palette indices, the pixels
// from index first (row * width + column) on, in one run.
class PixelSink {
 public:
  PixelSink() = default;
  PixelSink(const PixelSink&) = delete;
  PixelSink& operator=(const PixelSink&) = delete;
  virtual ~PixelSink() = default;
  // False stops the conversion; the sink reports its own failure.
  virtual bool Put(std::uint64_t first, const std::uint8_t* pixels, std::size_t count) = 0;
};

// Decodes the image InspectTiff checked, a band of rows at a time (a few
// strips, part of one large strip, or one row of tiles), and hands each band
// to sink in order from top to bottom. Memory stays a few MiB whatever the
// image size: at most one band and, for tiles, one tile.
//
// Prints "Error: can't read image data" (or a failed allocation) and returns
// false when a strip or tile cannot be read; returns false without a message
// when the sink fails.
bool ReadData(TIFF* tif, const TiffImage& image, PixelSink& sink);

#endif
