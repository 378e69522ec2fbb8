#include "memtiff.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// Writes go no further than this, so that a wild offset cannot exhaust memory.
constexpr std::uint64_t kMaxSize = 1ULL << 30;

MemFile& File(thandle_t handle) { return *static_cast<MemFile*>(handle); }

tmsize_t Read(thandle_t handle, void* buffer, tmsize_t size) {
  MemFile& f = File(handle);
  if (size < 0) return -1;
  const std::uint64_t avail = f.pos < f.bytes.size() ? f.bytes.size() - f.pos : 0;
  const std::size_t n = std::min<std::uint64_t>(avail, static_cast<std::uint64_t>(size));
  if (n > 0) std::memcpy(buffer, f.bytes.data() + f.pos, n);
  f.pos += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t Write(thandle_t handle, void* buffer, tmsize_t size) {
  MemFile& f = File(handle);
  if (size < 0 || f.pos > kMaxSize || static_cast<std::uint64_t>(size) > kMaxSize - f.pos) return -1;
  const std::uint64_t end = f.pos + static_cast<std::uint64_t>(size);
  if (end > f.bytes.size()) f.bytes.resize(end);
  if (size > 0) std::memcpy(f.bytes.data() + f.pos, buffer, static_cast<std::size_t>(size));
  f.pos = end;
  return size;
}

toff_t Seek(thandle_t handle, toff_t offset, int whence) {
  MemFile& f = File(handle);
  const std::uint64_t base = whence == SEEK_CUR ? f.pos : whence == SEEK_END ? f.bytes.size() : 0;
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return static_cast<toff_t>(-1);
  // libtiff passes negative offsets as their two's complement.
  f.pos = base + offset;
  return f.pos;
}

int Close(thandle_t /*handle*/) { return 0; }
toff_t Size(thandle_t handle) { return File(handle).bytes.size(); }
int Map(thandle_t /*handle*/, void** /*base*/, toff_t* /*size*/) { return 0; }
void Unmap(thandle_t /*handle*/, void* /*base*/, toff_t /*size*/) {}
}  // namespace

TIFF* OpenMemTiff(MemFile& file, const char* mode) {
  return TIFFClientOpen("memory", mode, &file, Read, Write, Seek, Close, Size, Map, Unmap);
}

void QuietTiff() {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
}

bool VectorSink::Put(std::uint64_t first, const std::uint8_t* data, std::size_t count) {
  if (first > pixels.size() || count > pixels.size() - first) {
    outside = true;
    return false;
  }
  std::memcpy(pixels.data() + first, data, count);
  written += count;
  return true;
}

bool CountingSink::Put(std::uint64_t first, const std::uint8_t* /*data*/, std::size_t count) {
  if (first > size || count > size - first) {
    outside = true;
    return false;
  }
  return (written += count) <= budget;
}

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

namespace {

// A few bytes can describe a large image whose strips all decode from
// repeated data: legitimate, and bounded in memory, but slow under the
// sanitizers. Decoding stops past this many pixels.
constexpr std::uint64_t kPixelBudget = std::uint64_t{1} << 24U;
}  // namespace

void CheckTiffRead(TIFF* tif, int fd) {
  ZoltPalette palette{};
  TiffImage image;
  Notes notes;
  if (InspectTiff(tif, palette, image, notes)) return;
  if (image.width < 1 || image.height < 1 || image.width > std::uint32_t{kZoltMaxSide} || image.height > std::uint32_t{kZoltMaxSide}) {
    Fail("accepted an image of a size it cannot hold");
  }
  const std::uint64_t count = std::uint64_t{image.width} * image.height;
  CountingSink sink(count, kPixelBudget);
  const Outcome fault = ReadData(tif, image, sink, fd, 1);
  if (sink.outside) Fail("a piece outside the image");
  if (!fault && sink.written != count) Fail("pixels missing or written twice");
}
