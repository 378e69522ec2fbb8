// Owners for the C resources both programs use, so that every early return
// releases what was obtained before it.
#ifndef ZOLT_COMMON_RESOURCES_H
#define ZOLT_COMMON_RESOURCES_H

#include <cstdint>
#include <cstdio>
#include <memory>

#include <tiffio.h>

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A buffer from _TIFFmalloc.
struct TiffFreer {
  void operator()(void* buffer) const { _TIFFfree(buffer); }
};
using TiffBuffer = std::unique_ptr<std::uint8_t[], TiffFreer>;

inline TiffBuffer AllocTiffBuffer(std::size_t size) {
  return TiffBuffer(static_cast<std::uint8_t*>(_TIFFmalloc(static_cast<tmsize_t>(size))));
}

// The kernel copies between a file's pages and our memory at full speed only
// where both sides stand at the same offset within a cache line. A buffer
// that takes bytes read from, or written to, a file has kCopyAlignment bytes
// of slack, and the bytes for file offset offset start at AlignedFor(buffer,
// offset), which lies at most kCopyAlignment - 1 bytes into it.
constexpr std::size_t kCopyAlignment = 64;
inline std::uint8_t* AlignedFor(std::uint8_t* buffer, std::uint64_t offset) {
  return buffer + (offset - reinterpret_cast<std::uintptr_t>(buffer)) % kCopyAlignment;
}

// A file descriptor, closed when its owner goes. Close() is for the one close
// whose result matters.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release();
  // Closes now; false when close reports an error (a write that failed late).
  bool Close();

 private:
  int fd_ = -1;
};

#endif
