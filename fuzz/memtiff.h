// A TIFF file held in memory, for libtiff's TIFFClientOpen, and an image
// collected in memory from ReadData.
#ifndef ZOLT_FUZZ_MEMTIFF_H
#define ZOLT_FUZZ_MEMTIFF_H

#include <atomic>
#include <cstdint>
#include <vector>

#include <tiffio.h>

#include "readdata.h"
#include "resources.h"

struct MemFile {
  std::vector<std::uint8_t> bytes;
  std::uint64_t pos = 0;
};

// Opens file in mode ("r", "rm", "w") with libtiff; null on failure.
TIFF* OpenMemTiff(MemFile& file, const char* mode);

// Silences libtiff's warning and error handlers: damaged input is expected.
void QuietTiff();

// Collects what ReadData hands on into a width x height buffer, from any
// number of threads. A piece outside the image fails (and is remembered);
// written counts the bytes put, so an image whose every pixel came exactly
// once has written == size.
struct VectorSink : PixelSink {
  explicit VectorSink(std::size_t size) : pixels(size) {}
  bool Put(std::uint64_t first, const std::uint8_t* data, std::size_t count) override;
  std::vector<std::uint8_t> pixels;
  std::atomic<std::uint64_t> written{0};
  std::atomic<bool> outside{false};
};

// Counts what ReadData hands on without keeping it, for images of any size:
// a piece outside the image fails (and is remembered). Past budget pixels it
// stops the decoding, to keep each input quick.
struct CountingSink : PixelSink {
  CountingSink(std::uint64_t size, std::uint64_t budget) : size(size), budget(budget) {}
  bool Put(std::uint64_t first, const std::uint8_t* data, std::size_t count) override;
  std::uint64_t size;
  std::uint64_t budget;
  std::atomic<std::uint64_t> written{0};
  std::atomic<bool> outside{false};
};

// Checks what InspectTiff and ReadData make of an open TIFF: an accepted
// image fits a ZOLT header, every piece lies inside it, and a finished read
// put every pixel exactly once. Aborts otherwise. fd, when not -1, lets
// ReadData open more handles on the file.
void CheckTiffRead(TIFF* tif, int fd);

// A finding: says what on standard error and aborts, for libFuzzer to report.
[[noreturn]] void Fail(const char* what);

#endif
