#include "readdata.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

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

// Copies every step-th byte of src, count times, to dst: with step 2 the first
// sample of each interleaved pair.
void CopySamples(std::uint8_t* dst, const std::uint8_t* src, std::size_t count, std::size_t step) {
  if (step == 1) {
    std::memcpy(dst, src, count);
    return;
  }
  for (std::size_t k = 0; k < count; ++k) dst[k] = src[k * step];
}

// Whether strip or tile n is stored at all. libtiff reads uncompressed data
// at offset 0 (the file header) for a strip or tile whose entries are missing
// or zero; such data is missing, never valid.
bool Stored(TIFF* tif, std::uint32_t n) {
  return TIFFGetStrileOffset(tif, n) != 0 && TIFFGetStrileByteCount(tif, n) != 0;
}

// One sample per pixel in each strip (one-sample images, and the first plane
// of separate planes): every strip decodes straight into its rows. The exact
// byte count lets libtiff read uncompressed strips without a copy.
bool ReadStripsDirect(TIFF* tif, std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                      std::uint32_t rowsPerStrip) {
  for (std::uint32_t row = 0; row < height; row += rowsPerStrip) {
    const std::uint32_t rows = std::min(rowsPerStrip, height - row);
    const auto size = static_cast<tmsize_t>(rows) * width;
    const std::uint32_t strip = TIFFComputeStrip(tif, row, 0);
    if (!Stored(tif, strip) || TIFFReadEncodedStrip(tif, strip, pixels + static_cast<std::size_t>(row) * width, size) != size) {
      return false;
    }
  }
  return true;
}

// Two interleaved samples per pixel: decoded a row at a time, so that the
// scratch space stays one row whatever the strip size.
bool ReadStripsInterleaved(TIFF* tif, std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                           std::uint8_t* scratch) {
  for (std::uint32_t row = 0; row < height; ++row) {
    if (!Stored(tif, TIFFComputeStrip(tif, row, 0)) || TIFFReadScanline(tif, scratch, row, 0) != 1) return false;
    CopySamples(pixels + static_cast<std::size_t>(row) * width, scratch, width, 2);
  }
  return true;
}

// Tiles of the first plane; edge tiles that stick out of the image are
// clipped. step is 2 for interleaved two-sample tiles, otherwise 1.
bool ReadTiles(TIFF* tif, std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
               std::uint32_t tileWidth, std::uint32_t tileLength, std::size_t step,
               std::uint8_t* scratch, tmsize_t tileSize) {
  for (std::uint64_t y = 0; y < height; y += tileLength) {
    for (std::uint64_t x = 0; x < width; x += tileWidth) {
      const std::uint32_t tile =
          TIFFComputeTile(tif, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0, 0);
      if (!Stored(tif, tile) || TIFFReadEncodedTile(tif, tile, scratch, tileSize) != tileSize) return false;
      const std::uint64_t rows = std::min<std::uint64_t>(tileLength, height - y);
      const std::uint64_t cols = std::min<std::uint64_t>(tileWidth, width - x);
      for (std::uint64_t r = 0; r < rows; ++r) {
        CopySamples(pixels + (y + r) * width + x, scratch + r * tileWidth * step, cols, step);
      }
    }
  }
  return true;
}

}  // namespace

TiffBuffer ReadData(TIFF* tif, ZoltHeader& header, ZoltPalette& palette) {
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
    return nullptr;
  }

  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);

  if (!BuildPalette(tif, photometric, palette)) return nullptr;

  if (width < 1 || width > kZoltMaxSide || height < 1 || height > kZoltMaxSide) {
    std::fprintf(stderr, "Error: image is %ux%u; width and height must be 1 to 32767\n", width, height);
    return nullptr;
  }

  TiffBuffer pixels = AllocTiffBuffer(static_cast<std::size_t>(width) * height);
  if (!pixels) {
    std::fprintf(stderr, "Error: can't allocate image buffer\n");
    return nullptr;
  }

  // Only samples that must be picked apart, and tiles, need scratch space.
  const std::size_t step = (samples == 2 && planar == PLANARCONFIG_CONTIG) ? 2 : 1;
  const bool tiled = TIFFIsTiled(tif) != 0;
  std::uint32_t tileWidth = 0;
  std::uint32_t tileLength = 0;
  tmsize_t scratchSize = 0;
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    scratchSize = TIFFTileSize(tif);
  } else if (step == 2) {
    scratchSize = TIFFScanlineSize(tif);
  }
  TiffBuffer scratch;
  if (scratchSize > 0) scratch = AllocTiffBuffer(static_cast<std::size_t>(scratchSize));
  if ((tiled || step == 2) && !scratch) {
    std::fprintf(stderr, "Error: can't allocate temporary buffer\n");
    return nullptr;
  }

  bool ok = false;
  if (tiled) {
    ok = tileWidth > 0 && tileLength > 0 &&
         static_cast<std::uint64_t>(tileWidth) * tileLength * step <= static_cast<std::uint64_t>(scratchSize) &&
         ReadTiles(tif, pixels.get(), width, height, tileWidth, tileLength, step, scratch.get(), scratchSize);
  } else if (step == 2) {
    ok = static_cast<std::uint64_t>(scratchSize) >= 2ULL * width &&
         ReadStripsInterleaved(tif, pixels.get(), width, height, scratch.get());
  } else {
    std::uint32_t rowsPerStrip = height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    ok = ReadStripsDirect(tif, pixels.get(), width, height, std::clamp<std::uint32_t>(rowsPerStrip, 1, height));
  }
  if (!ok) {
    std::fprintf(stderr, "Error: can't read image data\n");
    return nullptr;
  }

  header.width = static_cast<std::int16_t>(width);
  header.height = static_cast<std::int16_t>(height);
  return pixels;
}
