#include "zoltfile.h"

#include <algorithm>
#include <cstring>

void EncodeZoltHeader(const ZoltHeader& header, std::uint8_t out[kZoltHeaderSize]) {
  std::memcpy(out, header.magic, sizeof header.magic);
  const auto width = static_cast<std::uint16_t>(header.width);
  const auto height = static_cast<std::uint16_t>(header.height);
  out[4] = static_cast<std::uint8_t>(width & 0xFFU);
  out[5] = static_cast<std::uint8_t>(width >> 8U);
  out[6] = static_cast<std::uint8_t>(height & 0xFFU);
  out[7] = static_cast<std::uint8_t>(height >> 8U);
}

ZoltHeader DecodeZoltHeader(const std::uint8_t in[kZoltHeaderSize]) {
  ZoltHeader header{};
  std::memcpy(header.magic, in, sizeof header.magic);
  header.width = static_cast<std::int16_t>(static_cast<std::uint16_t>(in[4] | (in[5] << 8U)));
  header.height = static_cast<std::int16_t>(static_cast<std::uint16_t>(in[6] | (in[7] << 8U)));
  return header;
}

bool StartsAsZolt(const std::uint8_t* bytes, std::size_t count) {
  return std::memcmp(bytes, kZoltMagic, std::min(count, sizeof kZoltMagic)) == 0;
}

bool ZoltHeaderValid(const ZoltHeader& header) {
  return std::memcmp(header.magic, kZoltMagic, sizeof kZoltMagic) == 0 && header.width >= 1 && header.height >= 1;
}

std::uint64_t ZoltPixelCount(const ZoltHeader& header) {
  if (header.width < 1 || header.height < 1) return 0;
  return static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
}

void EncodeZoltTail(const ZoltPalette& palette, std::uint8_t out[kZoltTailSize]) {
  std::memcpy(out, kZoltTag, kZoltTagSize);
  std::memcpy(out + kZoltTagSize, palette.rgb, kZoltPaletteSize);
}

void DecodeZoltTail(const std::uint8_t in[kZoltTailSize], ZoltPalette& palette) {
  std::memcpy(palette.rgb, in + kZoltTagSize, kZoltPaletteSize);
}
