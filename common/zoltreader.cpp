#include "zoltreader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "files.h"
#include "messages.h"

namespace {
// The largest offset fseek takes everywhere (its long has 32 bits on Windows
// and 32-bit systems).
constexpr long kMaxSeek = 0x7FFFFFFF;

Outcome ReadExactly(std::FILE* in, void* buffer, std::size_t size) {
  if (std::fread(buffer, 1, size, in) == size) return {};
  return Failure::kTruncated;
}

// What a file that is not ZOLT data starts with, for the line that names it.
std::string NotZolt(const std::uint8_t* head, std::size_t count) {
  if (count >= 4 && (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0)) {
    return "a TIFF file; zoltenc converts TIFF to ZOLT";
  }
  std::string found = "starts with \"";
  for (std::size_t i = 0; i < std::min<std::size_t>(count, 4); ++i) {
    char byte[8];
    std::snprintf(byte, sizeof byte, std::isprint(head[i]) != 0 && head[i] != '"' && head[i] != '\\' ? "%c" : "\\x%02X",
                  head[i]);
    found += byte;
  }
  return found + "\", not \"ZOLT\"";
}
}  // namespace

Outcome ZoltReader::Header(ZoltHeader& header) {
  std::uint8_t head[kZoltHeaderSize];
  const std::size_t got = std::fread(head, 1, sizeof head, in_);
  // A file shorter than the magic is truncated as long as it starts as one.
  if (!StartsAsZolt(head, got)) return Fault(Failure::kNotZolt, name_, NotZolt(head, got));
  if (got < sizeof head) {
    return Fault(Failure::kTruncated, name_,
                 std::to_string(got) + " bytes; a ZOLT file has at least " + std::to_string(kZoltOverhead + 1));
  }
  const ZoltHeader found = DecodeZoltHeader(head);
  // The magic is there: what is left to be wrong is the size.
  if (!ZoltHeaderValid(found)) return Fault(Failure::kInvalidSize, found.width, found.height);
  // The size of a regular file is known before anything is written; a
  // stream that cannot tell is checked as it is read.
  std::uint64_t size = 0;
  if (RegularFileSize(fileno(in_), size) && size < ZoltFileSize(found)) {
    return Fault(Failure::kTruncated, name_,
                 std::to_string(size) + " bytes; a " + std::to_string(found.width) + " x " +
                     std::to_string(found.height) + " image needs " + std::to_string(ZoltFileSize(found)));
  }
  header = found;
  return {};
}

Outcome ZoltReader::Rows(std::uint8_t* pixels, std::size_t count) { return ReadExactly(in_, pixels, count); }

Outcome ZoltReader::SkipRows(std::uint64_t count) {
  // A regular file is sought past them (the size was checked), a stream read
  // through.
  std::uint64_t size = 0;
  if (RegularFileSize(fileno(in_), size) && count <= static_cast<std::uint64_t>(kMaxSeek)) {
    return std::fseek(in_, static_cast<long>(count), SEEK_CUR) == 0 ? Outcome() : Outcome(Failure::kTruncated);
  }
  std::uint8_t chunk[4096];
  while (count > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof chunk));
    if (Outcome fault = ReadExactly(in_, chunk, n)) return fault;
    count -= n;
  }
  return {};
}

Outcome ZoltReader::Palette(ZoltPalette& palette) {
  std::uint8_t tail[kZoltTailSize];
  if (Outcome fault = ReadExactly(in_, tail, sizeof tail)) return fault;
  DecodeZoltTail(tail, palette);
  return {};
}
