// The header's byte layout, the exact bytes of every strip WriteData writes,
// and of any writes made through PageWriter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files.h"
#include "input.h"
#include "pagewriter.h"
#include "resources.h"
#include "tiffgen.h"
#include "writedata.h"
#include "zoltfile.h"

namespace {

TEST(Header, LittleEndianSigned16) {
  struct Row { std::int16_t width, height; std::uint8_t bytes[4]; };
  const Row rows[] = {
      {300, 1, {0x2C, 0x01, 0x01, 0x00}},
      {32767, 256, {0xFF, 0x7F, 0x00, 0x01}},
      {-1, -32768, {0xFF, 0xFF, 0x00, 0x80}},
  };
  for (const Row& r : rows) {
    const ZoltHeader header{{'Z', 'O', 'L', 'T'}, r.width, r.height};
    std::uint8_t bytes[kZoltHeaderSize];
    EncodeZoltHeader(header, bytes);
    EXPECT_EQ(std::memcmp(bytes, "ZOLT", 4), 0);
    EXPECT_EQ(std::memcmp(bytes + 4, r.bytes, 4), 0) << r.width << "x" << r.height;
    const ZoltHeader back = DecodeZoltHeader(bytes);
    EXPECT_EQ(back.width, r.width);
    EXPECT_EQ(back.height, r.height);
  }
}

// A component in a colour map is its 8-bit widening on the 16-bit grid, which
// tools that keep 8 bits write back unchanged; either that or the older c << 10
// reads back as c.
TEST(Components, EightBitGridAndBack) {
  const std::pair<std::uint8_t, std::uint16_t> rows[] = {{0, 0}, {1, 4 * 257}, {32, 130 * 257}, {63, 65535}, {64, 0}};
  for (const auto& [c, value] : rows) EXPECT_EQ(ZoltToTiffComponent(c), value) << int{c};
  for (std::uint8_t c = 0; c < 64; ++c) {
    EXPECT_EQ(ZoltFromTiffComponent(ZoltToTiffComponent(c)), c);
    EXPECT_EQ(ZoltFromTiffComponent(static_cast<std::uint16_t>(c << 10U)), c);
  }
}

// Each strip as it must stand in the file: 64 rows of the image, the last
// strip padded to the full strip size with what the strip before it left in a
// strip-sized buffer.
std::vector<std::vector<std::uint8_t>> ExpectedStrips(const std::vector<std::uint8_t>& pixels, std::size_t width,
                                                      std::size_t height) {
  std::vector<std::vector<std::uint8_t>> strips;
  const std::size_t stripBytes = width * std::min<std::size_t>(64, height);
  std::vector<std::uint8_t> buffer(stripBytes);
  for (std::size_t row = 0; row < height; row += 64) {
    const std::size_t bytes = width * std::min<std::size_t>(64, height - row);
    std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(row * width), bytes, buffer.begin());
    strips.push_back(buffer);
  }
  return strips;
}

class Writer : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(Writer, Strips) {
  const auto [width, height] = GetParam();
  const ZoltHeader header{{'x', 'x', 'x', 'x'}, static_cast<std::int16_t>(width), static_cast<std::int16_t>(height)};
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
  // What follows the header in a ZOLT file: pixels, tag, palette.
  std::vector<std::uint8_t> body = pixels;
  body.resize(pixels.size() + kZoltTagSize + kZoltPaletteSize);
  const std::string dir = TempDir();
  WriteFileBytes(dir + "/body", body);
  const FilePtr in = OpenStreamInput((dir + "/body").c_str());
  ASSERT_TRUE(in);

  const std::string path = dir + "/out.tif";
  {
    const TiffPtr out(TIFFOpen(path.c_str(), "w"));
    ASSERT_TRUE(out);
    ZoltReader reader(in.get(), "body");
    ASSERT_FALSE(WriteData(out.get(), header, reader));
  }

  // Fields and colour map are read back by an independent reader in
  // tifffile_check.py; here the bytes of every strip.
  const TiffPtr tif(TIFFOpen(path.c_str(), "r"));
  ASSERT_TRUE(tif);
  const auto want = ExpectedStrips(pixels, static_cast<std::size_t>(width), static_cast<std::size_t>(height));
  ASSERT_EQ(TIFFNumberOfStrips(tif.get()), want.size());
  for (std::uint32_t s = 0; s < want.size(); ++s) {
    std::vector<std::uint8_t> raw(want[s].size() + 1);
    ASSERT_EQ(TIFFReadRawStrip(tif.get(), s, raw.data(), static_cast<tmsize_t>(raw.size())),
              static_cast<tmsize_t>(want[s].size()));
    raw.pop_back();
    EXPECT_EQ(raw, want[s]) << "strip " << s;
  }
}

// Writes (offset, size) made through PageWriter leave the bytes of the same
// writes made directly, in any order; before Finish(), the file ends where
// the last write of a page or more left its last page boundary.
TEST(PageWriter, SameBytesAsDirectWrites) {
  struct Row { std::vector<std::pair<std::uint64_t, std::size_t>> writes; std::uint64_t sizeBeforeFinish; };
  const Row rows[] = {
      {{{0, 8}, {8, 6400}, {6408, 6400}, {12808, 174}, {4, 4}}, 12982},  // a TIFF file's
      {{{0, 4096}, {4096, 8192}, {12288, 5}}, 12293},
      {{{0, 5000}, {4500, 100}, {100, 10}}, 5000},  // a rewrite of what is held
      {{{5000, 5000}, {0, 5000}, {10000, 3}}, 10003},
      {{{8, 6000}}, 4096},
  };
  for (const Row& row : rows) {
    const UniqueFd fd = MakeSpoolFile();
    ASSERT_TRUE(fd);
    PageWriter writer(fd.Get());
    std::vector<std::uint8_t> want;
    for (const auto& [offset, size] : row.writes) {
      std::vector<std::uint8_t> bytes(size);
      for (std::size_t k = 0; k < size; ++k) bytes[k] = static_cast<std::uint8_t>(offset + k * 7);
      want.resize(std::max<std::size_t>(want.size(), offset + size));
      std::copy(bytes.begin(), bytes.end(), want.begin() + static_cast<std::ptrdiff_t>(offset));
      ASSERT_TRUE(writer.Write(bytes.data(), size, offset));
    }
    std::uint64_t size = 0;
    EXPECT_TRUE(RegularFileSize(fd.Get(), size) && size == row.sizeBeforeFinish) << size;
    ASSERT_TRUE(writer.Finish());
    std::vector<std::uint8_t> got(want.size() + 1);
    ASSERT_EQ(PreadFull(fd.Get(), got.data(), got.size(), 0), static_cast<long long>(want.size()));
    got.pop_back();
    EXPECT_EQ(got, want);
  }
}

// 1 x 1; exactly one strip; a short second strip (640 bytes: row 64, then
// rows 1 to 63); a short third strip; a wide image.
INSTANTIATE_TEST_SUITE_P(Sizes, Writer,
                         testing::Values(std::make_pair(1, 1), std::make_pair(10, 64), std::make_pair(10, 65),
                                         std::make_pair(10, 130), std::make_pair(301, 200)));

}  // namespace
