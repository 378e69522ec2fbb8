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
  std::size_t step = 1;  // samples from one pixel's first sample to the next one's
  std::uint16_t bits = 8;  // per sample: 8, or 1, 2 or 4 for one-sample images
  bool tiled = false;
  std::uint32_t rowsPerStrip = 0;  // strips
  std::uint32_t tileWidth = 0;     // tiles
  std::uint32_t tileLength = 0;
  bool compressed = false;
  std::uint64_t directory = 0;  // offset of the image's directory in the file
};

// Selects the image of an open TIFF file (the second when the file holds
// several, otherwise the first) and checks it: 8-bit with one sample, or two
// (the second, such as alpha, is dropped), or one sample of 1, 2 or 4 bits
// (each value becomes one byte unchanged), greyscale or paletted, 1 to 32767
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
  // False stops the conversion. With more than one thread, Put is called
  // from all of them at once, with runs in any order.
  virtual bool Put(std::uint64_t first, const std::uint8_t* pixels, std::size_t count) = 0;
};

enum class ReadResult { kOk, kDataError, kSinkError };

// The number of decoding threads to use: the ZOLT_THREADS environment
// variable when it is a positive integer, otherwise the number of processors
// this process may run on; never more than kMaxThreads.
constexpr unsigned kMaxThreads = 8;
unsigned DecodeThreads();

// Decodes the image InspectTiff checked and hands it to sink in bands of
// rows: a few strips, part of one large strip, or one row of tiles. Memory
// stays a few MiB per thread whatever the image size: one band and, for
// tiles, one tile.
//
// A compressed image of several bands is decoded on up to threads threads,
// each with its own libtiff handle opened over fd (the descriptor tif reads);
// with threads 1, fd -1 or an uncompressed image, on this thread with tif.
// The result is the same either way: that of the first band, from the top,
// that fails. Prints "Error: can't read image data" (or a failed allocation)
// for kDataError; prints nothing for kSinkError.
ReadResult ReadData(TIFF* tif, const TiffImage& image, PixelSink& sink, int fd = -1, unsigned threads = 1);

#endif
