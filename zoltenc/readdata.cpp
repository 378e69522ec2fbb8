#include "readdata.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "resources.h"

namespace {

// Rows are gathered into bands of about this size before they are handed on.
constexpr std::uint64_t kBandBytes = std::uint64_t{2} << 20U;
// A strip or tile whose compressed data is larger than this is not read whole
// (strips are then decoded a row at a time).
constexpr std::uint64_t kRawLimit = 2 * kBandBytes;

// Builds the palette from the photometric interpretation; prints the reason
// and returns false when the image is neither greyscale nor paletted.
bool BuildPalette(TIFF* tif, std::uint16_t photometric, ZoltPalette& palette) {
  std::uint16_t* red = nullptr;
  std::uint16_t* green = nullptr;
  std::uint16_t* blue = nullptr;
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      for (std::size_t i = 0; i < 256; ++i) {
        const std::size_t level = photometric == PHOTOMETRIC_MINISWHITE ? 255 - i : i;
        std::memset(&palette.rgb[3 * i], static_cast<int>(level >> 2U), 3);
      }
      return true;
    case PHOTOMETRIC_PALETTE:
      // With 8 bits per sample each array holds 256 values.
      if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || red == nullptr || green == nullptr || blue == nullptr) {
        std::fprintf(stderr, "Error: paletted image has no colour map\n");
        return false;
      }
      for (std::size_t i = 0; i < 256; ++i) {
        palette.rgb[3 * i] = static_cast<std::uint8_t>(red[i] >> 10U);
        palette.rgb[3 * i + 1] = static_cast<std::uint8_t>(green[i] >> 10U);
        palette.rgb[3 * i + 2] = static_cast<std::uint8_t>(blue[i] >> 10U);
      }
      return true;
    default:
      std::fprintf(stderr, "Unsupported file format - must be either paletted or greyscale...\n");
      return false;
  }
}

// Whether a tile's size is one a real file of this image could have: no
// larger than 4 MiB, or than the image's own rows it covers. Anything larger
// (a tile four billion pixels wide on a 21-pixel image) is a lie of the file,
// refused before any buffer is sized by it.
bool SaneTile(const TiffImage& image) {
  const std::uint64_t tw = image.tileWidth;
  const std::uint64_t tl = image.tileLength;
  const std::uint64_t rowOfTiles = std::uint64_t{image.width} * std::min<std::uint64_t>(tl, image.height);
  const std::uint64_t limit = std::max(2 * kBandBytes, rowOfTiles * image.step);
  return tw > 0 && tl > 0 && tw <= limit && tl <= limit / tw / image.step;
}

// Copies every step-th byte of src, count times, to dst: with step 2 the first
// sample of each interleaved pair.
void CopySamples(std::uint8_t* dst, const std::uint8_t* src, std::size_t count, std::size_t step) {
  if (step == 1) {
    std::memcpy(dst, src, count);
    return;
  }
  for (std::size_t k = 0; k < count; ++k) dst[k] = src[k * step];
}

// Whether strip or tile n is stored at all. libtiff reads uncompressed data at offset 0 (the file header) for a
// strip or tile whose entries are missing or zero; such data is missing,
// never valid.
bool Stored(TIFF* tif, std::uint32_t n) {
  return TIFFGetStrileOffset(tif, n) != 0 && TIFFGetStrileByteCount(tif, n) != 0;
}

// Consecutive rows of the image waiting to be handed to the sink in one run.
class Band {
 public:
  Band(PixelSink& sink, std::uint32_t width, std::uint32_t capacityRows)
      : sink_(sink), width_(width), capacity_(capacityRows),
        buffer_(AllocTiffBuffer(std::size_t{width} * capacityRows)) {}

  bool Allocated() const { return buffer_ != nullptr; }
  bool SinkFailed() const { return sinkFailed_; }
  std::uint32_t Capacity() const { return capacity_; }

  // Room for rows row to row + count - 1 (count at most Capacity()); what the
  // band held is handed on first when they would not fit after it. Null when
  // the sink failed.
  std::uint8_t* Rows(std::uint32_t row, std::uint32_t count) {
    if (rows_ > 0 && (row != first_ + rows_ || rows_ + count > capacity_) && !Flush()) return nullptr;
    if (rows_ == 0) first_ = row;
    std::uint8_t* start = buffer_.get() + std::size_t{width_} * rows_;
    rows_ += count;
    return start;
  }

  bool Flush() {
    if (rows_ > 0 && !sink_.Put(std::uint64_t{first_} * width_, buffer_.get(), std::size_t{width_} * rows_)) {
      sinkFailed_ = true;
      return false;
    }
    rows_ = 0;
    return true;
  }

 private:
  PixelSink& sink_;
  std::uint32_t width_;
  std::uint32_t capacity_;
  TiffBuffer buffer_;
  std::uint32_t first_ = 0;
  std::uint32_t rows_ = 0;
  bool sinkFailed_ = false;
};

