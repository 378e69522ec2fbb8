// Test TIFF files made with libtiff, and the pixels and palette a correct
// reader must get from them.
#ifndef ZOLT_TESTS_TIFFGEN_H
#define ZOLT_TESTS_TIFFGEN_H

#include <cstdint>
#include <string>
#include <vector>

#include <tiffio.h>

#include "messages.h"
#include "zoltfile.h"

// Whether these tests are built for Windows.
#ifdef _WIN32
constexpr bool kWindowsBuild = true;
#else
constexpr bool kWindowsBuild = false;
#endif

struct TiffSpec {
  std::uint32_t width = 23;
  std::uint32_t height = 17;
  std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  std::uint16_t samples = 1;
  std::uint16_t bits = 8;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  std::uint16_t compression = COMPRESSION_NONE;
  std::uint16_t predictor = PREDICTOR_NONE;
  std::uint16_t fillOrder = FILLORDER_MSB2LSB;
  std::uint32_t rowsPerStrip = 5;
  std::uint32_t tile = 0;    // tiles of tile x tile pixels instead of strips
  const char* mode = "wl";   // "wb": big-endian, "w8l": BigTIFF; never the host's order
  int pages = 1;
};

// The value of sample s of pixel (x, y) on a page (8-bit; images of fewer
// bits keep its low bits).
std::uint8_t TestSample(std::uint32_t x, std::uint32_t y, unsigned s, int page);

// The colour map of paletted test images: entry i is (i * 257, (255 - i) * 257, (i * 97 % 256) * 257).
std::uint16_t TestColour(unsigned channel, unsigned i);

void WriteTestTiff(const std::string& path, const TiffSpec& spec);
// The default spec with edit's changes, for the tables' rows.
TiffSpec With(void (*edit)(TiffSpec&));
// Writes page page of spec, as WriteTestTiff does for each, to an open TIFF.
void WritePage(TIFF* tif, const TiffSpec& spec, int page);

// The first sample of every pixel of the image a reader converts (the second
// page of a multi-page file).
std::vector<std::uint8_t> ExpectedPixels(const TiffSpec& spec);
// The first sample of every pixel as libtiff's own RGBA interface decodes
// the file's image of spec's size: what a reader must get from lossy data.
std::vector<std::uint8_t> DecodedPixels(const std::string& path, const TiffSpec& spec);
ZoltPalette ExpectedPalette(const TiffSpec& spec);

// Overwrites a strip's (or tile's) data after its first two bytes with 0xFF.
void CorruptStrip(const std::string& path, std::uint32_t strip = 0);

// Sets a tag of the first directory of a classic little-endian TIFF to a
// 32-bit value, whatever libtiff would allow a writer to store.
void PatchTag(const std::string& path, std::uint16_t tag, std::uint32_t value);

// Moves the first directory of a little-endian TIFF or BigTIFF to offset
// (past 2 GiB, or for a BigTIFF past 4 GiB), leaving a hole before it: a
// large file that takes no space.
void MoveDirectory(const std::string& path, std::uint64_t offset);

// A large 8-bit grey image of zeros, quick to make: every strip (or tile)
// is the same PackBits data written raw. rowsPerStrip 0 gives tiles of tile
// x tile pixels instead; samples 2 adds an alpha sample.
void WriteZeroTiff(const std::string& path, std::uint32_t side, std::uint16_t samples, std::uint32_t rowsPerStrip,
                   std::uint32_t tile);

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// With ZOLT_SEED_DIR set, keeps a copy of a test input of at most 64 KiB as
// a fuzzing seed, $ZOLT_SEED_DIR/kind/name.
void SaveSeed(const char* kind, const std::string& name, const std::string& path);

// A fresh empty directory, removed with everything in it at exit.
std::string TempDir();

// Sets, or with a null value removes, a variable of this process's environment.
void SetEnvironment(const char* name, const char* value);

// What a failing run leaves on standard error: the lines before (which may
// hold $IN and the like), then the program's fixed message for failure, with
// the sizes it holds. Kept for the whole run, as the tests' tables need.
const char* Err(Failure failure, const char* before = "", long long width = 0, long long height = 0);

#endif
