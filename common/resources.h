// Owners for the C resources both programs use, so that every early return
// releases what was obtained before it.
#ifndef ZOLT_COMMON_RESOURCES_H
#define ZOLT_COMMON_RESOURCES_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// Asks the kernel to back the 2 MiB-aligned interior of a large buffer with
// transparent huge pages: filling a fresh whole-image buffer then takes a
// fraction of the page faults.
void AdviseHugePages(void* buffer, std::size_t size);

inline TiffBuffer AllocTiffBuffer(std::size_t size) {
  TiffBuffer buffer(static_cast<std::uint8_t*>(_TIFFmalloc(static_cast<tmsize_t>(size))));
  AdviseHugePages(buffer.get(), size);
  return buffer;
}

// A buffer from malloc.
struct MallocFreer {
  void operator()(void* buffer) const { std::free(buffer); }
};
using MallocBuffer = std::unique_ptr<std::uint8_t[], MallocFreer>;

inline MallocBuffer AllocMallocBuffer(std::size_t size) {
  MallocBuffer buffer(static_cast<std::uint8_t*>(std::malloc(size)));
  AdviseHugePages(buffer.get(), size);
  return buffer;
}

// Removes the output file when the conversion fails after the file was
// created, so that no incomplete file is left behind. Only a regular file that
// the path itself names is removed: never a device or a pipe given as the
// output (/dev/full, /dev/stdout), nor a symbolic link.
class PartialOutput {
 public:
  PartialOutput(const char* path, int fd);
  ~PartialOutput();
  PartialOutput(const PartialOutput&) = delete;
  PartialOutput& operator=(const PartialOutput&) = delete;
  // The output is complete: keep it.
  void Keep() { remove_ = false; }

 private:
  const char* path_;
  bool remove_ = false;
  unsigned long long device_ = 0;
  unsigned long long inode_ = 0;
};

#endif
