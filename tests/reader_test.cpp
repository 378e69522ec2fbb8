// ReadData against TIFF files of every layout it accepts, and of the kinds it
// must reject.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "input.h"
#include "memtiff.h"
#include "readdata.h"
#include "process.h"
#include "tiffgen.h"
#include "tiffhandle.h"

namespace {

struct ReaderCase {
  const char* name;
  TiffSpec spec;
  const char* error;  // the message, or nullptr when the image converts
  void (*damage)(const std::string& path) = nullptr;  // applied to the file once written
};

const ReaderCase kCases[] = {
    {"BlackIsZero", {}, nullptr},
    {"WhiteIsZero", With([](TiffSpec& s) { s.photometric = PHOTOMETRIC_MINISWHITE; }), nullptr},
    {"Paletted", With([](TiffSpec& s) { s.photometric = PHOTOMETRIC_PALETTE; }), nullptr},
    {"Lzw", With([](TiffSpec& s) { s.compression = COMPRESSION_LZW; }), nullptr},
    {"LzwPredictor", With([](TiffSpec& s) { s.compression = COMPRESSION_LZW; s.predictor = PREDICTOR_HORIZONTAL; }), nullptr},
    {"Deflate", With([](TiffSpec& s) { s.compression = COMPRESSION_ADOBE_DEFLATE; }), nullptr},
    {"DeflatePredictor", With([](TiffSpec& s) { s.compression = COMPRESSION_ADOBE_DEFLATE; s.predictor = PREDICTOR_HORIZONTAL; }), nullptr},
    {"PackBits", With([](TiffSpec& s) { s.compression = COMPRESSION_PACKBITS; }), nullptr},
    // The other codecs of Debian's libtiff; a build that leaves one out on
    // purpose (tests/CMakeLists.txt) skips its row. JPEG is lossy: the
    // pixels are what libtiff's RGBA interface decodes.
    {"Jpeg", With([](TiffSpec& s) { s.compression = COMPRESSION_JPEG; s.rowsPerStrip = 8; }), nullptr},
    // Old-style JPEG, which libtiff only reads: one strip of a whole JPEG stream.
    {"OldJpeg", With([](TiffSpec& s) { s.compression = COMPRESSION_JPEG; s.rowsPerStrip = 17; }), nullptr,
     [](const std::string& p) { PatchTag(p, TIFFTAG_COMPRESSION, COMPRESSION_OJPEG); }},
    {"Lerc", With([](TiffSpec& s) { s.compression = COMPRESSION_LERC; }), nullptr},
    {"Lzma", With([](TiffSpec& s) { s.compression = COMPRESSION_LZMA; s.predictor = PREDICTOR_HORIZONTAL; }), nullptr},
    {"Zstd", With([](TiffSpec& s) { s.compression = COMPRESSION_ZSTD; s.tile = 16; }), nullptr},
    // WebP holds only RGB and RGBA, which are refused by their kind, before
    // any data is decoded.
    {"WebP", With([](TiffSpec& s) { s.samples = 3; s.photometric = PHOTOMETRIC_RGB; s.compression = COMPRESSION_WEBP; }),
     Err(Failure::kUnsupported)},
    {"OneRowPerStrip", With([](TiffSpec& s) { s.rowsPerStrip = 1; }), nullptr},
    {"StripTallerThanImage", With([](TiffSpec& s) { s.rowsPerStrip = 1000; }), nullptr},
    {"BigEndian", With([](TiffSpec& s) { s.mode = "wb"; s.compression = COMPRESSION_LZW; }), nullptr},
    {"BigTiff", With([](TiffSpec& s) { s.mode = "w8l"; }), nullptr},
    {"SecondImageOfTwo", With([](TiffSpec& s) { s.pages = 2; }), nullptr},
    {"Tiles", With([](TiffSpec& s) { s.tile = 16; }), nullptr},
    {"TilesDeflate", With([](TiffSpec& s) { s.tile = 16; s.compression = COMPRESSION_ADOBE_DEFLATE; s.width = 40; }), nullptr},
    {"GreyAlphaContig", With([](TiffSpec& s) { s.samples = 2; }), nullptr},
    {"GreyAlphaContigOneStrip", With([](TiffSpec& s) { s.samples = 2; s.rowsPerStrip = 1000; s.compression = COMPRESSION_LZW; }), nullptr},
    {"GreyAlphaSeparate", With([](TiffSpec& s) { s.samples = 2; s.planar = PLANARCONFIG_SEPARATE; }), nullptr},
    {"GreyAlphaTilesContig", With([](TiffSpec& s) { s.samples = 2; s.tile = 16; }), nullptr},
    {"GreyAlphaTilesSeparate", With([](TiffSpec& s) { s.samples = 2; s.tile = 16; s.planar = PLANARCONFIG_SEPARATE; }), nullptr},
    {"PalettedAlpha", With([](TiffSpec& s) { s.samples = 2; s.photometric = PHOTOMETRIC_PALETTE; }), nullptr},
    {"Rgb", With([](TiffSpec& s) { s.samples = 3; s.photometric = PHOTOMETRIC_RGB; }),
     Err(Failure::kUnsupported)},
    {"SixteenBit", With([](TiffSpec& s) { s.bits = 16; }),
     Err(Failure::kUnsupported)},
    // One sample of 1, 2 or 4 bits: each value one byte, unchanged; rows of
    // 23 pixels end part way through a byte.
    {"OneBit", With([](TiffSpec& s) { s.bits = 1; }), nullptr},
    {"OneBitWhiteIsZeroG4", With([](TiffSpec& s) { s.bits = 1; s.photometric = PHOTOMETRIC_MINISWHITE; s.compression = COMPRESSION_CCITTFAX4; }), nullptr},
    {"OneBitFillOrder2G4", With([](TiffSpec& s) { s.bits = 1; s.photometric = PHOTOMETRIC_MINISWHITE; s.compression = COMPRESSION_CCITTFAX4; s.fillOrder = FILLORDER_LSB2MSB; }), nullptr},
    {"OneBitPalettedTiles", With([](TiffSpec& s) { s.bits = 1; s.photometric = PHOTOMETRIC_PALETTE; s.tile = 16; }), nullptr},
    {"TwoBitWhiteIsZero", With([](TiffSpec& s) { s.bits = 2; s.photometric = PHOTOMETRIC_MINISWHITE; }), nullptr},
    {"TwoBitPalettedPackBits", With([](TiffSpec& s) { s.bits = 2; s.photometric = PHOTOMETRIC_PALETTE; s.compression = COMPRESSION_PACKBITS; }), nullptr},
    {"FourBitPaletted", With([](TiffSpec& s) { s.bits = 4; s.photometric = PHOTOMETRIC_PALETTE; }), nullptr},
    {"FourBitFillOrder2", With([](TiffSpec& s) { s.bits = 4; s.fillOrder = FILLORDER_LSB2MSB; }), nullptr},
    {"FourBitPackBitsTiles", With([](TiffSpec& s) { s.bits = 4; s.tile = 16; s.compression = COMPRESSION_PACKBITS; s.width = 40; }), nullptr},
    {"FourBitLzwOneStrip", With([](TiffSpec& s) { s.bits = 4; s.width = s.height = 1500; s.rowsPerStrip = 1500; s.compression = COMPRESSION_LZW; }), nullptr},
    {"FourBitTwoSamples", With([](TiffSpec& s) { s.bits = 4; s.samples = 2; }),
     Err(Failure::kUnsupported)},
    {"FourBitRgb", With([](TiffSpec& s) { s.bits = 4; s.photometric = PHOTOMETRIC_RGB; }),
     Err(Failure::kUnsupported)},
    {"Separated", With([](TiffSpec& s) { s.photometric = PHOTOMETRIC_SEPARATED; }),
     Err(Failure::kNotGreyOrPaletted)},
    {"TooWide", With([](TiffSpec& s) { s.width = 40000; s.height = 1; }),
     Err(Failure::kTooLarge, "", 40000, 1)},
    {"CorruptLzw", With([](TiffSpec& s) { s.compression = COMPRESSION_LZW; }), Err(Failure::kReadImage),
     [](const std::string& p) { CorruptStrip(p); }},
    {"CorruptDeflate", With([](TiffSpec& s) { s.compression = COMPRESSION_ADOBE_DEFLATE; s.tile = 16; }),
     Err(Failure::kReadImage), [](const std::string& p) { CorruptStrip(p); }},
    // Strips larger than a band are decoded a row at a time; libtiff splits a
    // large uncompressed one by itself.
    {"OneStripLargerThanBandLzw", With([](TiffSpec& s) { s.width = s.height = 1500; s.rowsPerStrip = 1500; s.compression = COMPRESSION_LZW; }), nullptr},
    {"OneStripLargerThanBand", With([](TiffSpec& s) { s.width = s.height = 1500; s.rowsPerStrip = 1500; }), nullptr},
    // Enough bands and rows of tiles for several threads at once.
    {"LzwManyBands", With([](TiffSpec& s) { s.width = 2000; s.height = 6000; s.rowsPerStrip = 64; s.compression = COMPRESSION_LZW; }), nullptr},
    {"SecondImageOfTwoManyBands", With([](TiffSpec& s) { s.pages = 2; s.width = 2000; s.height = 3000; s.rowsPerStrip = 64; s.compression = COMPRESSION_LZW; }), nullptr},
    {"TilesDeflateManyRows", With([](TiffSpec& s) { s.width = s.height = 300; s.tile = 16; s.compression = COMPRESSION_ADOBE_DEFLATE; }), nullptr},
    {"CorruptTilesInTwoRows", With([](TiffSpec& s) { s.width = s.height = 640; s.tile = 64; s.compression = COMPRESSION_LZW; }),
     Err(Failure::kReadImage), [](const std::string& p) { CorruptStrip(p, 45); CorruptStrip(p, 72); }},
    {"TileLargerThanImage", With([](TiffSpec& s) { s.tile = 256; }), nullptr},
    // A tile width no real file of this image has (4,227,858,448 on a
    // 21-pixel-wide image) is refused before anything is sized by it.
    {"AbsurdTileWidth", With([](TiffSpec& s) { s.width = 21; s.height = 33; s.tile = 16; }), Err(Failure::kReadImage),
     [](const std::string& p) { PatchTag(p, TIFFTAG_TILEWIDTH, 4227858448U); }},
    {"AbsurdTileLength", With([](TiffSpec& s) { s.width = 21; s.height = 33; s.tile = 16; }), Err(Failure::kReadImage),
     [](const std::string& p) { PatchTag(p, TIFFTAG_TILELENGTH, 1U << 30U); }},
};

void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }

