#include "readdata.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <cstdint>
#include <cstring>

#include "matchpalette.h"
#include "messages.h"
#include "process.h"
#include "resources.h"
#include "tiffhandle.h"

namespace {

// A strip or tile whose compressed data is larger than this is not read whole
// (strips are then decoded a row at a time).
constexpr std::uint64_t kRawLimit = 2 * kBandBytes;

// Copies the first sample of count pixels from a decoded row to one byte
// each: every step-th byte with 8 bits per sample (step 2 takes the first of
// each interleaved pair), or, with 1, 2 or 4 bits, each value unpacked from
// its byte, the first pixel in the high bits.
void CopySamples(std::uint8_t* dst, const std::uint8_t* src, std::size_t count, std::size_t step, unsigned bits) {
  if (bits == 8 && step == 1) {
    std::memcpy(dst, src, count);
  } else if (bits == 8) {
    for (std::size_t k = 0; k < count; ++k) dst[k] = src[k * step];
  } else {
    const unsigned mask = (1U << bits) - 1;
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t bit = k * bits;
      dst[k] = static_cast<std::uint8_t>((src[bit / 8] >> (8 - bits - bit % 8)) & mask);
    }
  }
}

// Whether strip or tile n is stored at all. libtiff reads uncompressed data at offset 0 (the file header) for a
// strip or tile whose entries are missing or zero; such data is missing,
// never valid.
bool Stored(TIFF* tif, std::uint32_t n) {
  return TIFFGetStrileOffset(tif, n) != 0 && TIFFGetStrileByteCount(tif, n) != 0;
}

// Consecutive rows of the image waiting to be handed to the sink in one run.
class Band {
 public:
  // match, where given, maps the band's indices before they are handed on.
  Band(PixelSink& sink, std::uint32_t width, std::uint32_t capacityRows, PaletteMatch* match)
      : sink_(sink), width_(width), capacity_(capacityRows), match_(match),
        buffer_(AllocTiffBuffer(std::size_t{width} * capacityRows + kCopyAlignment)) {}

  bool Allocated() const { return buffer_ != nullptr; }
  bool SinkFailed() const { return sinkFailed_; }
  std::uint32_t Capacity() const { return capacity_; }

  // Room for rows row to row + count - 1 (count at most Capacity()); what the
  // band held is handed on first when they would not fit after it. Null when
  // the sink failed.
  std::uint8_t* Rows(std::uint32_t row, std::uint32_t count) {
    if (rows_ > 0 && (row != first_ + rows_ || rows_ + count > capacity_) && !Flush()) return nullptr;
    if (rows_ == 0) {
      // Lined up with where the band goes in the output, and with where an
      // uncompressed strip of a file written in the same order comes from.
      first_ = row;
      start_ = AlignedFor(buffer_.get(), sink_.Origin() + std::uint64_t{row} * width_);
    }
    std::uint8_t* start = start_ + std::size_t{width_} * rows_;
    rows_ += count;
    return start;
  }

  bool Flush() {
    if (rows_ == 0) return true;
    const std::uint64_t first = std::uint64_t{first_} * width_;
    if (match_ != nullptr) match_->MapIndices(first, start_, std::size_t{width_} * rows_);
    if (!sink_.Put(first, start_, std::size_t{width_} * rows_)) {
      sinkFailed_ = true;
      return false;
    }
    rows_ = 0;
    return true;
  }

 private:
  PixelSink& sink_;
  std::uint32_t width_;
  std::uint32_t capacity_;
  PaletteMatch* match_;
  TiffBuffer buffer_;
  std::uint8_t* start_ = nullptr;  // where the band's first row is
  std::uint32_t first_ = 0;
  std::uint32_t rows_ = 0;
  bool sinkFailed_ = false;
};

// How the image splits into units of work, each a run of whole rows decoded
// and handed on by one thread: a few strips that fill a band, one strip
// larger than a band, or one row of tiles.
struct Plan {
  std::uint32_t unitRows;  // rows per unit; the last may have fewer
  std::uint32_t bandRows;  // rows a band holds
  std::uint32_t units;
};

Plan MakePlan(const TiffImage& image) {
  Plan plan{};
  if (image.tiled) {
    plan.unitRows = std::min(image.tileLength, image.height);
    plan.bandRows = plan.unitRows;
  } else {
    const auto cap = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(kBandBytes / image.width, 1, image.height));
    plan.unitRows = image.rowsPerStrip <= cap ? cap / image.rowsPerStrip * image.rowsPerStrip : image.rowsPerStrip;
    plan.bandRows = std::min(plan.unitRows, cap);
  }
  plan.units = (image.height - 1) / plan.unitRows + 1;
  return plan;
}

