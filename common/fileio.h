// Positioned reads and writes on file descriptors, and libtiff handles made
// over them. A handle keeps its own position, so several handles (one per
// thread) can share one descriptor, and every file call is ours, with 64-bit
// offsets whatever the platform.
#ifndef ZOLT_COMMON_FILEIO_H
#define ZOLT_COMMON_FILEIO_H

#include <cstddef>
#include <cstdint>

#include <tiffio.h>

// Reads up to size bytes at offset; stops early only at the end of the file.
// Returns the count read, or -1 on an error.
long long PreadFull(int fd, void* buffer, std::size_t size, std::uint64_t offset);

// Writes all size bytes at offset, or at the current position when offset is
// kAppend (for pipes and devices). False on any error.
constexpr std::uint64_t kAppend = ~std::uint64_t{0};
bool WriteFull(int fd, const void* buffer, std::size_t size, std::uint64_t offset);

// A libtiff handle over fd in mode ("r" or "w"); name appears in libtiff's
// messages. The descriptor stays open when the handle is closed. Null on
// failure, after libtiff has said why.
TIFF* OpenTiffOnFd(int fd, const char* name, const char* mode);

#endif
