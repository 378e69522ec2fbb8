// Both programs run as a user or a script would: exit statuses, messages, and
// what is left on disk.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include "run.h"
#include "tiffgen.h"

namespace {

std::vector<std::uint8_t> Zolt(int width, int height, const char* magic = "ZOLT", const char* tag = "RGB ") {
  std::vector<std::uint8_t> bytes(magic, magic + 4);
  for (int v : {width, height}) {
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  const long count = static_cast<long>(width) * height;
  for (long i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 7));
  bytes.insert(bytes.end(), tag, tag + 4);
  for (std::size_t i = 0; i < kZoltPaletteSize; ++i) bytes.push_back(static_cast<std::uint8_t>(i % 64));
  return bytes;
}

const char* const kRgbError =
    Err(Failure::kUnsupported, "zoltenc: $IN: 3 samples of 8 bits (RGB); reduce it to 256 colours first, e.g. $CONVERT $IN -colors 256 -type Palette "
    "-depth 8 out.tif, or convert it to a ZOLT file's palette with zoltenc --palette\n");


enum class Output { kAbsent, kKept, kWritten };

struct CliCase {
  const char* name;
  const std::string& program;
  std::function<void(const std::string& in)> makeInput;  // null: no input file
  std::string out;                                        // "$OUT": a path in the test's folder
  int status;
  const char* err;  // the last lines on stderr; $IN and $OUT stand for the paths
  Output output;
  bool preexisting = false;  // an older file stands at the output path
  rlim_t fileLimit = 0;      // a write fails part way past this many bytes
  // zoltenc --palette: "$IN", or "$PAL", the file makePalette writes.
  const char* palette = nullptr;
  std::function<void(const std::string& path)> makePalette = nullptr;
};

void Tiff(const std::string& in, void (*edit)(TiffSpec&)) { WriteTestTiff(in, With(edit)); }

const CliCase kCases[] = {
    {"EncConverts", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "$OUT", 0, "", Output::kWritten},
    // A file larger than 2 GiB (sparse), whose directory lies past 2 GiB:
    // 32-bit systems need 64-bit offsets to read it.
    {"EncDirectoryPastTwoGiB", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); MoveDirectory(in, 3U << 30U); }, "$OUT", 0,
     "", Output::kWritten},
    // A BigTIFF whose directory lies past 4 GiB: 64-bit offsets everywhere.
    {"EncBigTiffDirectoryPastFourGiB", kEnc, [](auto& in) { Tiff(in, [](TiffSpec& s) { s.mode = "w8l"; }); MoveDirectory(in, 5ULL << 30U); },
     "$OUT", 0, "", Output::kWritten},
    {"EncReplacesExisting", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "$OUT", 0, "", Output::kWritten, true},
    {"EncMissingInput", kEnc, nullptr, "$OUT", 1, Err(Failure::kOpenTiff, "zoltenc: $IN: no such file\n"), Output::kAbsent},
    {"EncNotATiff", kEnc, [](auto& in) { WriteFileBytes(in, Zolt(2, 2)); }, "$OUT", 1,
     Err(Failure::kOpenTiff, "zoltenc: $IN: a ZOLT file; zoltdec converts ZOLT to TIFF\n"), Output::kKept, true},
    {"EncRgb", kEnc, [](auto& in) { Tiff(in, [](TiffSpec& s) { s.samples = 3; s.photometric = PHOTOMETRIC_RGB; }); },
     "$OUT", 1, kRgbError, Output::kKept, true},
    {"EncCmyk", kEnc, [](auto& in) { Tiff(in, [](TiffSpec& s) { s.samples = 4; s.photometric = PHOTOMETRIC_SEPARATED; }); },
     "$OUT", 1, Err(Failure::kUnsupported, "zoltenc: $IN: 4 samples of 8 bits (CMYK); reduce it to 256 colours first, e.g. $CONVERT $IN -colorspace sRGB "
     "-colors 256 -type Palette -depth 8 out.tif\n"),
     Output::kAbsent},
    {"Enc16Bit", kEnc, [](auto& in) { Tiff(in, [](TiffSpec& s) { s.bits = 16; }); }, "$OUT", 1,
     Err(Failure::kUnsupported, "zoltenc: $IN: 1 sample of 16 bits (greyscale); reduce it to 8 bits first, e.g. $CONVERT $IN -depth 8 out.tif\n"), Output::kAbsent},
    {"EncSeparated", kEnc, [](auto& in) { Tiff(in, [](TiffSpec& s) { s.photometric = PHOTOMETRIC_SEPARATED; }); },
     "$OUT", 1, Err(Failure::kNotGreyOrPaletted, "zoltenc: $IN: photometric interpretation 5 (CMYK); only greyscale and paletted images convert\n"), Output::kAbsent},
    {"EncTooWide", kEnc, [](auto& in) { Tiff(in, [](TiffSpec& s) { s.width = 32768; s.height = 2; }); },
     "$OUT", 1, Err(Failure::kTooLarge, "zoltenc: $IN: 32768 x 2 pixels; a ZOLT file holds 1 to 32767 each way\n", 32768, 2), Output::kAbsent},
    // A file of two images converts the second, and says so.
    {"EncTwoImages", kEnc, [](auto& in) { Tiff(in, [](TiffSpec& s) { s.pages = 2; }); }, "$OUT", 0,
     "zoltenc: $IN: 2 images; converting image 2 (23 x 17)\n", Output::kWritten},
    {"EncSecondImageRefused", kEnc, [](auto& in) {
       TIFF* tif = TIFFOpen(in.c_str(), "wl");
       TiffSpec rgb;
       rgb.samples = 3;
       rgb.photometric = PHOTOMETRIC_RGB;
       WritePage(tif, TiffSpec{}, 0);
       WritePage(tif, rgb, 1);
       TIFFClose(tif);
     },
     "$OUT", 1, "zoltenc: $IN: 2 images; converting image 2 (23 x 17)\nzoltenc: $IN: image 2: 3 samples of 8 bits (RGB); "
     "reduce it to 256 colours first, e.g. $CONVERT $IN -colors 256 -type Palette -depth 8 out.tif, or convert it to a ZOLT "
     "file's palette with zoltenc --palette; image 1 would convert, "
     "but the second image of a file is the one converted\nError: source file should have 1 sample per pixel, and 8 bits "
     "per sample...\n", Output::kAbsent},
    {"EncCorruptHalfWay", kEnc, [](auto& in) {
       Tiff(in, [](TiffSpec& s) { s.width = s.height = 1500; s.rowsPerStrip = 16; s.compression = COMPRESSION_LZW; });
       CorruptStrip(in, 50);
     },
     "$OUT", 1, Err(Failure::kReadImage, "zoltenc: $IN: Using code not yet in table\n"), Output::kKept, true},
    {"EncCorrupt", kEnc, [](auto& in) { Tiff(in, [](TiffSpec& s) { s.compression = COMPRESSION_LZW; }); CorruptStrip(in); },
     "$OUT", 1, Err(Failure::kReadImage, "zoltenc: $IN: Using code not yet in table\n"), Output::kKept, true},
    // A compression scheme no build of libtiff knows: libtiff names it.
    {"EncUnknownCodec", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); PatchTag(in, TIFFTAG_COMPRESSION, 50999); },
     "$OUT", 1, Err(Failure::kReadImage, "zoltenc: $IN: Compression scheme 50999 strip decoding is not implemented\n"),
     Output::kAbsent},
    {"EncDirectoryInput", kEnc, [](auto& in) { mkdir(in.c_str(), 0700); }, "$OUT", 1,
     Err(Failure::kOpenTiff, "zoltenc: $IN: a folder\n"), Output::kAbsent},
    {"EncMissingTiles", kEnc, [](auto& in) { WriteFileBytes(in, ReadFileBytes(TEST_DATA_DIR "/missing-tiles.tif")); },
     "$OUT", 1, Err(Failure::kReadImage, "zoltenc: $IN: a strip or tile is missing or cannot be decoded\n"),
     Output::kAbsent},
    {"EncNoOutputDir", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "/nonexistent/out.zolt", 1,
     Err(Failure::kOpenOutput, "zoltenc: /nonexistent/out.zolt: no such folder\n"), Output::kAbsent},
    {"EncDevFull", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "/dev/full", 1,
     Err(Failure::kWriteOutput), Output::kAbsent},
    {"EncFileTooLarge", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "$OUT", 1,
     Err(Failure::kWriteOutput), Output::kKept, true, 1000},
    // --palette refuses an image with colours its palette lacks, a palette
    // file that is no whole ZOLT file, and the input itself.
    {"EncPaletteLacksColours", kEnc, [](auto& in) { Tiff(in, [](TiffSpec& s) { s.samples = 3; s.photometric = PHOTOMETRIC_RGB; }); },
     "$OUT", 1, Err(Failure::kNotInPalette, "zoltenc: $IN: 391 pixels have colours that the palette of $PAL lacks; the first, "
     "at x 0, y 0, is (0, 25, 50) in 6 bits, and the nearest entry is 8 (24, 25, 26)\n"), Output::kKept, true, 0, "$PAL",
     [](auto& pal) { WriteFileBytes(pal, Zolt(2, 2)); }},
    {"EncPaletteNotZolt", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "$OUT", 1,
     Err(Failure::kNotZolt, "zoltenc: $PAL: the palette file: a TIFF file; zoltenc converts TIFF to ZOLT\n"), Output::kKept, true,
     0, "$PAL", [](auto& pal) { Tiff(pal, [](TiffSpec&) {}); }},
    {"EncPaletteTruncated", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "$OUT", 1,
     Err(Failure::kTruncated, "zoltenc: $PAL: the palette file: 795 bytes; a 4 x 4 image needs 796\n"), Output::kKept, true, 0,
     "$PAL", [](auto& pal) { auto z = Zolt(4, 4); z.pop_back(); WriteFileBytes(pal, z); }},
    {"EncPaletteIsInput", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "$OUT", 1, Err(Failure::kPaletteIsInput),
     Output::kKept, true, 0, "$IN"},
    {"EncDevNull", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "/dev/null", 0, "", Output::kAbsent},
    {"EncNul", kEnc, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "NUL", 0, "", Output::kAbsent},
    {"DecConverts", kDec, [](auto& in) { WriteFileBytes(in, Zolt(20, 70)); }, "$OUT", 0, "", Output::kWritten},
    {"DecReplacesExisting", kDec, [](auto& in) { WriteFileBytes(in, Zolt(3, 2)); }, "$OUT", 0, "", Output::kWritten, true},
    {"DecIgnoresTag", kDec, [](auto& in) { WriteFileBytes(in, Zolt(5, 4, "ZOLT", "xyz!")); }, "$OUT", 0, "",
     Output::kWritten},
    // Arguments swapped: a TIFF given to zoltdec leaves the file named as output as it was.
    {"DecTiffInput", kDec, [](auto& in) { Tiff(in, [](TiffSpec&) {}); }, "$OUT", 1,
     Err(Failure::kNotZolt, "zoltdec: $IN: a TIFF file; zoltenc converts TIFF to ZOLT\n"), Output::kKept, true},
    {"DecNotZolt", kDec, [](auto& in) { WriteFileBytes(in, Zolt(5, 4, "ab\x01" "d", "RGB ")); }, "$OUT", 1,
     Err(Failure::kNotZolt, "zoltdec: $IN: starts with \"ab\\x01d\", not \"ZOLT\"\n"), Output::kAbsent},
    {"DecMissingInput", kDec, nullptr, "$OUT", 1, Err(Failure::kOpenZolt, "zoltdec: $IN: no such file\n"),
     Output::kAbsent},
    {"DecDirectoryInput", kDec, [](auto& in) { mkdir(in.c_str(), 0700); }, "$OUT", 1,
     Err(Failure::kOpenZolt, "zoltdec: $IN: a folder\n"), Output::kAbsent},
    {"DecShortHeader", kDec, [](auto& in) { WriteFileBytes(in, {'Z', 'O', 'L', 'T', 1}); }, "$OUT", 1,
     Err(Failure::kTruncated, "zoltdec: $IN: 5 bytes; a ZOLT file has at least 781\n"), Output::kKept, true},
    {"DecHugeClaim", kDec, [](auto& in) { auto z = Zolt(1, 1); z[4] = z[6] = 0xFF; z[5] = z[7] = 0x7F; WriteFileBytes(in, z); },
     "$OUT", 1, Err(Failure::kTruncated, "zoltdec: $IN: 781 bytes; a 32767 x 32767 image needs 1073677069\n"),
     Output::kAbsent},
    {"DecPaletteShort", kDec, [](auto& in) { auto z = Zolt(4, 4); z.pop_back(); WriteFileBytes(in, z); }, "$OUT", 1,
     Err(Failure::kTruncated, "zoltdec: $IN: 795 bytes; a 4 x 4 image needs 796\n"), Output::kAbsent},
    {"DecZeroWidth", kDec, [](auto& in) { WriteFileBytes(in, Zolt(0, 5)); }, "$OUT", 1,
     Err(Failure::kInvalidSize, "", 0, 5), Output::kAbsent},
    {"DecBothNegative", kDec, [](auto& in) { WriteFileBytes(in, Zolt(-3, -4)); }, "$OUT", 1,
     Err(Failure::kInvalidSize, "", -3, -4), Output::kKept, true},
    {"DecFileTooLarge", kDec, [](auto& in) { WriteFileBytes(in, Zolt(20, 70)); }, "$OUT", 1,
     Err(Failure::kWriteOutput), Output::kKept, true, 1000},
    {"DecDevNull", kDec, [](auto& in) { WriteFileBytes(in, Zolt(20, 70)); }, "/dev/null", 0, "", Output::kAbsent},
    {"DecNul", kDec, [](auto& in) { WriteFileBytes(in, Zolt(20, 70)); }, "NUL", 0, "", Output::kAbsent},
    {"DecNoOutputDir", kDec, [](auto& in) { WriteFileBytes(in, Zolt(2, 2)); }, "/nonexistent/out.tif", 1,
     Err(Failure::kOpenOutput, "zoltdec: /nonexistent/out.tif: no such folder\n"), Output::kAbsent},
    {"DecDevFull", kDec, [](auto& in) { WriteFileBytes(in, Zolt(2, 2)); }, "/dev/full", 1,
     Err(Failure::kWriteOutput), Output::kAbsent},
};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

