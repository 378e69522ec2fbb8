#include "tiffgen.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include <cstdlib>

std::uint8_t TestSample(std::uint32_t x, std::uint32_t y, unsigned s, int page) {
  return static_cast<std::uint8_t>(x * 7 + y * 13 + s * 101 + static_cast<unsigned>(page) * 53);
}

std::uint16_t TestColour(unsigned channel, unsigned i) {
  const unsigned level = channel == 0 ? i : channel == 1 ? 255 - i : i * 97 % 256;
  return static_cast<std::uint16_t>(level * 257);
}

namespace {
void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}
}  // namespace

void WritePage(TIFF* tif, const TiffSpec& spec, int page) {
  const bool separate = spec.planar == PLANARCONFIG_SEPARATE;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, spec.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, spec.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, spec.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spec.samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, spec.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, spec.planar);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, spec.compression);
  // JPEG: every strip a whole JPEG stream with its own tables, as old-style
  // JPEG files hold them too; WebP: lossless.
  if (spec.compression == COMPRESSION_JPEG) TIFFSetField(tif, TIFFTAG_JPEGTABLESMODE, 0);
  if (spec.compression == COMPRESSION_WEBP) TIFFSetField(tif, TIFFTAG_WEBP_LOSSLESS, 1);
  if (spec.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, spec.predictor);
  if (spec.fillOrder != FILLORDER_MSB2LSB) TIFFSetField(tif, TIFFTAG_FILLORDER, spec.fillOrder);
  if (spec.samples == 2) {
    const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  if (spec.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<std::uint16_t> map[3];
    for (unsigned c = 0; c < 3; ++c) {
      for (unsigned i = 0; i < (1U << spec.bits); ++i) map[c].push_back(TestColour(c, i % 256));
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
  }
  // The sample at (x, y, s) in the layout the TiffSpec asks for; 8-bit samples
  // and one sample of 1, 2 or 4 bits (packed, first pixel in the high bits)
  // carry the test pattern, other widths just fill the bytes.
  const unsigned perUnit = separate ? 1 : spec.samples;
  auto fill = [&](std::vector<std::uint8_t>& buf, std::uint32_t x0, std::uint32_t y0, std::uint32_t w,
                  std::uint32_t h, unsigned plane) {
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<std::uint8_t>(i);
    if (spec.bits < 8 && spec.samples == 1) {
      const std::size_t rowBytes = (std::size_t{w} * spec.bits + 7) / 8;
      std::fill(buf.begin(), buf.end(), 0);
      for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
          const unsigned value = TestSample(x0 + x, y0 + y, 0, page) & ((1U << spec.bits) - 1);
          const std::size_t bit = std::size_t{x} * spec.bits;
          buf[y * rowBytes + bit / 8] |= static_cast<std::uint8_t>(value << (8 - spec.bits - bit % 8));
        }
      }
      return;
    }
    if (spec.bits != 8) return;
    for (std::uint32_t y = 0; y < h; ++y) {
      for (std::uint32_t x = 0; x < w; ++x) {
        for (unsigned k = 0; k < perUnit; ++k) {
          buf[(y * w + x) * perUnit + k] = TestSample(x0 + x, y0 + y, separate ? plane : k, page);
        }
      }
    }
  };
  const unsigned planes = separate ? spec.samples : 1;
  if (spec.tile != 0) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, spec.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, spec.tile);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(TIFFTileSize(tif)));
    for (unsigned p = 0; p < planes; ++p) {
      for (std::uint32_t y = 0; y < spec.height; y += spec.tile) {
        for (std::uint32_t x = 0; x < spec.width; x += spec.tile) {
          fill(buf, x, y, spec.tile, spec.tile, p);
          Check(TIFFWriteTile(tif, buf.data(), x, y, 0, static_cast<std::uint16_t>(p)) > 0, "write tile");
        }
      }
    }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, spec.rowsPerStrip);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(TIFFScanlineSize(tif)));
    for (unsigned p = 0; p < planes; ++p) {
      for (std::uint32_t y = 0; y < spec.height; ++y) {
        fill(buf, 0, y, spec.width, 1, p);
        Check(TIFFWriteScanline(tif, buf.data(), y, static_cast<std::uint16_t>(p)) == 1, "write scanline");
      }
    }
  }
  Check(TIFFWriteDirectory(tif) == 1, "write directory");
}

