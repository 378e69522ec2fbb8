#include "fileio.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>

long long PreadFull(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    if (offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return -1;
    const ssize_t n = pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

bool WriteFull(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = 0;
    if (offset == kAppend) {
      n = write(fd, bytes + done, size - done);
    } else {
      if (offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
      n = pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    }
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

struct Handle {
  int fd;
  std::uint64_t pos = 0;
};

Handle& Of(thandle_t h) { return *static_cast<Handle*>(h); }

tmsize_t Read(thandle_t h, void* buffer, tmsize_t size) {
  if (size < 0) return -1;
  Handle& handle = Of(h);
  const long long n = PreadFull(handle.fd, buffer, static_cast<std::size_t>(size), handle.pos);
  if (n > 0) handle.pos += static_cast<std::uint64_t>(n);
  return static_cast<tmsize_t>(n);
}

tmsize_t Write(thandle_t h, void* buffer, tmsize_t size) {
  if (size < 0) return -1;
  Handle& handle = Of(h);
  if (!WriteFull(handle.fd, buffer, static_cast<std::size_t>(size), handle.pos)) return -1;
  handle.pos += static_cast<std::uint64_t>(size);
  return size;
}

toff_t Size(thandle_t h) {
  struct stat st {};
  return fstat(Of(h).fd, &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
}

toff_t Seek(thandle_t h, toff_t offset, int whence) {
  Handle& handle = Of(h);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) {
    base = handle.pos;
  } else if (whence == SEEK_END) {
    base = Size(h);
  } else if (whence != SEEK_SET) {
    return static_cast<toff_t>(-1);
  }
  // A negative offset arrives as its two's complement; unsigned arithmetic
  // gives the right position, and one below zero wraps to a huge value.
  const std::uint64_t pos = base + offset;
  if (pos > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return static_cast<toff_t>(-1);
  handle.pos = pos;
  return pos;
}

int Close(thandle_t h) {
  delete &Of(h);  // NOLINT(cppcoreguidelines-owning-memory): the handle owns its state from TIFFClientOpen on
  return 0;
}

int Map(thandle_t /*h*/, void** /*base*/, toff_t* /*size*/) { return 0; }
void Unmap(thandle_t /*h*/, void* /*base*/, toff_t /*size*/) {}

}  // namespace

TIFF* OpenTiffOnFd(int fd, const char* name, const char* mode) {
  auto handle = std::make_unique<Handle>(Handle{fd});
  TIFF* tif = TIFFClientOpen(name, mode, handle.get(), Read, Write, Seek, Close, Size, Map, Unmap);
  if (tif != nullptr) handle.release();  // TIFFClose frees it through Close
  return tif;
}