class Cli : public testing::TestWithParam<CliCase> {};

TEST_P(Cli, StatusMessageAndOutput) {
  const CliCase& c = GetParam();
  if (const char* why = NotHereReason(c.name)) GTEST_SKIP() << why;
  const std::string dir = TempDir();
  const std::string in = dir + "/input";
  const std::string out = c.out == "$OUT" ? dir + "/output" : c.out;
  const std::string older = "an older file that must survive a rejected input";
  if (c.makeInput) c.makeInput(in);
  SaveSeed(c.program == kEnc ? "tiff" : "zolt", c.name, in);
  if (c.preexisting) WriteFileBytes(out, std::vector<std::uint8_t>(older.begin(), older.end()));
  const std::string palette = c.palette == nullptr ? "" : Expand(c.palette, {{"$IN", in}, {"$PAL", dir + "/palette"}});
  if (c.makePalette) c.makePalette(palette);

  const RunResult r = RunProgram(c.program, palette.empty() ? std::vector<std::string>{in, out}
                                                            : std::vector<std::string>{"--palette", palette, in, out},
                                 c.fileLimit);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(r.out, "");
  // ImageMagick's converter is "magick" on Windows.
  const std::string want =
      Expand(c.err, {{"$IN", in}, {"$OUT", out}, {"$PAL", palette}, {"$CONVERT", kWindows ? "magick" : "convert"}});
  EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), want.size())), want) << r.err;
  if (c.status == 0) {
    EXPECT_EQ(r.err, want);
  }
  // Nothing but the input, the output and the palette is ever left in the folder.
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    EXPECT_TRUE(entry.path() == in || entry.path() == out || entry.path() == palette) << entry.path();
  }
  if (out.rfind("/dev/", 0) == 0 || out == "NUL") return;

  switch (c.output) {
    case Output::kAbsent:
      EXPECT_FALSE(Exists(out));
      break;
    case Output::kKept:
      EXPECT_EQ(Slurp(out), older);
      break;
    case Output::kWritten:
      if (c.program == kEnc) {
        const std::string zolt = Slurp(out);
        EXPECT_EQ(zolt.size(), 780U + 23 * 17);
        EXPECT_EQ(zolt.substr(0, 8), std::string("ZOLT\x17\x00\x11\x00", 8));
      } else {  // little-endian on any host; converted back, the input with the standard magic and tag
        EXPECT_EQ(Slurp(out).substr(0, 4), std::string("II*\0", 4));
        ASSERT_EQ(RunProgram(kEnc, {out, dir + "/back.zolt"}).status, 0);
        std::vector<std::uint8_t> want = ReadFileBytes(in);
        std::copy_n("ZOLT", 4, want.begin());
        std::copy_n("RGB ", 4, want.end() - kZoltTailSize);
        EXPECT_EQ(ReadFileBytes(dir + "/back.zolt"), want);
      }
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, Cli, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CliCase>& info) { return std::string(info.param.name); });

