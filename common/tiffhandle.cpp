#include "tiffhandle.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "pagewriter.h"
#include "process.h"

namespace {

struct Handle {
  int fd;
  // Where the file ends: its size when the handle was opened, grown by what
  // the handle writes. Known here, it can never be unknown when libtiff asks.
  std::uint64_t end = 0;
  std::uint64_t pos = 0;
  void* base = nullptr;  // the whole file (end bytes), where libtiff asked for it mapped
  PageWriter writer;  // every write goes through it
  TiffMessages* messages = nullptr;
};

Handle& Of(thandle_t h) { return *static_cast<Handle*>(h); }

tmsize_t Read(thandle_t h, void* buffer, tmsize_t size) {
  if (size < 0) return -1;
  Handle& handle = Of(h);
  if (!handle.writer.Finish()) return 0;
  const long long n = PreadFull(handle.fd, buffer, static_cast<std::size_t>(size), handle.pos);
  if (n < 0) return 0;  // libtiff adds what it is told before it checks it: a failed read reads nothing
  handle.pos += static_cast<std::uint64_t>(n);
  return static_cast<tmsize_t>(n);
}

tmsize_t Write(thandle_t h, void* buffer, tmsize_t size) {
  if (size < 0) return -1;
  Handle& handle = Of(h);
  if (!handle.writer.Write(buffer, static_cast<std::size_t>(size), handle.pos)) return -1;
  handle.pos += static_cast<std::uint64_t>(size);
  handle.end = std::max(handle.end, handle.pos);
  return size;
}

toff_t Size(thandle_t h) { return Of(h).end; }

toff_t Seek(thandle_t h, toff_t offset, int whence) {
  Handle& handle = Of(h);
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return static_cast<toff_t>(-1);
  const std::uint64_t base = whence == SEEK_CUR ? handle.pos : whence == SEEK_END ? handle.end : 0;
  // A negative offset arrives as its two's complement; unsigned arithmetic
  // gives the right position, and one below zero wraps to a huge value.
  const std::uint64_t pos = base + offset;
  if (pos > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return static_cast<toff_t>(-1);
  handle.pos = pos;
  return pos;
}

int Close(thandle_t h) {
  (void)Of(h).writer.Finish();  // FlushTiff has, and said whether it could
  delete &Of(h);  // NOLINT(cppcoreguidelines-owning-memory): the handle owns its state from TIFFClientOpen on
  return 0;
}

// Maps the whole file read-only (libtiff asks unless opened with "m"). A
// file too large for the address space is read instead.
int Map(thandle_t h, void** base, toff_t* size) {
  Handle& handle = Of(h);
  const toff_t bytes = Size(h);
  if (bytes == 0 || bytes > std::numeric_limits<std::size_t>::max()) return 0;
  void* map = MapReadOnly(handle.fd, static_cast<std::size_t>(bytes));
  if (map == nullptr) return 0;
  handle.base = map;
  *base = map;
  *size = bytes;
  return 1;
}

void Unmap(thandle_t h, void* base, toff_t size) {
  UnmapReadOnly(base, static_cast<std::size_t>(size));
  Of(h).base = nullptr;
}

}  // namespace

bool FlushTiff(TIFF* tif) { return TIFFFlush(tif) == 1 && Of(TIFFClientdata(tif)).writer.Finish(); }

void ReleaseMappedPages(TIFF* tif, std::uint64_t offset, std::uint64_t length) {
  const Handle& handle = Of(TIFFClientdata(tif));
  if (handle.base == nullptr || offset >= handle.end) return;
  const std::uint64_t end = std::min(offset + std::min(length, handle.end), handle.end);
  ReleasePages(handle.base, static_cast<std::size_t>(offset), static_cast<std::size_t>(end));
}

namespace {

// libtiff's default handlers print a line in three writes; this prints it in
// one, after the handle's prefix, and leaves the message in text.
void PrintMessage(const TiffMessages& messages, char (&text)[1024], const char* module, const char* warning,
                  const char* fmt, va_list ap) {
  std::vsnprintf(text, sizeof text, fmt, ap);
  const char* prefix = messages.prefix != nullptr ? messages.prefix : "";
  char line[2048];
  const int n = std::snprintf(line, sizeof line, "%s%s%s%s%s%s.\n", prefix, *prefix != '\0' ? ": " : "",
                              module != nullptr ? module : "", module != nullptr ? ": " : "", warning, text);
  WriteText(2, line, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof line) - 1)));
}

// Both return 1, handled: libtiff's global handlers stay silent.
int PrintError(TIFF* /*tif*/, void* data, const char* module, const char* fmt, va_list ap) {
  char text[1024];
  PrintMessage(*static_cast<TiffMessages*>(data), text, module, "", fmt, ap);
  std::string& first = static_cast<TiffMessages*>(data)->firstError;
  try {  // nothing may leave a handler that libtiff, in C, calls
    if (first.empty()) first = text;
  } catch (const std::exception&) {
  }
  return 1;
}

int PrintWarning(TIFF* /*tif*/, void* data, const char* module, const char* fmt, va_list ap) {
  const auto& messages = *static_cast<TiffMessages*>(data);
  if (messages.quiet.load(std::memory_order_relaxed)) return 1;
  char text[1024];
  PrintMessage(messages, text, module, "Warning, ", fmt, ap);
  return 1;
}

struct OptionsFreer {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

}  // namespace

const char* PrefixOf(TIFF* tif) {
  if (TIFFGetReadProc(tif) != Read) return nullptr;
  const TiffMessages* messages = Of(TIFFClientdata(tif)).messages;
  return messages != nullptr ? messages->prefix : nullptr;
}

std::string TakeTiffError(TIFF* tif) {
  std::string error;
  // Only a handle made here (not one over memory, say) has messages.
  if (TIFFGetReadProc(tif) != Read) return error;
  TiffMessages* messages = Of(TIFFClientdata(tif)).messages;
  if (messages != nullptr) error.swap(messages->firstError);
  return error;
}

TIFF* OpenTiffOnFd(int fd, const char* name, const char* mode, TiffMessages* messages) {
  const std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t{256} << 20U);
  if (messages != nullptr) {
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), PrintError, messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), PrintWarning, messages);
  }
  // Never throws: helper threads open handles too.
  std::unique_ptr<Handle> handle(new (std::nothrow) Handle{fd, 0, 0, nullptr, PageWriter(fd), messages});
  // libtiff takes a seek to the end that fails for offset 0, and would write
  // its directory over the header: the size is taken once, here.
  if (!handle || !RegularFileSize(fd, handle->end)) return nullptr;
  TIFF* tif = TIFFClientOpenExt(name, mode, handle.get(), Read, Write, Seek, Close, Size, Map, Unmap, options.get());
  if (tif != nullptr) (void)handle.release();  // TIFFClose frees it through Close
  return tif;
}
