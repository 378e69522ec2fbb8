// A TIFF file held in memory, for libtiff's TIFFClientOpen.
#ifndef ZOLT_FUZZ_MEMTIFF_H
#define ZOLT_FUZZ_MEMTIFF_H

#include <cstdint>
#include <vector>

#include <tiffio.h>

struct MemFile {
  std::vector<std::uint8_t> bytes;
  std::uint64_t pos = 0;
};

// Opens file in mode ("r", "rm", "w") with libtiff; null on failure.
TIFF* OpenMemTiff(MemFile& file, const char* mode);

// Silences libtiff's warning and error handlers: damaged input is expected.
void QuietTiff();

#endif