TEST(CliUsage, WrongArgumentCounts) {
  for (const std::string& program : {kEnc, kDec}) {
    const std::string names = program == kEnc ? " in.tiff out.zolt\n" : " in.zolt out.tiff\n";
    const std::string dir = TempDir();
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {dir + "/a"}, {dir + "/a", dir + "/b", dir + "/c"}, {"--help", dir + "/a", dir + "/b"}, {"--version", "-", "-"},
             {"--batch"}}) {
      const RunResult r = RunProgram(program, args);
      EXPECT_EQ(r.status, 5);
      EXPECT_EQ(r.out, "Usage: " + AsRun(program) + names);
      EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(Exists(dir + "/a") || Exists(dir + "/b") || Exists(dir + "/c"));
  }
}

// --help: the usage line and what the arguments are; --version: the name and
// the project's version. Both on standard output, status 0.
TEST(CliUsage, HelpAndVersion) {
  for (const std::string& program : {kEnc, kDec}) {
    const std::string name = program == kEnc ? "zoltenc" : "zoltdec";
    for (const char* option : {"--help", "-h", "/?"}) {
      if (!kWindows && std::string(option) == "/?") continue;  // a path on POSIX systems
      const RunResult help = RunProgram(program, {option});
      EXPECT_EQ(help.status, 0);
      EXPECT_EQ(help.out.rfind("Usage: " + AsRun(program) + (program == kEnc ? " in.tiff out.zolt\n" : " in.zolt out.tiff\n"), 0), 0U)
          << help.out;
      EXPECT_NE(help.out.find(kWindows ? "See doc\\" + name + ".1.html." : "See " + name + "(1)."), std::string::npos) << help.out;
      EXPECT_NE(help.out.find(kWindows ? "\nset ZOLT_THREADS=N sets" : "\nZOLT_THREADS=N sets"), std::string::npos) << help.out;
      EXPECT_EQ(help.err, "");
    }
    const RunResult version = RunProgram(program, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, name + " " ZOLT_VERSION "\n");
    EXPECT_EQ(version.err, "");
  }
}