// Each layout decoded on one thread and on four, which must give the same.
class Reader : public testing::TestWithParam<std::tuple<ReaderCase, unsigned>> {};

TEST_P(Reader, ConvertsOrRejects) {
  const ReaderCase& c = std::get<0>(GetParam());
  const unsigned threads = std::get<1>(GetParam());
  const bool lossy = c.spec.compression == COMPRESSION_JPEG;
  if (TIFFIsCODECConfigured(c.spec.compression) == 0) {
    GTEST_SKIP() << "this build's libtiff leaves out compression " << c.spec.compression;
  }
  const std::string path = TempDir() + "/in.tif";
  WriteTestTiff(path, c.spec);
  if (c.damage != nullptr) c.damage(path);
  SaveSeed("tiff", c.name, path);

  const UniqueFd fd = OpenSeekableInput(path.c_str());
  TiffMessages messages;
  testing::internal::CaptureStderr();
  const TiffPtr tif(OpenTiffOnFd(fd.Get(), path.c_str(), "rm", &messages));
  const std::string openErr = testing::internal::GetCapturedStderr();
  // Where tmsize_t has 32 bits, libtiff itself refuses a directory whose
  // tile size overflows it, before the reader sees the file.
  if (!tif && c.damage != nullptr && c.error != nullptr && sizeof(tmsize_t) < 8) {
    EXPECT_NE(openErr.find("Integer overflow"), std::string::npos) << openErr;
    return;
  }
  ASSERT_TRUE(tif) << openErr;
  ZoltPalette palette{};
  TiffImage image;
  VectorSink sink(std::size_t{c.spec.width} * c.spec.height);
  Notes notes;
  testing::internal::CaptureStderr();  // libtiff's own lines
  Outcome fault = InspectTiff(tif.get(), palette, image, notes);
  if (!fault) fault = ReadData(tif.get(), image, sink, fd.Get(), threads);
  (void)testing::internal::GetCapturedStderr();
  const std::string err = RunMessages("zoltenc", notes, fault);

  if (c.error != nullptr) {
    EXPECT_TRUE(fault);
    EXPECT_EQ(err.substr(err.size() - std::min(err.size(), std::strlen(c.error))), c.error) << err;
    if (c.damage == nullptr) {
      EXPECT_EQ(image.width, 0U);
    }
    return;
  }
  ASSERT_FALSE(fault) << err;
  EXPECT_EQ(image.width, c.spec.width);
  EXPECT_EQ(image.height, c.spec.height);
  EXPECT_EQ(sink.written.load(), sink.pixels.size());
  EXPECT_EQ(sink.pixels, lossy ? DecodedPixels(path, c.spec) : ExpectedPixels(c.spec));
  const ZoltPalette wantPalette = ExpectedPalette(c.spec);
  EXPECT_EQ(std::memcmp(palette.rgb, wantPalette.rgb, sizeof palette.rgb), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, Reader, testing::Combine(testing::ValuesIn(kCases), testing::Values(1U, 4U)),
                         [](const testing::TestParamInfo<std::tuple<ReaderCase, unsigned>>& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::to_string(std::get<1>(info.param)) + "Threads";
                         });

// This build's libtiff decodes every scheme that the host's own libtiff
// decodes, but for those it leaves out on purpose (tests/CMakeLists.txt): a
// codec missing from a libtiff built from source makes users' files fail
// as if they were damaged.
TEST(Codecs, AsTheHostsLibtiff) {
  if (!ZOLT_OWN_LIBTIFF) GTEST_SKIP() << "this build uses the host's own libtiff";
  std::string have;
  for (unsigned scheme = 1; scheme <= 0xFFFF; ++scheme) {
    if (TIFFIsCODECConfigured(static_cast<std::uint16_t>(scheme)) == 0) continue;
    have += (have.empty() ? "" : " ") + std::to_string(scheme);
  }
  EXPECT_EQ(have, ZOLT_HOST_CODECS);
}

// The fixed messages word for word, as the README's table and users' scripts
// match them: the tables take them from the programs' own list, pinned here.
TEST(Messages, WordForWord) {
  const std::pair<Failure, const char*> rows[] = {
      {Failure::kOpenTiff, "Error: Can't open TIFF File\n"},
      {Failure::kOpenZolt, "Error: Can't open ZOLT File\n"},
      {Failure::kNotZolt, "Error: not a ZOLT file\n"},
      {Failure::kTruncated, "Error: ZOLT file is truncated\n"},
      {Failure::kInvalidSize, "Error: invalid image size 12x-34\n"},
      {Failure::kUnsupported, "Error: source file should have 1 sample per pixel, and 8 bits per sample...\n"},
      {Failure::kNotGreyOrPaletted, "Unsupported file format - must be either paletted or greyscale...\n"},
      {Failure::kNoColourMap, "Error: paletted image has no colour map\n"},
      {Failure::kTooLarge, "Error: image is 12x-34; width and height must be 1 to 32767\n"},
      {Failure::kReadImage, "Error: can't read image data\n"},
      {Failure::kOpenOutput, "Error: Can't open output file\n"},
      {Failure::kOutputIsInput, "Error: output file is the input file\n"},
      {Failure::kTerminal, "Error: won't write binary data to a terminal\n"},
      {Failure::kWriteOutput, "Error: can't write output file\n"},
      {Failure::kAllocate, "Error: can't allocate temporary buffer\n"},
      {Failure::kPaletteIsInput, "Error: palette file is the input file\n"},
      {Failure::kNotInPalette, "Error: colours not in the palette\n"},
      {Failure::kSameOutput, "Error: another input has the same output\n"},
      {Failure::kInterrupted, "Error: interrupted\n"},
  };
  for (const auto& [failure, text] : rows) EXPECT_STREQ(Err(failure, "", 12, -34), text);
}

// A file name in the advice a refusal gives, as the system's shell takes it
// (a POSIX shell; cmd on Windows), and the converter's name there.
TEST(Messages, ShellWords) {
  struct Row { const char* name; const char* posix; const char* windows; };
  const Row rows[] = {
      {"plain-name_1.tif", "plain-name_1.tif", "plain-name_1.tif"}, {"a b.tif", "'a b.tif'", "\"a b.tif\""},
      {"a&b.tif", "'a&b.tif'", "\"a&b.tif\""},                     {"it's.tif", "'it'\\''s.tif'", "it's.tif"},
      {"100%.tif", "'100%.tif'", "\"100%.tif\""},                  {"C:\\scans\\a.tif", "'C:\\scans\\a.tif'", "C:\\scans\\a.tif"},
  };
  for (const Row& row : rows) EXPECT_EQ(ShellWord(row.name), kWindowsBuild ? row.windows : row.posix) << row.name;
  EXPECT_STREQ(kImageMagick, kWindowsBuild ? "magick" : "convert");
}

// ZOLT_THREADS overrides the processor count when it is a positive integer;
// no value gives more than kMaxThreads threads.
TEST(ReaderThreads, EnvironmentOverride) {
  SetEnvironment("ZOLT_THREADS", nullptr);
  const unsigned processors = DecodeThreads();
  EXPECT_GE(processors, 1U);
  EXPECT_LE(processors, kMaxThreads);
  const std::pair<const char*, unsigned> rows[] = {{"1", 1}, {"4", 4}, {"8", 8}, {"64", kMaxThreads},
                                                   {"0", processors}, {"-2", processors}, {"3x", processors},
                                                   {"", processors}, {"x", processors}};
  for (const auto& [value, want] : rows) {
    SetEnvironment("ZOLT_THREADS", value);
    EXPECT_EQ(DecodeThreads(), want) << "ZOLT_THREADS=" << value;
  }
  SetEnvironment("ZOLT_THREADS", nullptr);
}

// Fixed points of the palettes the reader builds, which the cases above
// expect too.
TEST(ReaderPalette, KnownEntries) {
  struct Entry { std::uint16_t photometric; unsigned index; std::uint8_t rgb[3]; std::uint16_t bits = 8; };
  const Entry entries[] = {
      {PHOTOMETRIC_MINISBLACK, 100, {25, 25, 25}}, {PHOTOMETRIC_MINISBLACK, 255, {63, 63, 63}},
      {PHOTOMETRIC_MINISWHITE, 0, {63, 63, 63}},   {PHOTOMETRIC_MINISWHITE, 255, {0, 0, 0}},
      {PHOTOMETRIC_PALETTE, 255, {63, 0, 39}},     {PHOTOMETRIC_PALETTE, 3, {0, 63, 8}},
      // 1 bit: a WhiteIsZero fax is white, black, then nothing; 4 bits: level 7 * 255 / 15 = 119.
      {PHOTOMETRIC_MINISWHITE, 0, {63, 63, 63}, 1}, {PHOTOMETRIC_MINISWHITE, 1, {0, 0, 0}, 1},
      {PHOTOMETRIC_MINISWHITE, 2, {0, 0, 0}, 1},    {PHOTOMETRIC_MINISBLACK, 7, {29, 29, 29}, 4},
      {PHOTOMETRIC_PALETTE, 15, {3, 60, 43}, 4},      {PHOTOMETRIC_PALETTE, 16, {0, 0, 0}, 4},
  };
  for (const Entry& e : entries) {
    TiffSpec spec;
    spec.photometric = e.photometric;
    spec.bits = e.bits;
    const std::string path = TempDir() + "/in.tif";
    WriteTestTiff(path, spec);
    const TiffPtr tif(TIFFOpen(path.c_str(), "r"));
    ZoltPalette palette{};
    TiffImage image;
    Notes notes;
    ASSERT_TRUE(tif && !InspectTiff(tif.get(), palette, image, notes));
    EXPECT_EQ(std::memcmp(&palette.rgb[3 * e.index], e.rgb, 3), 0) << e.photometric << " " << e.index;
  }
}

}  // namespace
