#include "inspecttiff.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "readdata.h"

namespace {

// Builds the palette from the photometric interpretation for samples of
// bits bits: entries 0 to 2^bits - 1, the rest 0. Prints the reason and
// returns false when the image is neither greyscale nor paletted.
bool BuildPalette(TIFF* tif, std::uint16_t photometric, std::uint16_t bits, ZoltPalette& palette) {
  std::uint16_t* red = nullptr;
  std::uint16_t* green = nullptr;
  std::uint16_t* blue = nullptr;
  const std::size_t entries = std::size_t{1} << bits;
  std::memset(palette.rgb, 0, sizeof palette.rgb);
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      // The grey ramp spread over 0 to 255 (the identity for 8 bits).
      for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t grey = i * 255 / (entries - 1);
        const std::size_t level = photometric == PHOTOMETRIC_MINISWHITE ? 255 - grey : grey;
        std::memset(&palette.rgb[3 * i], static_cast<int>(level >> 2U), 3);
      }
      return true;
    case PHOTOMETRIC_PALETTE:
      // Each array holds 2^bits values.
      if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || red == nullptr || green == nullptr || blue == nullptr) {
        std::fprintf(stderr, "Error: paletted image has no colour map\n");
        return false;
      }
      for (std::size_t i = 0; i < entries; ++i) {
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
// larger than two bands (2 MiB), or than the image's own rows it covers. Anything larger
// (a tile four billion pixels wide on a 21-pixel image) is a lie of the file,
// refused before any buffer is sized by it.
bool SaneTile(const TiffImage& image) {
  const std::uint64_t tw = image.tileWidth;
  const std::uint64_t tl = image.tileLength;
  const std::uint64_t rowOfTiles = std::uint64_t{image.width} * std::min<std::uint64_t>(tl, image.height);
  const std::uint64_t limit = std::max(2 * kBandBytes, rowOfTiles * image.step);
  return tw > 0 && tl > 0 && tw <= limit && tl <= limit / tw / image.step;
}

}  // namespace

bool InspectTiff(TIFF* tif, ZoltHeader& header, ZoltPalette& palette, TiffImage& image) {
  // A multi-image file converts its second image; with one image there is no
  // next directory and the first stays current (though libtiff then reports
  // its offset as 0).
  const std::uint64_t first = TIFFCurrentDirOffset(tif);
  const std::uint64_t directory = TIFFReadDirectory(tif) == 1 ? TIFFCurrentDirOffset(tif) : first;

  // Every field starts from its TIFF default, so a file that omits one never
  // leaves a value unset. A missing photometric interpretation is unsupported.
  std::uint16_t photometric = 0xFFFF;
  std::uint16_t samples = 1;
  std::uint16_t bits = 1;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  // One sample of 1, 2 or 4 bits is taken too, when greyscale or paletted.
  const bool packed = (bits == 1 || bits == 2 || bits == 4) && samples == 1 &&
                      (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK ||
                       photometric == PHOTOMETRIC_PALETTE);
  if (!packed && ((samples != 1 && samples != 2) || bits != 8)) {
    std::fprintf(stderr, "Error: source file should have 1 sample per pixel, and 8 bits per sample...\n");
    return false;
  }

  TiffImage found;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &found.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &found.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);

  found.bits = bits;
  if (!BuildPalette(tif, photometric, bits, palette)) return false;

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

  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  found.compressed = compression != COMPRESSION_NONE;
  found.directory = directory;

  image = found;
  header.width = static_cast<std::int16_t>(width);
  header.height = static_cast<std::int16_t>(height);
  return true;
}
