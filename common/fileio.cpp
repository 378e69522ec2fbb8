#include "fileio.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <limits>
#include <memory>
#include <new>

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

bool CopyStream(int from, int to) {
  std::vector<std::uint8_t> buffer(std::size_t{1} << 20U);
  for (;;) {
    const ssize_t n = read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    if (!WriteFull(to, buffer.data(), static_cast<std::size_t>(n), kAppend)) return false;
  }
}

UniqueFd MakeSpoolFile() {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  UniqueFd fd(open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd) return fd;
  std::string name = std::string(dir) + "/zolt-spool-XXXXXX";
  fd = UniqueFd(mkostemp(name.data(), O_CLOEXEC));
  if (fd) unlink(name.c_str());
  return fd;
}

namespace {

struct Handle {
  int fd;
  // Where the file ends: its size when the handle was opened, grown by what
  // the handle writes. Known here, it can never be unknown when libtiff asks.
  std::uint64_t end = 0;
  std::uint64_t pos = 0;
  void* base = nullptr;  // the whole file, where libtiff asked for it mapped
  std::size_t size = 0;
};

Handle& Of(thandle_t h) { return *static_cast<Handle*>(h); }

tmsize_t Read(thandle_t h, void* buffer, tmsize_t size) {
  if (size < 0) return -1;
  Handle& handle = Of(h);
  const long long n = PreadFull(handle.fd, buffer, static_cast<std::size_t>(size), handle.pos);
  if (n < 0) return 0;  // libtiff adds what it is told before it checks it: a failed read reads nothing
  handle.pos += static_cast<std::uint64_t>(n);
  return static_cast<tmsize_t>(n);
}

tmsize_t Write(thandle_t h, void* buffer, tmsize_t size) {
  if (size < 0) return -1;
  Handle& handle = Of(h);
  if (!WriteFull(handle.fd, buffer, static_cast<std::size_t>(size), handle.pos)) return -1;
  handle.pos += static_cast<std::uint64_t>(size);
  handle.end = std::max(handle.end, handle.pos);
  return size;
}

toff_t Size(thandle_t h) { return Of(h).end; }

toff_t Seek(thandle_t h, toff_t offset, int whence) {
  Handle& handle = Of(h);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) {
    base = handle.pos;
  } else if (whence == SEEK_END) {
    base = handle.end;
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

// Maps the whole file read-only (libtiff asks unless opened with "m"). A
// file too large for the address space is read instead.
int Map(thandle_t h, void** base, toff_t* size) {
  Handle& handle = Of(h);
  const toff_t bytes = Size(h);
  if (bytes == 0 || bytes > std::numeric_limits<std::size_t>::max()) return 0;
  void* map = mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ, MAP_PRIVATE, handle.fd, 0);
  if (map == MAP_FAILED) return 0;
  handle.base = map;
  handle.size = static_cast<std::size_t>(bytes);
  *base = map;
  *size = bytes;
  return 1;
}

void Unmap(thandle_t h, void* base, toff_t size) {
  munmap(base, static_cast<std::size_t>(size));
  Of(h).base = nullptr;
}

}  // namespace

void ReleaseMappedPages(TIFF* tif, std::uint64_t offset, std::uint64_t length) {
  const Handle& handle = Of(TIFFClientdata(tif));
  if (handle.base == nullptr || offset >= handle.size) return;
  const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t begin = offset / page * page;
  const std::uint64_t end = std::min<std::uint64_t>(offset + std::min<std::uint64_t>(length, handle.size), handle.size);
  // Read-only pages of a private file mapping come back from the file when
  // touched again, so this never changes what libtiff reads.
  madvise(static_cast<std::uint8_t*>(handle.base) + begin, static_cast<std::size_t>(end - begin), MADV_DONTNEED);
}

namespace {

// libtiff's default handlers print a line in three writes; this prints it in one.
int PrintMessage(const char* module, const char* warning, const char* fmt, va_list ap) {
  char text[1024];
  std::vsnprintf(text, sizeof text, fmt, ap);
  std::fprintf(stderr, "%s%s%s%s.\n", module != nullptr ? module : "", module != nullptr ? ": " : "", warning, text);
  return 1;  // handled: libtiff's global handlers stay silent
}

int PrintError(TIFF* /*tif*/, void* /*data*/, const char* module, const char* fmt, va_list ap) {
  return PrintMessage(module, "", fmt, ap);
}

int PrintWarning(TIFF* /*tif*/, void* data, const char* module, const char* fmt, va_list ap) {
  if (static_cast<TiffMessages*>(data)->quiet.load(std::memory_order_relaxed)) return 1;
  return PrintMessage(module, "Warning, ", fmt, ap);
}

struct OptionsFreer {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

}  // namespace

TIFF* OpenTiffOnFd(int fd, const char* name, const char* mode, TiffMessages* messages) {
  const std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t{256} << 20U);
  if (messages != nullptr) {
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), PrintError, messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), PrintWarning, messages);
  }
  // Never throws: helper threads open handles too.
  std::unique_ptr<Handle> handle(new (std::nothrow) Handle{fd});
  // libtiff takes a seek to the end that fails for offset 0, and would write
  // its directory over the header: the size is taken once, here.
  struct stat st {};
  if (!handle || fstat(fd, &st) != 0) return nullptr;
  handle->end = static_cast<std::uint64_t>(st.st_size);
  TIFF* tif = TIFFClientOpenExt(name, mode, handle.get(), Read, Write, Seek, Close, Size, Map, Unmap, options.get());
  if (tif != nullptr) (void)handle.release();  // TIFFClose frees it through Close
  return tif;
}
