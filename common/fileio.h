// Positioned reads and writes on file descriptors, and libtiff handles made
// over them. A handle keeps its own position, so several handles (one per
// thread) can share one descriptor, and every file call is ours, with 64-bit
// offsets whatever the platform.
#ifndef ZOLT_COMMON_FILEIO_H
#define ZOLT_COMMON_FILEIO_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include <tiffio.h>

#include "resources.h"

// What the system provides (common/posix or common/win32). Descriptors
// are ints everywhere: on Windows, C runtime descriptors over HANDLEs.

// Reads up to size bytes at offset; stops early only at the end of the file.
// Returns the count read, or -1 on an error.
long long PreadFull(int fd, void* buffer, std::size_t size, std::uint64_t offset);

// Writes all size bytes at offset, or at the current position when offset is
// kAppend (for pipes and devices). False on any error.
constexpr std::uint64_t kAppend = ~std::uint64_t{0};
bool WriteFull(int fd, const void* buffer, std::size_t size, std::uint64_t offset);

// Copies from's bytes, from its start, or with fromStart false from where it
// stands, to its end, to to (a pipe or device too). False on any read or
// write error.
bool CopyStream(int from, int to, bool fromStart = false);

// A temporary file that disappears with its descriptor, for content that
// must be seekable but has nowhere else to go: in the user's temporary folder.
UniqueFd MakeSpoolFile();

// Makes fd's content durable: on the disk, not only in the system's cache,
// so that it survives a power loss. True where fd is no file to sync (a
// pipe, a terminal). False on an error.
bool SyncFile(int fd);

// Whether fd is a terminal (a console), which takes no binary data.
bool IsTerminal(int fd);

// The size of fd when it is a regular file; false for a pipe, a device, a
// folder, or when the system cannot tell.
bool RegularFileSize(int fd, std::uint64_t& size);

// The first size bytes of fd, mapped read-only; null where they cannot be.
void* MapReadOnly(int fd, std::size_t size);
void UnmapReadOnly(void* base, std::size_t size);
// Lets the system reclaim the mapped pages under base[begin, end): read
// again, they come back from the file.
void ReleasePages(void* base, std::size_t begin, std::size_t end);

// Where libtiff's warnings and errors about one handle go: standard error in
// libtiff's own format, each as one whole line, so that lines from several
// threads never mix. While quiet, warnings go nowhere (what another handle on
// the same bytes has said already); errors still do. Must outlive the handle.
struct TiffMessages {
  std::atomic<bool> quiet{false};
};

// The first error libtiff reported through the handlers above since the
// last call (its words, without the module), or "": what a failed read
// names as its reason.
std::string TakeTiffError();

// A libtiff handle over fd in mode ("r" or "w", with libtiff's modifiers:
// "rm" reads with positioned reads, plain "r" maps the file where it can);
// name appears in libtiff's messages, which go to messages, or to libtiff's
// global handlers when it is null. No single allocation of libtiff's for the
// handle may exceed 256 MiB. The descriptor stays open when the handle is
// closed. Null on failure, after libtiff has said why.
TIFF* OpenTiffOnFd(int fd, const char* name, const char* mode, TiffMessages* messages = nullptr);

// For a handle that mapped its file: lets the kernel reclaim the pages of
// the file's bytes offset to offset + length that libtiff has touched, so
// that decoding a large strip from the mapping does not keep all of it
// resident.
void ReleaseMappedPages(TIFF* tif, std::uint64_t offset, std::uint64_t length);

#endif