void WriteTestTiff(const std::string& path, const TiffSpec& spec) {
  TIFF* tif = TIFFOpen(path.c_str(), spec.mode);
  Check(tif != nullptr, "open test TIFF");
  for (int page = 0; page < spec.pages; ++page) WritePage(tif, spec, page);
  TIFFClose(tif);
}

std::vector<std::uint8_t> ExpectedPixels(const TiffSpec& spec) {
  std::vector<std::uint8_t> pixels;
  for (std::uint32_t y = 0; y < spec.height; ++y) {
    for (std::uint32_t x = 0; x < spec.width; ++x) {
      const unsigned mask = spec.bits < 8 ? (1U << spec.bits) - 1 : 0xFFU;
      pixels.push_back(static_cast<std::uint8_t>(TestSample(x, y, 0, spec.pages > 1 ? 1 : 0) & mask));
    }
  }
  return pixels;
}

std::vector<std::uint8_t> DecodedPixels(const std::string& path, const TiffSpec& spec) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  Check(tif != nullptr, "open to decode");
  std::vector<std::uint32_t> rgba(std::size_t{spec.width} * spec.height);
  const int decoded = TIFFReadRGBAImageOriented(tif, spec.width, spec.height, rgba.data(), ORIENTATION_TOPLEFT, 0);
  TIFFClose(tif);
  Check(decoded == 1, "decode through libtiff's RGBA interface");
  std::vector<std::uint8_t> grey;
  for (const std::uint32_t pixel : rgba) grey.push_back(static_cast<std::uint8_t>(TIFFGetR(pixel)));
  return grey;
}

ZoltPalette ExpectedPalette(const TiffSpec& spec) {
  ZoltPalette palette{};
  const unsigned entries = spec.bits < 8 ? 1U << spec.bits : 256;
  for (unsigned i = 0; i < entries; ++i) {
    for (unsigned c = 0; c < 3; ++c) {
      const unsigned level = i * 255 / (entries - 1);
      const unsigned grey = spec.photometric == PHOTOMETRIC_MINISWHITE ? (255 - level) / 4 : level / 4;
      palette.rgb[3 * i + c] =
          static_cast<std::uint8_t>(spec.photometric == PHOTOMETRIC_PALETTE ? TestColour(c, i) / 1024 : grey);
    }
  }
  return palette;
}

void CorruptStrip(const std::string& path, std::uint32_t strip) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  Check(tif != nullptr, "open for corruption");
  const std::uint64_t offset = TIFFGetStrileOffset(tif, strip);
  const std::uint64_t count = TIFFGetStrileByteCount(tif, strip);
  TIFFClose(tif);
  std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  Check(count > 2 && offset + count <= bytes.size(), "strip inside file");
  for (std::uint64_t i = offset + 2; i < offset + count; ++i) bytes[i] = 0xFF;
  WriteFileBytes(path, bytes);
}

void PatchTag(const std::string& path, std::uint16_t tag, std::uint32_t value) {
  std::vector<std::uint8_t> b = ReadFileBytes(path);
  auto get = [&](std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8U | b.at(at + static_cast<std::size_t>(i));
    return v;
  };
  auto put = [&](std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
  };
  Check(b.size() > 8 && b[0] == 'I' && get(2, 2) == 42, "classic little-endian TIFF");
  const std::size_t ifd = get(4, 4);
  for (std::size_t e = 0; e < get(ifd, 2); ++e) {
    const std::size_t entry = ifd + 2 + 12 * e;
    if (get(entry, 2) == tag) {
      put(entry + 2, TIFF_LONG, 2);
      put(entry + 4, 1, 4);
      put(entry + 8, value, 4);
      WriteFileBytes(path, b);
      return;
    }
  }
  Check(false, "tag present");
}

namespace {
// PackBits for bytes zero bytes: runs of up to 128.
void PackZeros(std::vector<std::uint8_t>& out, std::size_t bytes) {
  for (; bytes > 0; bytes -= std::min<std::size_t>(bytes, 128)) {
    const std::size_t run = std::min<std::size_t>(bytes, 128);
    out.push_back(static_cast<std::uint8_t>(257 - run));  // -(run - 1); a run of 1 is 0x00 0x00
    out.push_back(0);
  }
}
}  // namespace

