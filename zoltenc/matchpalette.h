#ifndef ZOLT_ZOLTENC_MATCHPALETTE_H
#define ZOLT_ZOLTENC_MATCHPALETTE_H

// The stage of zoltenc --palette, after decoding: every pixel's colour,
// reduced to 6 bits per component by the reader's rules, becomes the index
// of the entry of a given palette that has that colour.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "files.h"
#include "messages.h"
#include "zoltfile.h"

class PaletteMatch {
 public:
  // Builds the map from every 6-bit colour to the lowest index of palette
  // with it (2^18 entries, 512 KiB), marking the colours that several
  // entries have. Throws std::bad_alloc when there is no memory for it.
  explicit PaletteMatch(const ZoltPalette& palette);

  const ZoltPalette& Palette() const { return palette_; }

  // For an image of indices whose colours are the entries of source: each
  // index gets the entry with its colour, or, with keepOwn, itself where its
  // own entry has that colour.
  void MatchIndicesOf(const ZoltPalette& source, bool keepOwn);
  // Replaces count indices, of pixels first to first + count - 1, by theirs.
  // Safe from several threads at once.
  void MapIndices(std::uint64_t first, std::uint8_t* pixels, std::size_t count);
  // Writes to dst the index of each of count pixels, of pixels first on,
  // whose red, green and blue are samples 0, 1 and 2 of step samples of bits
  // (8 or 16) bits each at planes[0], or with three planes, the first sample
  // of each. Safe from several threads at once.
  void MapColours(std::uint64_t first, const std::uint8_t* const planes[3], std::size_t planeCount,
                  std::size_t step, unsigned bits, std::size_t count, std::uint8_t* dst);

  // Pixels with no entry of their colour (the first of them, its colour),
  // and pixels whose colour several entries have.
  struct Found {
    std::uint64_t missing = 0;
    std::uint64_t firstMissing = ~std::uint64_t{0};
    std::uint8_t colour[3] = {};
    std::uint64_t several = 0;
  };
  Found Result();
  // The entry nearest colour: the lowest index at the least distance.
  unsigned Nearest(const std::uint8_t colour[3]) const;

 private:
  static constexpr std::uint16_t kSeveral = 0x100;
  static constexpr std::uint16_t kNone = 0xFFFF;
  static std::uint32_t Key(unsigned r, unsigned g, unsigned b) { return (r << 12U) | (g << 6U) | b; }
  // Adds what one call found.
  void Add(const Found& found);

  ZoltPalette palette_;
  std::unique_ptr<std::uint16_t[]> table_;  // by Key: index | kSeveral, or kNone
  std::uint16_t indices_[256] = {};         // MatchIndicesOf's, likewise
  ZoltPalette source_{};
  std::mutex mutex_;
  Found found_;  // under mutex_
};

// Reads the palette of the whole ZOLT file at path ("-": standard input),
// which must not be the input being converted (inputPath, input).
Outcome ReadPaletteFile(const char* path, const char* inputPath, const FileId& input, ZoltPalette& palette);

// The line that says which pixels found no entry, for the detail of the
// refusal; palette names the file the palette came from.
std::string MissingColours(const PaletteMatch::Found& found, const PaletteMatch& match, std::uint32_t width,
                           const std::string& palette);

#endif