// The sizes and offsets of the format, seen in files zoltenc writes, and a
// round trip that must give back the same bytes. Neither file takes more disk
// space than its bytes need: space set aside beyond them would stay taken.
TEST(CliFormat, SizesOffsetsAndRoundTrip) {
  struct Size { std::uint32_t width, height; };
  const auto onlyItsSpace = [](const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_blocks * 512 < st.st_size + st.st_blksize;
  };
  for (const Size size : {Size{1, 1}, Size{20, 10}, Size{300, 3}, Size{31, 130}, Size{1000, 70}}) {
    const std::string dir = TempDir();
    TiffSpec spec;
    spec.width = size.width;
    spec.height = size.height;
    spec.photometric = PHOTOMETRIC_PALETTE;
    spec.compression = COMPRESSION_LZW;
    WriteTestTiff(dir + "/a.tif", spec);
    ASSERT_EQ(RunProgram(kEnc, {dir + "/a.tif", dir + "/a.zolt"}).status, 0);
    ASSERT_EQ(RunProgram(kDec, {dir + "/a.zolt", dir + "/b.tif"}).status, 0);
    ASSERT_EQ(RunProgram(kEnc, {dir + "/b.tif", dir + "/b.zolt"}).status, 0);
    const std::vector<std::uint8_t> zolt = ReadFileBytes(dir + "/a.zolt");
    const std::size_t pixels = static_cast<std::size_t>(size.width) * size.height;
    ASSERT_EQ(zolt.size(), kZoltOverhead + pixels);
    EXPECT_EQ(zolt[4] | zolt[5] << 8, static_cast<int>(size.width));
    EXPECT_EQ(zolt[6] | zolt[7] << 8, static_cast<int>(size.height));
    EXPECT_EQ(std::string(zolt.begin() + 8 + pixels, zolt.begin() + 12 + pixels), "RGB ");
    const std::vector<std::uint8_t> want = ExpectedPixels(spec);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), zolt.begin() + 8));
    const ZoltPalette palette = ExpectedPalette(spec);
    EXPECT_TRUE(std::equal(palette.rgb, palette.rgb + kZoltPaletteSize, zolt.begin() + kZoltHeaderSize + kZoltTagSize + pixels));
    EXPECT_EQ(ReadFileBytes(dir + "/b.zolt"), zolt);
    EXPECT_TRUE(onlyItsSpace(dir + "/a.zolt") && onlyItsSpace(dir + "/b.tif")) << size.width << " x " << size.height;
  }
  // A file made by hand, palette entry 7 = (63, 0, 31), comes back byte for byte.
  const std::string dir = TempDir();
  std::vector<std::uint8_t> zolt = Zolt(20, 10);
  const std::uint8_t entry[] = {0x3F, 0x00, 0x1F};
  std::copy(entry, entry + 3, zolt.begin() + 212 + 3 * 7);
  WriteFileBytes(dir + "/a.zolt", zolt);
  ASSERT_EQ(RunProgram(kDec, {dir + "/a.zolt", dir + "/a.tif"}).status, 0);
  ASSERT_EQ(RunProgram(kEnc, {dir + "/a.tif", dir + "/b.zolt"}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir + "/b.zolt"), zolt);
}

// The largest images a ZOLT file holds, 32767 x 32767, through both
// programs: every size and offset must be computed without wrapping, on
// 32-bit systems too (two samples make 2 GiB of samples).
TEST(CliFormat, LargestImages) {
  struct Layout { const char* name; std::uint16_t samples; std::uint32_t rowsPerStrip, tile; };
  const Layout layouts[] = {{"64-row strips", 1, 64, 0},        {"one strip", 1, 32767, 0},
                            {"two samples, 64-row strips", 2, 64, 0}, {"two samples, one strip", 2, 32767, 0},
                            {"two samples, 4096 x 4096 tiles", 2, 0, 4096}};
  constexpr std::uint64_t kPixels = 32767ULL * 32767;
  for (const Layout& layout : layouts) {
    const std::string dir = TempDir();
    WriteZeroTiff(dir + "/in.tif", 32767, layout.samples, layout.rowsPerStrip, layout.tile);
    const RunResult enc = RunProgram(kEnc, {dir + "/in.tif", dir + "/out.zolt"});
    EXPECT_EQ(enc.status, 0) << layout.name << ": " << enc.err;
    EXPECT_EQ(enc.err, layout.samples == 2 ? "zoltenc: " + dir + "/in.tif: the second sample of each pixel (alpha) is ignored\n" : "")
        << layout.name;
    unlink((dir + "/in.tif").c_str());
    // Size, header, the last pixel and the tag after it.
    std::ifstream zolt(dir + "/out.zolt", std::ios::binary);
    std::vector<char> head(8);
    std::vector<char> tail(5);
    zolt.read(head.data(), 8);
    zolt.seekg(static_cast<std::streamoff>(7 + kPixels));
    zolt.read(tail.data(), 5);
    zolt.seekg(0, std::ios::end);
    EXPECT_EQ(static_cast<std::uint64_t>(zolt.tellg()), kZoltOverhead + kPixels) << layout.name;
    EXPECT_EQ(std::string(head.begin(), head.end()), std::string("ZOLT\xFF\x7F\xFF\x7F", 8)) << layout.name;
    EXPECT_EQ(std::string(tail.begin(), tail.end()), std::string("\0RGB ", 5)) << layout.name;
    if (layout.samples == 1 && layout.rowsPerStrip == 64) {
      const RunResult dec = RunProgram(kDec, {dir + "/out.zolt", dir + "/back.tif"});
      EXPECT_EQ(dec.status, 0) << dec.err;
      EXPECT_EQ(dec.err, "");
      struct stat st {};
      EXPECT_TRUE(stat((dir + "/back.tif").c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) > kPixels);
    }
    std::filesystem::remove_all(dir);
  }
}

