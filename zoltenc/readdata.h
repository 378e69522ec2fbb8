#ifndef ZOLT_ZOLTENC_READDATA_H
#define ZOLT_ZOLTENC_READDATA_H

// The second stage of zoltenc: the checked image, decoded band by band.

#include <cstddef>
#include <cstdint>

#include <tiffio.h>

#include "inspecttiff.h"
#include "process.h"

// Rows are gathered into bands of about this size before they are handed on.
constexpr std::uint64_t kBandBytes = std::uint64_t{1} << 20U;

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
  // Where pixel 0 lands in the file the sink writes: each band is placed in
  // memory at the same offset modulo kCopyAlignment as its file offset.
  virtual std::uint64_t Origin() const { return 0; }
};


// Decodes the image InspectTiff checked and hands it to sink in bands of
// rows: a few strips, part of one large strip, or one row of tiles. Memory
// stays bounded per thread whatever the image size: one band and, for
// tiles, one tile.
//
// A compressed image of several bands is decoded on up to threads threads,
// each with its own libtiff handle opened over fd (the descriptor tif reads);
// with threads 1, fd -1 or an uncompressed image, on this thread with tif.
// The result is the same either way: that of the first band, from the top,
// that fails: kReadImage (with libtiff's reason for that band) or kAllocate
// for the image, kWriteOutput where the sink failed.
//
// With match (InspectTiff's), each pixel's index is the one match finds for
// its colour; what it found is then match's to tell.
Outcome ReadData(TIFF* tif, const TiffImage& image, PixelSink& sink, int fd = -1, unsigned threads = 1,
                 PaletteMatch* match = nullptr);

#endif