// Strips of the first plane. Strips that fit in the band decode straight
// into it; larger ones, and two interleaved samples, a row at a time, which
// libtiff decodes as it goes without holding the whole strip.
bool ReadStrips(TIFF* tif, const TiffImage& image, Band& band, std::uint8_t* scratch) {
  const std::uint32_t width = image.width;
  for (std::uint32_t row = 0; row < image.height; row += image.rowsPerStrip) {
    const std::uint32_t rows = std::min(image.rowsPerStrip, image.height - row);
    const std::uint32_t strip = TIFFComputeStrip(tif, row, 0);
    if (!Stored(tif, strip)) return false;
    if (image.step == 1 && rows <= band.Capacity() && TIFFGetStrileByteCount(tif, strip) <= kRawLimit) {
      std::uint8_t* dst = band.Rows(row, rows);
      const auto size = static_cast<tmsize_t>(std::size_t{rows} * width);
      if (dst == nullptr || TIFFReadEncodedStrip(tif, strip, dst, size) != size) return false;
      continue;
    }
    for (std::uint32_t r = row; r < row + rows; ++r) {
      std::uint8_t* dst = band.Rows(r, 1);
      if (dst == nullptr || TIFFReadScanline(tif, image.step == 1 ? dst : scratch, r, 0) != 1) return false;
      if (image.step != 1) CopySamples(dst, scratch, width, image.step);
    }
  }
  return band.Flush();
}

// Tiles of the first plane, a row of tiles at a time; edge tiles that stick
// out of the image are clipped.
bool ReadTiles(TIFF* tif, const TiffImage& image, Band& band, std::uint8_t* scratch, tmsize_t tileSize) {
  const std::uint64_t tileRaw = 2 * static_cast<std::uint64_t>(tileSize) + kBandBytes;
  for (std::uint32_t y = 0; y < image.height; y += std::min(image.tileLength, image.height - y)) {
    const std::uint32_t rows = std::min(image.tileLength, image.height - y);
    std::uint8_t* dst = band.Rows(y, rows);
    if (dst == nullptr) return false;
    for (std::uint32_t x = 0; x < image.width; x += std::min(image.tileWidth, image.width - x)) {
      const std::uint32_t tile = TIFFComputeTile(tif, x, y, 0, 0);
      if (!Stored(tif, tile) || TIFFGetStrileByteCount(tif, tile) > tileRaw ||
          TIFFReadEncodedTile(tif, tile, scratch, tileSize) != tileSize) {
        return false;
      }
      const std::uint32_t cols = std::min(image.tileWidth, image.width - x);
      for (std::uint32_t r = 0; r < rows; ++r) {
        CopySamples(dst + std::size_t{r} * image.width + x, scratch + std::size_t{r} * image.tileWidth * image.step,
                    cols, image.step);
      }
    }
  }
  return band.Flush();
}

}  // namespace

bool InspectTiff(TIFF* tif, ZoltHeader& header, ZoltPalette& palette, TiffImage& image) {
  // A multi-image file converts its second image; with one image there is no
  // next directory and the first stays current.
  TIFFReadDirectory(tif);

  // Every field starts from its TIFF default, so a file that omits one never
  // leaves a value unset. A missing photometric interpretation is unsupported.
  std::uint16_t photometric = 0xFFFF;
  std::uint16_t samples = 1;
  std::uint16_t bits = 1;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  if ((samples != 1 && samples != 2) || bits != 8) {
    std::fprintf(stderr, "Error: source file should have 1 sample per pixel, and 8 bits per sample...\n");
    return false;
  }

  TiffImage found;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &found.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &found.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);

  if (!BuildPalette(tif, photometric, palette)) return false;

  const std::uint32_t width = found.width;
  const std::uint32_t height = found.height;
  if (width < 1 || width > kZoltMaxSide || height < 1 || height > kZoltMaxSide) {
    std::fprintf(stderr, "Error: image is %ux%u; width and height must be 1 to 32767\n", width, height);
    return false;
  }

  found.step = (samples == 2 && planar == PLANARCONFIG_CONTIG) ? 2 : 1;
  found.tiled = TIFFIsTiled(tif) != 0;
  if (found.tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &found.tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &found.tileLength);
    if (!SaneTile(found)) {
      std::fprintf(stderr, "Error: can't read image data\n");
      return false;
    }
  } else {
    found.rowsPerStrip = height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &found.rowsPerStrip);
    found.rowsPerStrip = std::clamp<std::uint32_t>(found.rowsPerStrip, 1, height);
  }

  image = found;
  header.width = static_cast<std::int16_t>(width);
  header.height = static_cast<std::int16_t>(height);
  return true;
}

bool ReadData(TIFF* tif, const TiffImage& image, PixelSink& sink) {
  // A band of whole rows: about kBandBytes, or one row of tiles.
  const std::uint32_t bandRows =
      image.tiled ? std::min(image.tileLength, image.height)
                  : static_cast<std::uint32_t>(std::clamp<std::uint64_t>(kBandBytes / image.width, 1, image.height));
  Band band(sink, image.width, bandRows);
  // Tiles decode into one tile; two interleaved samples into one row.
  const tmsize_t scratchSize = image.tiled ? TIFFTileSize(tif) : image.step == 2 ? TIFFScanlineSize(tif) : 0;
  TiffBuffer scratch;
  if (scratchSize > 0) scratch = AllocTiffBuffer(static_cast<std::size_t>(scratchSize));
  if (!band.Allocated() || ((image.tiled || image.step == 2) && !scratch)) {
    std::fprintf(stderr, "Error: can't allocate temporary buffer\n");
    return false;
  }

  bool ok = false;
  if (image.tiled) {
    const std::uint64_t need = std::uint64_t{image.tileWidth} * image.tileLength * image.step;
    ok = static_cast<std::uint64_t>(scratchSize) >= need && ReadTiles(tif, image, band, scratch.get(), scratchSize);
  } else {
    ok = (image.step == 1 || static_cast<std::uint64_t>(scratchSize) >= std::uint64_t{image.width} * image.step) &&
         ReadStrips(tif, image, band, scratch.get());
  }
  if (!ok && !band.SinkFailed()) std::fprintf(stderr, "Error: can't read image data\n");
  return ok;
}