// Every truncation of a valid ZOLT file is rejected with no output; only the
// whole file converts.
TEST(CliFaults, EveryTruncatedZolt) {
  const std::string dir = TempDir();
  const std::vector<std::uint8_t> zolt = Zolt(3, 2);
  for (std::size_t length = 0; length <= zolt.size(); ++length) {
    WriteFileBytes(dir + "/in.zolt", {zolt.begin(), zolt.begin() + static_cast<std::ptrdiff_t>(length)});
    const RunResult r = RunProgram(kDec, {dir + "/in.zolt", dir + "/out.tif"});
    const bool whole = length == zolt.size();
    EXPECT_EQ(r.status, whole ? 0 : 1) << length;
    const std::string last = Err(Failure::kTruncated);
    EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), last.size())), whole ? "" : last)
        << length << " status " << r.status << " out [" << r.out << "]";
    EXPECT_EQ(Exists(dir + "/out.tif"), whole) << length;
    unlink((dir + "/out.tif").c_str());
  }
}

// A TIFF cut short anywhere either converts to exactly the right image or
// fails with status 1 and no output. The files (made with tifffile) hold their
// directory before the image data, so most cuts damage only the data.
TEST(CliFaults, EveryTruncatedTiff) {
  TiffSpec spec;
  spec.width = 33;
  spec.height = 21;
  const std::vector<std::uint8_t> pixels = ExpectedPixels(spec);
  for (const char* name : {"ifd-first-strips.tif", "ifd-first-deflate-tiles.tif"}) {
    const std::vector<std::uint8_t> tiff = ReadFileBytes(std::string(TEST_DATA_DIR) + "/" + name);
    ASSERT_FALSE(tiff.empty());
    const std::string dir = TempDir();
    int converted = 0;
    for (std::size_t length = tiff.size() % 3; length <= tiff.size(); length += 3) {  // every third, and the whole
      WriteFileBytes(dir + "/in.tif", {tiff.begin(), tiff.begin() + static_cast<std::ptrdiff_t>(length)});
      const RunResult r = RunProgram(kEnc, {dir + "/in.tif", dir + "/out.zolt"});
      if (r.status == 0) {
        ++converted;
        const std::vector<std::uint8_t> zolt = ReadFileBytes(dir + "/out.zolt");
        ASSERT_EQ(zolt.size(), kZoltOverhead + pixels.size()) << name << " cut at " << length;
        EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), zolt.begin() + 8)) << name << " cut at " << length;
        unlink((dir + "/out.zolt").c_str());
      } else {
        EXPECT_EQ(r.status, 1) << name << " cut at " << length << ": " << r.err;
        EXPECT_FALSE(Exists(dir + "/out.zolt")) << name << " cut at " << length;
        const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);  // npos + 1 is 0
        EXPECT_TRUE(last.rfind("Error: ", 0) == 0 || last.rfind("Unsupported file format", 0) == 0)
            << name << " cut at " << length << ": " << r.err;
      }
    }
    EXPECT_GE(converted, 1) << name;  // at least the whole file
  }
}

// Whatever memory held before, an input converts to the same bytes (or fails
// the same way): malloc fills what it hands out with another byte each run.
TEST(CliFaults, SameBytesWhateverMemoryHeld) {
  const std::string dir = TempDir();
  for (const auto& entry : std::filesystem::directory_iterator(TEST_DATA_DIR "/../../fuzz/regressions/stdin")) {
    std::vector<std::string> results;
    for (const char* fill : {"MALLOC_PERTURB_=85", "MALLOC_PERTURB_=170"}) {
      std::vector<std::string> words = CommandWords(kEnc, {entry.path(), dir + "/out"});
      words.insert(words.begin(), {"env", fill, "ZOLT_THREADS=1"});
      unlink((dir + "/out").c_str());
      const int status = RunCommand(words).status;
      results.push_back(std::to_string(status) + Slurp(dir + "/out"));
    }
    EXPECT_EQ(results[0], results[1]) << entry.path();
  }
}

}  // namespace

namespace {

// The input each program converts in the tests below, written to path.
void MakeInput(const std::string& program, const std::string& path) {
  if (program == kEnc) {
    Tiff(path, [](TiffSpec&) {});
  } else {
    WriteFileBytes(path, Zolt(20, 70));
  }
}

// What a successful conversion of MakeInput's file writes.
std::vector<std::uint8_t> Converted(const std::string& program) {
  const std::string dir = TempDir();
  MakeInput(program, dir + "/in");
  EXPECT_EQ(RunProgram(program, {dir + "/in", dir + "/out"}).status, 0);
  return ReadFileBytes(dir + "/out");
}

constexpr uid_t kNobody = 65534;

// program as user can run it wherever the build tree lies (a checkout under
// /root is closed to others): a copy in a folder of its own under $TMPDIR,
// open to all. Empty when user cannot reach even that: $TMPDIR is closed.
std::string ProgramFor(const std::string& program, uid_t user) {
  static std::map<std::string, std::string> copies;
  std::string& copy = copies[program];
  if (copy.empty()) {
    const std::string dir = TempDir();
    copy = dir + "/" + std::filesystem::path(program).filename().string();
    std::filesystem::copy_file(program, copy);
    if (chmod(dir.c_str(), 0755) != 0 || chmod(copy.c_str(), 0755) != 0) return "";
  }
  const pid_t pid = fork();
  if (pid == 0) _exit(setgroups(0, nullptr) == 0 && setgid(user) == 0 && setuid(user) == 0 && access(copy.c_str(), X_OK) == 0 ? 0 : 1);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? copy : "";
}

const char* const kDenied = Err(Failure::kOpenOutput, "$PROGRAM: $OUT: permission denied\n");
const char* const kInPlace =
    "$PROGRAM: $OUT: written in place, since its folder takes no new file (permission denied); a power loss during the "
    "copy could leave it partial\n";

struct ReplaceCase {
  const char* name;
  mode_t oldMode;     // the mode of a file already at the output; 0: none
  bool viaLink;       // the output path is a symbolic link to that file
  bool outIsIn;       // the output path is the input
  bool asNobody;      // run as an unprivileged user who owns the folder...
  mode_t folderMode;  // ...with this mode once the files are in place
  int status;
  const char* err;    // $PROGRAM and $OUT stand for the program's name and the output path
  bool replaced;      // the output holds the new file afterwards, else what it held
  // The run fails after the output is open: zoltenc's input is damaged part
  // way, and a write of zoltdec's fails (its input's size is checked first).
  // err is then the end of standard error, $FAILED the fixed line.
  bool failing = false;
};

const ReplaceCase kReplaceCases[] = {
    {"NewFile", 0, false, false, false, 0700, 0, "", true},
    {"KeepsMode", 0640, false, false, false, 0700, 0, "", true},
    {"KeepsExecMode", 0751, false, false, false, 0700, 0, "", true},
    {"LinkKeptTargetReplaced", 0604, true, false, false, 0700, 0, "", true},
    {"DanglingLinkCreatesTarget", 0, true, false, false, 0700, 0, "", true},
    // The output is the input, by name or through a link: refused, nothing touched.
    {"OutputIsInput", 0, false, true, false, 0700, 1, Err(Failure::kOutputIsInput), false},
    {"LinkToInputRefused", 0, true, true, false, 0700, 1, Err(Failure::kOutputIsInput), false},
    {"ReadOnlyFileRefused", 0444, false, false, true, 0755, 1, kDenied, false},
    {"ReadOnlyAttributeRefused", 0444, false, false, false, 0700, 1, kDenied, false},
    {"ReadOnlyFolderWritesInPlace", 0620, false, false, true, 0555, 0, kInPlace, true},
    {"ReadOnlyFolderFailingKeepsOld", 0620, false, false, true, 0555, 1, "$FAILED", false, true},
    {"ReadOnlyFolderNoFile", 0, false, false, true, 0555, 1, kDenied, false},
    {"ReadOnlyFolderOutputIsInput", 0, false, true, true, 0555, 1, Err(Failure::kOutputIsInput), false},
};

void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.name; }

