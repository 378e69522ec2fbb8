// Writes a benchmark input: an 8-bit greyscale TIFF of smooth gradients with
// a little noise, so that compression ratios are realistic.
//   zolt_makeimage WIDTH HEIGHT OUT.tif none|lzw|deflate
// deflate uses the horizontal predictor; every image has 64-row strips.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <tiffio.h>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "Usage: %s WIDTH HEIGHT OUT.tif none|lzw|deflate\n", argv[0]);
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
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
  std::vector<std::uint8_t> row(width);
  std::uint32_t noise = 0x9E3779B9U;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      noise ^= noise << 13U;
      noise ^= noise >> 17U;
      noise ^= noise << 5U;
      // Two slow ramps and a ripple, plus or minus a little noise.
      const std::uint64_t smooth = (x * 255ULL / width + y * 255ULL / height) / 2 + ((x / 97 + y / 89) % 16);
      row[x] = static_cast<std::uint8_t>(smooth + (noise & 3U));
    }
    if (TIFFWriteScanline(tif, row.data(), y, 0) != 1) return 1;
  }
  TIFFClose(tif);
  return 0;
}
