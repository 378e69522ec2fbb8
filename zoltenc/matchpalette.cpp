#include "matchpalette.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "input.h"
#include "zoltreader.h"

PaletteMatch::PaletteMatch(const ZoltPalette& palette) : palette_(palette), table_(new std::uint16_t[1U << 18U]) {
  std::fill_n(table_.get(), 1U << 18U, kNone);
  // From the top down, so that the lowest index with a colour is the one kept.
  for (std::size_t i = 256; i-- > 0;) {
    const std::uint8_t* rgb = &palette.rgb[3 * i];
    std::uint16_t& entry = table_[Key(rgb[0] & 63U, rgb[1] & 63U, rgb[2] & 63U)];
    entry = static_cast<std::uint16_t>(i | (entry != kNone ? kSeveral : 0U));
  }
}

void PaletteMatch::MatchIndicesOf(const ZoltPalette& source, bool keepOwn) {
  source_ = source;
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint8_t* rgb = &source.rgb[3 * i];
    std::uint16_t entry = table_[Key(rgb[0] & 63U, rgb[1] & 63U, rgb[2] & 63U)];
    if (keepOwn && entry != kNone && std::memcmp(rgb, &palette_.rgb[3 * i], 3) == 0) {
      entry = static_cast<std::uint16_t>(i | (entry & kSeveral));
    }
    indices_[i] = entry;
  }
}

void PaletteMatch::Add(const Found& found) {
  if (found.missing == 0 && found.several == 0) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  found_.several += found.several;
  found_.missing += found.missing;
  if (found.firstMissing < found_.firstMissing) {
    found_.firstMissing = found.firstMissing;
    std::memcpy(found_.colour, found.colour, 3);
  }
}

void PaletteMatch::MapIndices(std::uint64_t first, std::uint8_t* pixels, std::size_t count) {
  Found found;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint16_t entry = indices_[pixels[k]];
    if (entry == kNone) {
      if (found.missing++ == 0) {
        found.firstMissing = first + k;
        std::memcpy(found.colour, &source_.rgb[3 * std::size_t{pixels[k]}], 3);
      }
      continue;
    }
    found.several += (entry & kSeveral) != 0 ? 1 : 0;
    pixels[k] = static_cast<std::uint8_t>(entry);
  }
  Add(found);
}

void PaletteMatch::MapColours(std::uint64_t first, const std::uint8_t* const planes[3], std::size_t planeCount,
                              std::size_t step, unsigned bits, std::size_t count, std::uint8_t* dst) {
  // Sample s of pixel k, reduced to 6 bits: 8-bit samples shifted right by
  // 2, 16-bit ones (in the host's order, as libtiff decodes them) by 10.
  const auto sample = [&](std::size_t k, unsigned s) -> unsigned {
    const std::uint8_t* plane = planeCount > 1 ? planes[s] : planes[0];
    const std::size_t at = planeCount > 1 ? k * step : k * step + s;
    if (bits == 8) return plane[at] >> 2U;
    std::uint16_t value = 0;
    std::memcpy(&value, plane + 2 * at, 2);
    return value >> 10U;
  };
  Found found;
  for (std::size_t k = 0; k < count; ++k) {
    const unsigned r = sample(k, 0);
    const unsigned g = sample(k, 1);
    const unsigned b = sample(k, 2);
    const std::uint16_t entry = table_[Key(r, g, b)];
    if (entry == kNone) {
      if (found.missing++ == 0) {
        found.firstMissing = first + k;
        found.colour[0] = static_cast<std::uint8_t>(r);
        found.colour[1] = static_cast<std::uint8_t>(g);
        found.colour[2] = static_cast<std::uint8_t>(b);
      }
      dst[k] = 0;
      continue;
    }
    found.several += (entry & kSeveral) != 0 ? 1 : 0;
    dst[k] = static_cast<std::uint8_t>(entry);
  }
  Add(found);
}

PaletteMatch::Found PaletteMatch::Result() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return found_;
}

unsigned PaletteMatch::Nearest(const std::uint8_t colour[3]) const {
  unsigned best = 0;
  int bestDistance = 1 << 30;
  for (unsigned i = 0; i < 256; ++i) {
    int distance = 0;
    for (unsigned k = 0; k < 3; ++k) {
      const int d = (palette_.rgb[3 * i + k] & 63) - colour[k];
      distance += d * d;
    }
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

std::string MissingColours(const PaletteMatch::Found& found, const PaletteMatch& match, std::uint32_t width,
                           const std::string& palette) {
  const auto colour = [](const std::uint8_t* rgb) {
    return "(" + std::to_string(rgb[0] & 63) + ", " + std::to_string(rgb[1] & 63) + ", " + std::to_string(rgb[2] & 63) + ")";
  };
  const unsigned nearest = match.Nearest(found.colour);
  return std::to_string(found.missing) + (found.missing == 1 ? " pixel has a colour" : " pixels have colours") +
         " that the palette of " + palette + " lacks; the first, at x " + std::to_string(found.firstMissing % width) +
         ", y " + std::to_string(found.firstMissing / width) + ", is " + colour(found.colour) +
         " in 6 bits, and the nearest entry is " + std::to_string(nearest) + " " +
         colour(&match.Palette().rgb[3 * std::size_t{nearest}]);
}

Outcome ReadPaletteFile(const char* path, const char* inputPath, const FileId& input, ZoltPalette& palette) {
  const char* name = DisplayName(path, false);
  errno = 0;
  FilePtr file = OpenStreamInput(path);
  FileId id;
  if (!file || !IdentifyFile(fileno(file.get()), id)) {
    return Fault(Failure::kOpenZolt, name, "the palette file: " + OpenFailure(errno, path, false));
  }
  const bool standard = std::strcmp(path, "-") == 0;
  if (standard ? std::strcmp(inputPath, "-") == 0 : (id.inode != 0 && id == input)) return Failure::kPaletteIsInput;
  ZoltReader reader(file.get(), name);
  ZoltHeader header{};
  Outcome fault = reader.Header(header);
  if (!fault) fault = reader.SkipRows(ZoltPixelCount(header));
  if (!fault) fault = reader.Palette(palette);
  // Every line names the palette file, as the input is named elsewhere.
  if (fault) fault->detail = {name, "the palette file" + (fault->detail.text.empty() ? "" : ": " + fault->detail.text)};
  return fault;
}