class CliReplace : public testing::TestWithParam<ReplaceCase> {};

// How an existing output is replaced: mode, links, the input itself, and a
// folder where no temporary file can be made.
TEST_P(CliReplace, ModeLinksAndFolders) {
  const ReplaceCase& c = GetParam();
  if (const char* why = NotHereReason(c.name)) GTEST_SKIP() << why;
  if (c.asNobody && geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  const mode_t mask = umask(0);
  umask(mask);
  for (const std::string& program : {kEnc, kDec}) {
    const std::string run = c.asNobody ? ProgramFor(program, kNobody) : program;
    if (run.empty()) GTEST_SKIP() << "user " << kNobody << " cannot reach " << std::filesystem::temp_directory_path();
    const std::string dir = TempDir();
    const std::string in = dir + "/in";
    const std::string file = c.outIsIn ? in : dir + "/file";
    const std::string out = c.viaLink ? dir + "/link" : file;
    MakeInput(program, in);
    if (c.failing && program == kEnc) {
      Tiff(in, [](TiffSpec& s) { s.rowsPerStrip = 4; s.compression = COMPRESSION_LZW; });
      CorruptStrip(in, 2);
    }
    const std::vector<std::uint8_t> input = ReadFileBytes(in);
    const std::vector<std::uint8_t> older = {'o', 'l', 'd'};
    if (c.oldMode != 0) {
      WriteFileBytes(file, older);
      ASSERT_EQ(chmod(file.c_str(), c.oldMode), 0);
    }
    ASSERT_TRUE(!c.viaLink || symlink(std::filesystem::path(file).filename().c_str(), out.c_str()) == 0);
    if (c.asNobody) {
      ASSERT_TRUE(c.oldMode == 0 || chown(file.c_str(), kNobody, kNobody) == 0);
      ASSERT_EQ(chown(dir.c_str(), kNobody, kNobody), 0);
      ASSERT_EQ(chown(in.c_str(), kNobody, kNobody), 0);  // so that only the program's own check protects it
    }
    ASSERT_EQ(chmod(dir.c_str(), c.folderMode), 0);

    const RunResult r = RunProgram(run, {in, out}, c.failing && program == kDec ? 1000 : 0, c.asNobody ? kNobody : 0);
    chmod(dir.c_str(), 0700);
    EXPECT_EQ(r.status, c.status) << program << ": " << r.err;
    const std::string err = Expand(c.err, {{"$PROGRAM", program == kEnc ? "zoltenc" : "zoltdec"}, {"$OUT", out},
                                            {"$FAILED", Err(program == kEnc ? Failure::kReadImage : Failure::kWriteOutput)}});
    EXPECT_EQ(c.failing ? r.err.substr(r.err.size() - std::min(r.err.size(), err.size())) : r.err, err) << program << ": " << r.err;
    if (c.viaLink) {
      struct stat st {};
      EXPECT_TRUE(lstat(out.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << program << ": the link is gone";
    }
    struct stat st {};
    const bool exists = stat(file.c_str(), &st) == 0;
    if (c.replaced) {
      EXPECT_EQ(ReadFileBytes(file), Converted(program)) << program;
      EXPECT_EQ(st.st_mode & 07777, c.oldMode != 0 ? c.oldMode : 0666 & ~mask) << program;
    } else if (c.outIsIn) {
      EXPECT_EQ(ReadFileBytes(in), input) << program;
    } else if (c.oldMode != 0) {
      EXPECT_EQ(ReadFileBytes(file), older) << program;
    } else {
      EXPECT_FALSE(exists) << program;
    }
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename());
    std::set<std::string> want = {"in"};
    if (exists && !c.outIsIn) want.insert("file");
    if (c.viaLink) want.insert("link");
    EXPECT_EQ(names, want) << program;
  }
}

INSTANTIATE_TEST_SUITE_P(Outputs, CliReplace, testing::ValuesIn(kReplaceCases),
                         [](const testing::TestParamInfo<ReplaceCase>& info) { return std::string(info.param.name); });

// Names in any script, in the input, the output and the folder: through
// both programs and back, the bytes of a conversion under plain names.
TEST(CliNames, AnyScript) {
  struct Names { const char* folder; const char* in; const char* out; };
  const Names rows[] = {{"é", "é.tif", "ça.zolt"}, {"漢字", "漢字 名前.tif", "出力.zolt"}, {"😀 x", "😀.tif", "🎨.zolt"}};
  const std::vector<std::uint8_t> direct = Converted(kEnc);
  for (const Names& row : rows) {
    const std::string dir = TempDir() + "/" + row.folder;
    std::filesystem::create_directory(dir);
    MakeInput(kEnc, dir + "/" + row.in);
    const RunResult enc = RunProgram(kEnc, {dir + "/" + row.in, dir + "/" + row.out});
    EXPECT_EQ(enc.status, 0) << row.in << ": " << enc.err;
    EXPECT_EQ(ReadFileBytes(dir + "/" + row.out), direct) << row.out;
    const RunResult dec = RunProgram(kDec, {dir + "/" + row.out, dir + "/" + row.in});
    EXPECT_EQ(dec.status, 0) << row.out << ": " << dec.err;
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{row.in, row.out})) << row.folder;
  }
}

