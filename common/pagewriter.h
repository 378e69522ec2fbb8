// Writes laid out on page boundaries, over the positioned writes of files.h.
#ifndef ZOLT_COMMON_PAGEWRITER_H
#define ZOLT_COMMON_PAGEWRITER_H

#include <cstddef>
#include <cstdint>
#include <memory>

// Writes a file at the offsets given so that, where it is written in order,
// each write starts and ends on a page boundary: the kernel then caches the
// file in large pieces and copies fastest. So the end of a write of a page
// or more that stops inside a page (each strip of a TIFF file, each band of
// a ZOLT file) is held back, and written in one write with the bytes that
// follow it; any other write writes out what is held first. The file is
// complete only after Finish().
class PageWriter {
 public:
  explicit PageWriter(int fd) : fd_(fd) {}
  // False on any error.
  bool Write(const void* data, std::size_t size, std::uint64_t offset);
  // Writes out what is held back; false on an error.
  bool Finish();

 private:
  static constexpr std::size_t kPage = 4096;
  int fd_;
  std::unique_ptr<std::uint8_t[]> buffer_;  // allocated for the first large write
  std::uint8_t* held_ = nullptr;            // heldSize_ bytes for offset heldAt_, a page boundary
  std::size_t heldSize_ = 0;
  std::uint64_t heldAt_ = 0;
};

#endif
