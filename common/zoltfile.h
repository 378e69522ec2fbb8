// The ZOLT bitmap file: one uncompressed 8-bit indexed-colour image followed
// by its 256-entry palette. All multi-byte numbers are little-endian.
//
//   offset      size       field    content
//   0           4          magic    "ZOLT" (0x5A 0x4F 0x4C 0x54), no terminator
//   4           2          width    signed 16-bit: pixels per row
//   6           2          height   signed 16-bit: number of rows
//   8           W * H      pixels   one palette index per pixel; rows top to
//                                   bottom, each left to right, no padding
//   8 + W * H   4          tag      "RGB " (0x52 0x47 0x42 0x20), no terminator
//   12 + W * H  768        palette  256 entries in index order: red, green, blue
//
// A file holds exactly 780 + W * H bytes; a 1 x 1 image is 781 bytes. Each
// palette component is a 6-bit intensity, 0 (none) to 63 (full). As 8 bits,
// a component is widened by repeating its top bits, x = (c << 2) | (c >> 4),
// so that 63 is 255 and 0 is 0. A TIFF colour-map value is that x on the
// 16-bit scale, x * 257 (full intensity is 65535), and the component is the
// colour-map value shifted right by 10 bits: x * 257 >> 10 is c again for
// every c from 0 to 63, and so is c << 10, the value older writers used.
// Tools that keep 8 bits per component (x) write back x * 257, so an edit
// that leaves a colour alone leaves its component alone.
//
// Writers always store the magic and the tag. Readers refuse a file that does
// not start with the magic (taking any file as ZOLT data would turn a TIFF
// given by mistake into noise), do not check the tag, and ignore anything
// after the palette.
#ifndef ZOLT_COMMON_ZOLTFILE_H
#define ZOLT_COMMON_ZOLTFILE_H

#include <cstddef>
#include <cstdint>

constexpr std::size_t kZoltHeaderSize = 8;
constexpr std::size_t kZoltTagSize = 4;
constexpr std::size_t kZoltPaletteSize = 768;
// What follows the pixels: tag and palette.
constexpr std::size_t kZoltTailSize = kZoltTagSize + kZoltPaletteSize;
// Bytes of a file besides its pixels: header, tag and palette.
constexpr std::size_t kZoltOverhead = kZoltHeaderSize + kZoltTailSize;
// The largest width or height the signed 16-bit header fields can hold.
constexpr int kZoltMaxSide = 32767;

constexpr char kZoltMagic[4] = {'Z', 'O', 'L', 'T'};
constexpr char kZoltTag[4] = {'R', 'G', 'B', ' '};

// The first 8 bytes of a file.
struct ZoltHeader {
  char magic[4];
  std::int16_t width;
  std::int16_t height;
};

// The last 768 bytes of a file: entry i is rgb[3i] (red), rgb[3i + 1] (green)
// and rgb[3i + 2] (blue).
struct ZoltPalette {
  std::uint8_t rgb[kZoltPaletteSize];
};

// The header in file order, little-endian whatever the host.
void EncodeZoltHeader(const ZoltHeader& header, std::uint8_t out[kZoltHeaderSize]);
ZoltHeader DecodeZoltHeader(const std::uint8_t in[kZoltHeaderSize]);

// Whether the first count bytes of a file (fewer than 4 included) are those
// of the magic.
bool StartsAsZolt(const std::uint8_t* bytes, std::size_t count);
// Whether the header has the magic and sides of at least 1, the only headers
// a reader takes.
bool ZoltHeaderValid(const ZoltHeader& header);

// The pixel count and the whole file's size a valid header implies; the
// largest, 32767 x 32767, needs more than 32 bits.
std::uint64_t ZoltPixelCount(const ZoltHeader& header);
inline std::uint64_t ZoltFileSize(const ZoltHeader& header) { return kZoltOverhead + ZoltPixelCount(header); }

// The tag and palette in file order; the reader takes the palette from
// after the tag, which it does not check.
void EncodeZoltTail(const ZoltPalette& palette, std::uint8_t out[kZoltTailSize]);
void DecodeZoltTail(const std::uint8_t in[kZoltTailSize], ZoltPalette& palette);

// Where a viewer scales an image down by sampling (the gdk-pixbuf loader,
// the Windows decoder): the source row or column, of source, at the centre
// of result row or column i, of target; in 64 bits, since the product
// reaches 2^31.
constexpr std::uint32_t ZoltSample(std::uint32_t i, std::uint32_t source, std::uint32_t target) {
  return static_cast<std::uint32_t>((2 * std::uint64_t{i} + 1) * source / (2 * std::uint64_t{target}));
}

// A component as 8 bits: 0 is 0, 63 is 255, each within 1 of c * 255 / 63.
// Only the low 6 bits of a component count (a damaged or foreign file may
// hold more), as they always have in a colour map.
constexpr std::uint8_t ZoltTo8BitComponent(std::uint8_t c) {
  return static_cast<std::uint8_t>(((c & 63U) << 2U) | ((c & 63U) >> 4U));
}
// A component and a TIFF colour-map value, each way.
constexpr std::uint16_t ZoltToTiffComponent(std::uint8_t c) {
  return static_cast<std::uint16_t>(ZoltTo8BitComponent(c) * 257U);
}
constexpr std::uint8_t ZoltFromTiffComponent(std::uint16_t value) { return static_cast<std::uint8_t>(value >> 10U); }

#endif