// A FIFO as the output: zoltenc writes straight into it, zoltdec through a
// spool file; a reader gets the same bytes as a regular file would hold.
TEST(CliStreams, FifoOutput) {
  if (const char* why = NotHereReason("FifoOutput")) GTEST_SKIP() << why;
  for (const std::string& program : {kEnc, kDec}) {
    const std::string dir = TempDir();
    MakeInput(program, dir + "/in");
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    std::vector<std::uint8_t> received;
    std::thread reader([&] { received = ReadFileBytes(dir + "/fifo"); });
    const RunResult r = RunProgram(program, {dir + "/in", dir + "/fifo"});
    reader.join();
    EXPECT_EQ(r.status, 0) << program << ": " << r.err;
    EXPECT_EQ(received, Converted(program)) << program;
  }
}

// "-" is standard input or output, in either position of either program,
// from and to files, pipes and (refused) a terminal.
TEST(CliStreams, StandardInputAndOutput) {
  for (const std::string& program : {kEnc, kDec}) {
    const std::string dir = TempDir();
    MakeInput(program, dir + "/in");
    const std::vector<std::uint8_t> bytes = Converted(program);
    const std::string want(bytes.begin(), bytes.end());
    struct Row { std::vector<std::string> args; std::string input; };
    for (const Row& row : {Row{{"-", dir + "/out"}, dir + "/in"}, Row{{dir + "/in", "-"}, ""}, Row{{"-", "-"}, dir + "/in"}}) {
      unlink((dir + "/out").c_str());
      const RunResult r = RunCommand(CommandWords(program, row.args), {0, 0, row.input, -1});
      EXPECT_EQ(r.status, 0) << program << " " << row.args[0] << " " << row.args[1] << ": " << r.err;
      EXPECT_EQ(row.args[1] == "-" ? r.out : Slurp(dir + "/out"), want) << program << " " << row.args[0] << " " << row.args[1];
    }
    // Standard input from a pipe, standard output into one.
    const RunResult piped = RunShell("cat " + dir + "/in | " + Shell(program) + "- - | cat > " + dir + "/piped");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(Slurp(dir + "/piped"), want) << program;
    // A truncated standard input fails as a truncated file does, leaving no output.
    const std::string cutAt = std::to_string(ReadFileBytes(dir + "/in").size() - 10);
    const RunResult cut = RunShell("head -c " + cutAt + " " + dir + "/in | " + Shell(program) + "- " + dir + "/cut");
    EXPECT_EQ(cut.status, 1) << program;
    EXPECT_FALSE(Exists(dir + "/cut")) << program;
    if (program == kDec) {
      EXPECT_EQ(cut.err, Err(Failure::kTruncated));
    }
    // Binary data never goes to a terminal (where the system has one to give:
    // a root without /dev/pts has none).
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
      std::cout << "skipped: no pseudo-terminal to write to (" << std::strerror(errno) << ")\n";
      continue;
    }
    const RunResult tty = RunCommand(CommandWords(program, {dir + "/in", "-"}), {0, 0, "", slave});
    close(slave);
    close(master);
    EXPECT_EQ(tty.status, 1) << program;
    EXPECT_EQ(tty.err, Err(Failure::kTerminal)) << program;
  }
  // Both programs in one chain give what a direct conversion gives.
  const std::string dir = TempDir();
  Tiff(dir + "/in.tif", [](TiffSpec& s) { s.compression = COMPRESSION_LZW; s.photometric = PHOTOMETRIC_PALETTE; });
  ASSERT_EQ(RunProgram(kEnc, {dir + "/in.tif", dir + "/direct.zolt"}).status, 0);
  const RunResult chain = RunShell("cat " + dir + "/in.tif | " + Shell(kEnc) + "- - | " + Shell(kDec) + "- - | " +
                                   Shell(kEnc) + "- " + dir + "/chain.zolt");
  EXPECT_EQ(chain.status, 0) << chain.err;
  EXPECT_EQ(ReadFileBytes(dir + "/chain.zolt"), ReadFileBytes(dir + "/direct.zolt"));
}

// The words that run program with args in the folder dir, one thread
// decoding, so that libtiff's lines come in one order.
std::vector<std::string> InFolder(const std::string& dir, const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> words = {"env", "ZOLT_THREADS=1", "sh", "-c", "cd \"$0\" && exec \"$@\"", dir};
  for (std::string& word : CommandWords(program, args)) words.push_back(std::move(word));
  return words;
}

// A batch converts each file as a run of its own does, to the same bytes,
// each line the run would print after the file's name; it goes on past
// files that fail, refuses standard input and a second input with the same
// output, and ends with status 1 and a count.
TEST(CliBatch, EachFileAsItsOwnRun) {
  const std::string dir = TempDir();
  struct Row { std::string in, out; void (*make)(const std::string&); };
  const Row rows[] = {
      {"a b.tif", "a b.zolt", [](const std::string& p) { Tiff(p, [](TiffSpec&) {}); }},
      {"it's.TIF", "it's.zolt", [](const std::string& p) { Tiff(p, [](TiffSpec& s) { s.compression = COMPRESSION_LZW; s.photometric = PHOTOMETRIC_PALETTE; }); }},
      {"-lead.tiff", "-lead.zolt", [](const std::string& p) { Tiff(p, [](TiffSpec& s) { s.pages = 2; }); }},
      {"rgb.tif", "rgb.zolt", [](const std::string& p) { Tiff(p, [](TiffSpec& s) { s.samples = 3; s.photometric = PHOTOMETRIC_RGB; }); }},
      {"cut.tif", "cut.zolt", [](const std::string& p) { Tiff(p, [](TiffSpec& s) { s.compression = COMPRESSION_LZW; }); CorruptStrip(p); }},
  };
  std::vector<std::string> names;
  std::string want;
  std::map<std::string, std::vector<std::uint8_t>> single;
  for (const Row& row : rows) {
    row.make(dir + "/" + row.in);
    const RunResult r = RunCommand(InFolder(dir, kEnc, {row.in, row.out}));
    for (std::size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1) want += row.in + ": " + r.err.substr(at, r.err.find('\n', at) + 1 - at);
    single[row.out] = ReadFileBytes(dir + "/" + row.out);
    unlink((dir + "/" + row.out).c_str());
    names.push_back(row.in);
  }
  names.insert(names.end(), {"a b.TIFF", "-"});
  want += "a b.TIFF: zoltenc: a b.TIFF: its output a b.zolt is that of a b.tif too\n"
          "a b.TIFF: " + std::string(Err(Failure::kSameOutput)) +
          "-: zoltenc: standard input: a batch converts named files only\n-: " + Err(Failure::kOpenTiff) +
          "zoltenc: 3 files converted, 4 failed\n";
  std::vector<std::string> args = {"--batch"};
  args.insert(args.end(), names.begin(), names.end());
  const RunResult batch = RunCommand(InFolder(dir, kEnc, args));
  EXPECT_EQ(batch.status, 1);
  // libtiff's lines come as they are said, the program's own once a file's
  // outcome is final, in the order of the files.
  const auto lines = [](const std::string& text, bool libtiff) {
    std::vector<std::string> kept;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      const bool own = line.find(": zoltenc: ") != std::string::npos || line.find(": Error: ") != std::string::npos ||
                       line.rfind("zoltenc: ", 0) == 0;
      if (own != libtiff) kept.push_back(line);
    }
    if (libtiff) std::sort(kept.begin(), kept.end());
    return kept;
  };
  EXPECT_EQ(lines(batch.err, false), lines(want, false));
  EXPECT_EQ(lines(batch.err, true), lines(want, true));
  for (const auto& [out, bytes] : single) EXPECT_EQ(ReadFileBytes(dir + "/" + out), bytes) << out;
  // And back: each NAME.zolt to NAME.tif, as zoltdec alone writes it.
  const RunResult back = RunCommand(InFolder(dir, kDec, {"--batch", "a b.zolt", "-lead.zolt"}));
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.err, "zoltdec: 2 files converted, 0 failed\n");
  ASSERT_EQ(RunCommand(InFolder(dir, kDec, {"a b.zolt", "single.tif"})).status, 0);
  EXPECT_EQ(ReadFileBytes(dir + "/a b.tif"), ReadFileBytes(dir + "/single.tif"));
}

