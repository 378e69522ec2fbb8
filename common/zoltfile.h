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
// palette component is a 6-bit intensity, 0 (none) to 63 (full). A TIFF
// colour-map value is the component shifted left by 10 bits, and the component
// is the colour-map value shifted right by 10 bits.
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
// Bytes of a file besides its pixels: header, tag and palette.
constexpr std::size_t kZoltOverhead = kZoltHeaderSize + kZoltTagSize + kZoltPaletteSize;
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

#endif