// Another handle on the same image, in mode "rmh" (the file's header, then
// straight to the image's directory) or "r" (libtiff maps the file only once
// it has read the first directory). Quiet while it is opened: the first
// handle has already said what there is to say about the file.
TiffPtr OpenAnotherHandle(TIFF* tif, const TiffImage& image, int fd, const char* mode, TiffMessages& messages) {
  messages.quiet = true;
  messages.prefix = PrefixOf(tif);
  TiffPtr handle(OpenTiffOnFd(fd, TIFFFileName(tif), mode, &messages));
  const bool headerOnly = std::strchr(mode, 'h') != nullptr;
  if (handle && (headerOnly || TIFFCurrentDirOffset(handle.get()) != image.directory) &&
      TIFFSetSubDirectory(handle.get(), image.directory) != 1) {
    handle.reset();
  }
  // The same bytes give the same image; anything else is not used.
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (handle && (TIFFGetField(handle.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
                 TIFFGetField(handle.get(), TIFFTAG_IMAGELENGTH, &height) != 1 || width != image.width ||
                 height != image.height || (TIFFIsTiled(handle.get()) != 0) != image.tiled)) {
    handle.reset();
  }
  messages.quiet = false;
  return handle;
}

// Decodes units with one libtiff handle into its own band and scratch space.
class Worker {
 public:
  Worker(TIFF* tif, int fd, const TiffImage& image, const Plan& plan, PixelSink& sink, PaletteMatch* match)
      : tif_(tif), fd_(fd), image_(image), plan_(plan), match_(match),
        band_(sink, image.width, plan.bandRows, image.colour ? nullptr : match),
        // Tiles decode into one tile, of each plane read; two interleaved
        // samples, samples of fewer than 8 bits, and colours, into one row.
        scratchSize_(image.tiled ? TIFFTileSize(tif) : !image.Direct() ? TIFFScanlineSize(tif) : 0) {
    for (std::uint16_t p = 0; p < image.planes && scratchSize_ > 0; ++p) {
      scratch_[p] = AllocTiffBuffer(static_cast<std::size_t>(scratchSize_));
    }
  }

  bool Allocated() const {
    const bool needsScratch = image_.tiled || !image_.Direct();
    bool allocated = band_.Allocated();
    for (std::uint16_t p = 0; p < image_.planes; ++p) allocated = allocated && (!needsScratch || scratch_[p] != nullptr);
    return allocated;
  }

  // Decodes unit u and hands it on: kReadImage where the data fails,
  // kWriteOutput where the sink does. Gives up early, with any result, once
  // stop falls below u: an earlier unit has failed, so this one no longer
  // matters.
  Outcome Unit(std::uint32_t u, const std::atomic<std::uint32_t>& stop) {
    // What libtiff said before this unit is not why it fails.
    (void)TakeErrors();
    const bool ok = image_.tiled ? TileRow(u, stop) : Strips(u, stop);
    if (ok && band_.Flush()) return {};
    if (band_.SinkFailed()) return Failure::kWriteOutput;
    const std::string why = TakeErrors();
    return Fault(Failure::kReadImage, DisplayName(TIFFFileName(tif_), false),
                 why.empty() ? "a strip or tile is missing or cannot be decoded" : why);
  }

 private:
  // Strips of the planes read: each whole into the band where it fits,
  // otherwise a row at a time.
  bool Strips(std::uint32_t u, const std::atomic<std::uint32_t>& stop) {
    const std::uint32_t top = u * plan_.unitRows;
    const std::uint32_t end = top + std::min(plan_.unitRows, image_.height - top);
    for (std::uint32_t row = top; row < end; row += image_.rowsPerStrip) {
      const std::uint32_t rows = std::min(image_.rowsPerStrip, image_.height - row);
      const std::uint32_t strip = TIFFComputeStrip(tif_, row, 0);
      for (std::uint16_t p = 0; p < image_.planes; ++p) {
        if (!Stored(tif_, TIFFComputeStrip(tif_, row, p))) return false;
      }
      const bool whole = image_.Direct() && rows <= band_.Capacity() && TIFFGetStrileByteCount(tif_, strip) <= kRawLimit;
      if (!(whole ? WholeStrip(strip, row, rows) : StripByRows(row, rows, u, stop))) return false;
    }
    return true;
  }

  // A strip of pixels that fits in the band, decoded straight into it.
  bool WholeStrip(std::uint32_t strip, std::uint32_t row, std::uint32_t rows) {
    std::uint8_t* dst = band_.Rows(row, rows);
    const auto size = static_cast<tmsize_t>(std::size_t{rows} * image_.width);
    if (dst == nullptr) return false;
    return Decode(strip, dst, size);
  }

  // A larger strip, or one of two interleaved samples, of fewer than 8 bits
  // or of colours, a row at a time, each band handed on as it fills.
  bool StripByRows(std::uint32_t row, std::uint32_t rows, std::uint32_t u, const std::atomic<std::uint32_t>& stop) {
    // libtiff holds a whole compressed strip to decode it a row at a time:
    // taken from a mapping of the file, whose pages are let go band by band.
    // Each plane of colours is read through a handle of its own, so that
    // each decodes its strips in order.
    TIFF* handles[3] = {};
    for (std::uint16_t p = 0; p < image_.planes; ++p) handles[p] = image_.compressed ? Mapped(p) : tif_;
    const bool direct = image_.Direct();
    if (!direct && static_cast<std::uint64_t>(scratchSize_) < image_.RowBytes(image_.width)) return false;
    for (std::uint32_t r = row; r < row + rows; ++r) {
      std::uint8_t* dst = band_.Rows(r, 1);
      if (dst == nullptr || stop.load(std::memory_order_relaxed) < u) return false;
      for (std::uint16_t p = 0; p < image_.planes; ++p) {
        if (TIFFReadScanline(handles[p], direct ? dst : scratch_[p].get(), r, p) != 1) return false;
      }
      if (!direct) Convert(dst, 0, std::uint64_t{r} * image_.width, image_.width);
      if ((r - row) % plan_.bandRows == plan_.bandRows - 1) {
        for (std::uint16_t p = 0; p < image_.planes; ++p) {
          if (handles[p] == tif_) continue;
          const std::uint32_t strip = TIFFComputeStrip(handles[p], r, p);
          ReleaseMappedPages(handles[p], TIFFGetStrileOffset(handles[p], strip), TIFFGetStrileByteCount(handles[p], strip));
        }
      }
    }
    return true;
  }

  // One row of tiles of the planes read; edge tiles that stick out of the
  // image are clipped.
  bool TileRow(std::uint32_t u, const std::atomic<std::uint32_t>& stop) {
    // Bytes from one row of a tile to the next.
    const std::uint64_t stride = image_.RowBytes(image_.tileWidth);
    if (static_cast<std::uint64_t>(scratchSize_) < stride * image_.tileLength) return false;
    const std::uint64_t tileRaw = 2 * static_cast<std::uint64_t>(scratchSize_) + kBandBytes;
    const std::uint32_t y = u * plan_.unitRows;
    const std::uint32_t rows = std::min(image_.tileLength, image_.height - y);
    std::uint8_t* dst = band_.Rows(y, rows);
    if (dst == nullptr) return false;
    for (std::uint32_t x = 0; x < image_.width; x += std::min(image_.tileWidth, image_.width - x)) {
      if (stop.load(std::memory_order_relaxed) < u) return false;
      for (std::uint16_t p = 0; p < image_.planes; ++p) {
        const std::uint32_t tile = TIFFComputeTile(tif_, x, y, 0, p);
        if (!Stored(tif_, tile) || TIFFGetStrileByteCount(tif_, tile) > tileRaw ||
            !Decode(tile, scratch_[p].get(), scratchSize_)) {
          return false;
        }
      }
      const std::uint32_t cols = std::min(image_.tileWidth, image_.width - x);
      for (std::uint32_t r = 0; r < rows; ++r) {
        Convert(dst + std::size_t{r} * image_.width + x, r * stride, std::uint64_t{y + r} * image_.width + x, cols);
      }
    }
    return true;
  }

  // Turns count decoded pixels, at offset in each plane's scratch space,
  // into one byte each at dst: pixel first on of the image.
  void Convert(std::uint8_t* dst, std::size_t offset, std::uint64_t first, std::size_t count) {
    if (!image_.colour) {
      CopySamples(dst, scratch_[0].get() + offset, count, image_.step, image_.bits);
      return;
    }
    const std::uint8_t* planes[3] = {};
    for (std::uint16_t p = 0; p < image_.planes; ++p) planes[p] = scratch_[p].get() + offset;
    match_->MapColours(first, planes, image_.planes, image_.step, image_.bits, count, dst);
  }

  // Decodes strip or tile n, whole, into size bytes at buffer.
  bool Decode(std::uint32_t n, std::uint8_t* buffer, tmsize_t size) const {
    // libtiff's Deflate decoder, when it decodes a whole strip or tile with
    // libdeflate, reports success for data that decodes to more than the
    // strip or tile holds, having written only part of it; the rest of the
    // buffer would carry whatever memory held before. Zero, it is the same
    // on every run, thread count and host.
    if (image_.compressed) std::memset(buffer, 0, static_cast<std::size_t>(size));
    return (image_.tiled ? TIFFReadEncodedTile : TIFFReadEncodedStrip)(tif_, n, buffer, size) == size;
  }

  // libtiff's first error on this worker's handles since the last call.
  std::string TakeErrors() {
    std::string why = TakeTiffError(tif_);
    for (const TiffPtr& handle : mapped_) {
      if (!handle) continue;
      std::string more = TakeTiffError(handle.get());
      if (why.empty()) why.swap(more);
    }
    return why;
  }

  // A handle for plane p that maps the file, opened on first use; this
  // worker's own handle where none can be had.
  TIFF* Mapped(std::uint16_t p) {
    if (!mapped_[p] && fd_ >= 0 && !mappedTried_[p]) {
      mapped_[p] = OpenAnotherHandle(tif_, image_, fd_, "r", mappedMessages_[p]);
    }
    mappedTried_[p] = true;
    return mapped_[p] ? mapped_[p].get() : tif_;
  }

  TIFF* tif_;
  int fd_;
  TiffMessages mappedMessages_[3];
  TiffPtr mapped_[3];
  bool mappedTried_[3] = {};
  const TiffImage& image_;
  const Plan& plan_;
  PaletteMatch* match_;
  Band band_;
  tmsize_t scratchSize_;
  TiffBuffer scratch_[3];
};

// Hands out units in order from the top and keeps the failure of the
// earliest unit that failed, so that the outcome never depends on which
// thread got there first.
class Units {
 public:
  explicit Units(std::uint32_t count) : count_(count) {}

  // Runs worker over units until none is left or an earlier one failed.
  void Work(Worker& worker) {
    for (;;) {
      const std::uint32_t u = next_.fetch_add(1);
      if (u >= count_ || u > stop_.load()) return;
      // An interrupted run stops the file at the next unit.
      if (Outcome result = Interrupted() != 0 ? Outcome(Failure::kInterrupted) : worker.Unit(u, stop_)) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (u < stop_.load()) {
          stop_.store(u);
          result_ = result;
        }
      }
    }
  }

  const Outcome& Result() const { return result_; }

 private:
  std::uint32_t count_;
  std::atomic<std::uint32_t> next_{0};
  std::atomic<std::uint32_t> stop_{UINT32_MAX};  // the earliest failed unit
  std::mutex mutex_;
  Outcome result_;  // written under mutex_, read after every worker ended
};

}  // namespace

