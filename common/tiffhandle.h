// libtiff handles made over file descriptors, whose reads and writes go
// through common/files.h. A handle keeps its own position, so several handles
// (one per thread) can share one descriptor, and every file call is ours, with
// 64-bit offsets whatever the platform.
#ifndef ZOLT_COMMON_TIFFHANDLE_H
#define ZOLT_COMMON_TIFFHANDLE_H

#include <atomic>
#include <cstdint>
#include <string>

#include <tiffio.h>

#include "files.h"
#include "resources.h"

// Where libtiff's warnings and errors about one handle go: standard error in
// libtiff's own format, each as one whole line, so that lines from several
// threads never mix, after prefix and ": " where a prefix is given (the
// file's name, in a run of many). While quiet, warnings go nowhere (what
// another handle on the same bytes has said already); errors still do. Must
// outlive the handle, and serves one handle, used by one thread at a time.
struct TiffMessages {
  std::atomic<bool> quiet{false};
  const char* prefix = nullptr;
  std::string firstError;  // see TakeTiffError
};

// The prefix of the handle tif's lines, which another handle on the same
// file takes too; null where none, or for a handle not made here.
const char* PrefixOf(TIFF* tif);

// The first error libtiff reported about the handle tif since the last call
// (its words, without the module), or "": what a failed read names as its
// reason. "" for a handle opened without messages, or not by OpenTiffOnFd.
std::string TakeTiffError(TIFF* tif);

// A libtiff handle over fd in mode ("r" or "w", with libtiff's modifiers:
// "rm" reads with positioned reads, plain "r" maps the file where it can);
// name appears in libtiff's messages, which go to messages, or to libtiff's
// global handlers when it is null. No single allocation of libtiff's for the
// handle may exceed 256 MiB. The descriptor stays open when the handle is
// closed. Null on failure, after libtiff has said why.
TIFF* OpenTiffOnFd(int fd, const char* name, const char* mode, TiffMessages* messages = nullptr);

// For a handle open for writing: TIFFFlush, then the end of the last write,
// which the handle may hold back until more follows. False on any error.
// What is written is complete only after this; closing the handle writes
// out what is held too, but cannot tell whether it could.
bool FlushTiff(TIFF* tif);

// For a handle that mapped its file: lets the kernel reclaim the pages of
// the file's bytes offset to offset + length that libtiff has touched, so
// that decoding a large strip from the mapping does not keep all of it
// resident.
void ReleaseMappedPages(TIFF* tif, std::uint64_t offset, std::uint64_t length);

#endif
