#include "zoltfile.h"

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