Outcome ReadData(TIFF* tif, const TiffImage& image, PixelSink& sink, int fd, unsigned threads, PaletteMatch* match) {
  const Plan plan = MakePlan(image);
  Worker first(tif, fd, image, plan, sink, match);
  if (!first.Allocated()) return Failure::kAllocate;
  // Uncompressed data only needs copying, which one thread does as fast as
  // the memory allows.
  const unsigned total = std::max(1U, std::min({threads, kMaxThreads, plan.units}));
  const unsigned helpers = image.compressed && fd >= 0 ? total - 1 : 0;
  Units units(plan.units);
  std::vector<std::thread> pool;
  // A helper that cannot start, or get a handle or memory, leaves its share
  // to the others.
  try {
    pool.reserve(helpers);
    for (unsigned i = 0; i < helpers; ++i) {
      pool.emplace_back([&] {
        TiffMessages messages;
        const TiffPtr handle = OpenAnotherHandle(tif, image, fd, "rmh", messages);
        if (!handle) return;
        Worker worker(handle.get(), fd, image, plan, sink, match);
        if (worker.Allocated()) units.Work(worker);
      });
    }
  } catch (const std::exception&) {  // std::system_error, std::bad_alloc
  }
  units.Work(first);
  for (std::thread& t : pool) t.join();
  return units.Result();
}
