// Writes a test or benchmark input: an 8-bit greyscale TIFF of smooth
// gradients with a little noise, so that compression ratios are realistic.
//   zolt_makeimage WIDTH HEIGHT OUT.tif none|lzw|deflate [ROWS|tSIDE]
// deflate uses the horizontal predictor. Strips have ROWS rows (64 unless
// given); tSIDE gives SIDE x SIDE tiles instead.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <tiffio.h>

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "Usage: %s WIDTH HEIGHT OUT.tif none|lzw|deflate [ROWS|tSIDE]\n", argv[0]);
    return 2;
  }
  const auto width = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
  const auto height = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const char* method = argv[4];
  const std::uint16_t compression = std::strcmp(method, "lzw") == 0       ? COMPRESSION_LZW
                                    : std::strcmp(method, "deflate") == 0 ? COMPRESSION_ADOBE_DEFLATE
                                                                          : COMPRESSION_NONE;
  TIFF* tif = TIFFOpen(argv[3], width * static_cast<std::uint64_t>(height) > (1ULL << 31) ? "w8" : "w");
  if (tif == nullptr || width == 0 || height == 0) return 1;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  if (compression == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  const char* layout = argc == 6 ? argv[5] : "64";
  const bool tiled = layout[0] == 't';
  const auto side = static_cast<std::uint32_t>(std::strtoul(layout + (tiled ? 1 : 0), nullptr, 10));
  if (side == 0) return 1;
  if (tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, side);
  }
  // Tiles are written a row of tiles at a time from this band of rows.
  const std::uint32_t bandRows = tiled ? side : 1;
  std::vector<std::uint8_t> band(static_cast<std::size_t>(width) * bandRows);
  std::vector<std::uint8_t> tile(tiled ? static_cast<std::size_t>(TIFFTileSize(tif)) : 0);
  std::uint32_t noise = 0x9E3779B9U;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      noise ^= noise << 13U;
      noise ^= noise >> 17U;
      noise ^= noise << 5U;
      // Two slow ramps and a ripple, plus or minus a little noise.
      const std::uint64_t smooth = (x * 255ULL / width + y * 255ULL / height) / 2 + ((x / 97 + y / 89) % 16);
      band[static_cast<std::size_t>(y % bandRows) * width + x] = static_cast<std::uint8_t>(smooth + (noise & 3U));
    }
    if (!tiled) {
      if (TIFFWriteScanline(tif, band.data(), y, 0) != 1) return 1;
      continue;
    }
    if (y % side != side - 1 && y != height - 1) continue;
    const std::uint32_t top = y - y % side;
    for (std::uint32_t x = 0; x < width; x += side) {
      std::fill(tile.begin(), tile.end(), 0);
      for (std::uint32_t r = 0; r <= y - top; ++r) {
        for (std::uint32_t c = 0; c < side && x + c < width; ++c) {
          tile[static_cast<std::size_t>(r) * side + c] = band[static_cast<std::size_t>(r) * width + x + c];
        }
      }
      if (TIFFWriteTile(tif, tile.data(), x, top, 0, 0) < 0) return 1;
    }
  }
  TIFFClose(tif);
  return 0;
}