// An interrupt stops a batch cleanly: what was converted stays, what was
// under way and what was to come is not converted and leaves nothing, and
// the status says so. The second file, a FIFO, holds the run half way.
TEST(CliBatch, InterruptHalfWay) {
  if (const char* why = NotHereReason("InterruptHalfWay")) GTEST_SKIP() << why;
  const std::string dir = TempDir();
  WriteFileBytes(dir + "/a.zolt", Zolt(20, 70));
  WriteFileBytes(dir + "/c.zolt", Zolt(20, 70));
  ASSERT_EQ(mkfifo((dir + "/b.zolt").c_str(), 0600), 0);
  const std::string errPath = dir + "/../stderr-" + std::to_string(getpid());
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err, 2);
    Exec(InFolder(dir, kDec, {"--batch", "a.zolt", "b.zolt", "c.zolt"}));
  }
  // Opened once the run has converted a.zolt; half of b.zolt, and then the interrupt.
  const int fifo = open((dir + "/b.zolt").c_str(), O_WRONLY);
  const std::vector<std::uint8_t> half = Zolt(20, 70);
  ASSERT_GT(write(fifo, half.data(), half.size() / 2), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  close(fifo);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
  EXPECT_EQ(Slurp(errPath), "zoltdec: interrupted: 1 file converted, 0 failed, 2 not converted\n");
  unlink(errPath.c_str());
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"a.zolt", "a.tif", "b.zolt", "c.zolt"}));
  ASSERT_EQ(RunProgram(kDec, {dir + "/a.zolt", dir + "/single.tif"}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir + "/a.tif"), ReadFileBytes(dir + "/single.tif"));
}

// kill -9 at any moment of a conversion leaves the output path holding the
// old file or the whole new one, and nothing else in the folder: except when
// the kill lands in the instant between linking the finished file under a
// hidden name and renaming it over the output, which leaves that finished
// file under its hidden name.
TEST(CliFaults, KilledAnyMoment) {
  for (const std::string& program : {kEnc, kDec}) {
    const std::string dir = TempDir();
    const std::string in = dir + "/in";
    const std::string out = dir + "/out";
    if (program == kEnc) {
      Tiff(in, [](TiffSpec& s) { s.width = s.height = 3000; s.rowsPerStrip = 64; s.compression = COMPRESSION_LZW; });
    } else {
      WriteFileBytes(in, Zolt(3000, 3000));
    }
    // How long a whole run takes: the fastest of three, since a busy machine
    // only ever makes a run slower.
    auto whole = std::chrono::steady_clock::duration::max();
    for (int i = 0; i < 3; ++i) {
      const auto start = std::chrono::steady_clock::now();
      ASSERT_EQ(RunProgram(program, {in, out}).status, 0);
      whole = std::min(whole, std::chrono::steady_clock::now() - start);
    }
    const std::vector<std::uint8_t> fresh = ReadFileBytes(out);
    const std::vector<std::uint8_t> older = {'o', 'l', 'd'};
    int killed = 0;
    for (int step = 0; step <= 12; ++step) {
      WriteFileBytes(out, older);
      const pid_t pid = fork();
      if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        Exec(CommandWords(program, {in, out}));
      }
      std::this_thread::sleep_for(whole * step / 10);
      kill(pid, SIGKILL);
      int status = 0;
      waitpid(pid, &status, 0);
      if (WIFSIGNALED(status)) ++killed;
      auto isTemp = [](const std::string& name) {
        return name.rfind(".out.", 0) == 0 && name.size() > 9 && name.substr(name.size() - 4) == ".tmp";
      };
      // Wine's server closes a killed Windows program's handles, and so
      // removes its temporary file, a moment after the process has gone.
      for (int wait = 0; kWindows && wait < 40; ++wait) {
        bool partial = false;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
          partial = partial || (isTemp(entry.path().filename()) && ReadFileBytes(entry.path()) != fresh);
        }
        if (!partial) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      const std::vector<std::uint8_t> now = ReadFileBytes(out);
      EXPECT_TRUE(now == older || now == fresh) << program << " killed at step " << step << ": " << now.size() << " bytes";
      std::set<std::string> names;
      for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename();
        if (isTemp(name)) {
          EXPECT_EQ(ReadFileBytes(entry.path()), fresh) << program << " killed at step " << step << ": " << name;
          std::filesystem::remove(entry.path());
          continue;
        }
        names.insert(name);
      }
      EXPECT_EQ(names, (std::set<std::string>{"in", "out"})) << program << " killed at step " << step;
    }
    EXPECT_GE(killed, 3) << program << ": too few runs were killed part way";
  }
}

}  // namespace