void WriteZeroTiff(const std::string& path, std::uint32_t side, std::uint16_t samples, std::uint32_t rowsPerStrip,
                   std::uint32_t tile) {
  TIFF* tif = TIFFOpen(path.c_str(), "wl");
  Check(tif != nullptr, "open test TIFF");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
  if (samples == 2) {
    const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  std::vector<std::uint8_t> raw;
  if (rowsPerStrip != 0) {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    for (std::uint32_t row = 0; row < rowsPerStrip; ++row) PackZeros(raw, std::size_t{side} * samples);
  } else {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
    for (std::uint32_t row = 0; row < tile; ++row) PackZeros(raw, std::size_t{tile} * samples);
  }
  const std::uint32_t pieces = rowsPerStrip != 0 ? TIFFNumberOfStrips(tif) : TIFFNumberOfTiles(tif);
  for (std::uint32_t n = 0; n < pieces; ++n) {
    const tmsize_t size = static_cast<tmsize_t>(raw.size());
    Check((rowsPerStrip != 0 ? TIFFWriteRawStrip(tif, n, raw.data(), size) : TIFFWriteRawTile(tif, n, raw.data(), size)) == size,
          "write raw piece");
  }
  Check(TIFFWriteDirectory(tif) == 1, "write directory");
  TIFFClose(tif);
}

void MoveDirectory(const std::string& path, std::uint64_t offset) {
  std::vector<std::uint8_t> b = ReadFileBytes(path);
  const bool big = b.size() > 16 && b[2] == 43;
  Check(b.size() > 8 && b[0] == 'I' && (b[2] == 42 || big) && b[3] == 0, "little-endian TIFF or BigTIFF");
  // Where the header keeps the directory's offset; the sizes of an offset,
  // of the directory's entry count and of an entry.
  const std::size_t at = big ? 8 : 4;
  const std::size_t word = big ? 8 : 4;
  const std::size_t countBytes = big ? 8 : 2;
  const std::size_t entryBytes = big ? 20 : 12;
  auto read = [&b](std::size_t from, std::size_t bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = bytes; i-- > 0;) v = v << 8U | b.at(from + i);
    return static_cast<std::size_t>(v);
  };
  const std::size_t ifd = read(at, word);
  const std::size_t size = countBytes + entryBytes * read(ifd, countBytes) + word;
  Check(ifd + size <= b.size() && offset > b.size() && (big || offset <= UINT32_MAX), "directory inside the file, new place after it");
  std::vector<std::uint8_t> dir(b.begin() + static_cast<std::ptrdiff_t>(ifd),
                                b.begin() + static_cast<std::ptrdiff_t>(ifd + size));
  std::fill(dir.end() - static_cast<std::ptrdiff_t>(word), dir.end(), 0);  // no next directory
  for (std::size_t i = 0; i < word; ++i) b[at + i] = static_cast<std::uint8_t>(offset >> (8 * i));
  WriteFileBytes(path, b);
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(offset));
  out.write(reinterpret_cast<const char*>(dir.data()), static_cast<std::streamsize>(dir.size()));
  Check(out.good(), "write the moved directory");
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  Check(out.good(), "write test file");
}

std::string TempDir() {
  static std::vector<std::string> made;
  static const bool cleanup = [] {
    std::atexit([] {
      std::error_code ignored;
      for (const auto& dir : made) std::filesystem::remove_all(dir, ignored);
    });
    return true;
  }();
  (void)cleanup;
  // Under $TMPDIR, as every other program's temporary files.
  static std::mt19937_64 random{std::random_device{}()};
  for (;;) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("zolt-test-" + std::to_string(random()));
    if (!std::filesystem::create_directory(dir)) continue;  // taken
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    made.push_back(dir.string());
    return made.back();
  }
}

void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");  // "" removes it
#else
  Check(value != nullptr ? setenv(name, value, 1) == 0 : unsetenv(name) == 0, "setenv");
#endif
}

void SaveSeed(const char* kind, const std::string& name, const std::string& path) {
  const char* root = std::getenv("ZOLT_SEED_DIR");
  // Small inputs only: a fuzzer mutates those best, and they keep the
  // committed corpus small.
  if (root == nullptr || !std::filesystem::is_regular_file(path) || std::filesystem::file_size(path) > 65536) return;
  const std::filesystem::path dir = std::filesystem::path(root) / kind;
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(path, dir / name, std::filesystem::copy_options::overwrite_existing);
}

const char* Err(Failure failure, const char* before, long long width, long long height) {
  static std::deque<std::string> kept;
  kept.push_back(before + ErrorLine(failure, width, height));
  return kept.back().c_str();
}

TiffSpec With(void (*edit)(TiffSpec&)) {
  TiffSpec spec;
  edit(spec);
  return spec;
}
