#include "inspecttiff.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "matchpalette.h"
#include "messages.h"
#include "process.h"
#include "readdata.h"

namespace {

// What the checks read of one image of the file.
struct Fields {
  std::uint16_t photometric = 0xFFFF;  // none: unsupported
  std::uint16_t samples = 1;
  std::uint16_t bits = 1;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Every field starts from its TIFF default, so a file that omits one never
// leaves a value unset.
Fields ReadFields(TIFF* tif) {
  Fields f;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f.photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &f.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &f.bits);
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f.height);
  return f;
}

bool Greyscale(std::uint16_t photometric) {
  return photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
}

const char* Kind(std::uint16_t photometric) {
  static const std::pair<std::uint16_t, const char*> kKinds[] = {
      {PHOTOMETRIC_MINISWHITE, "greyscale"}, {PHOTOMETRIC_MINISBLACK, "greyscale"},
      {PHOTOMETRIC_RGB, "RGB"},              {PHOTOMETRIC_PALETTE, "paletted"},
      {PHOTOMETRIC_MASK, "transparency mask"}, {PHOTOMETRIC_SEPARATED, "CMYK"},
      {PHOTOMETRIC_YCBCR, "YCbCr"},          {PHOTOMETRIC_CIELAB, "Lab"},
      {PHOTOMETRIC_ICCLAB, "Lab"},           {PHOTOMETRIC_ITULAB, "Lab"},
      {PHOTOMETRIC_LOGL, "LogLuv"},          {PHOTOMETRIC_LOGLUV, "LogLuv"},
      {0xFFFF, "no photometric interpretation"},
  };
  for (const auto& [code, kind] : kKinds) {
    if (code == photometric) return kind;
  }
  return "unknown kind";
}

// Whether the image is one of colours, which only a palette to match takes:
// RGB or RGBA, 8 or 16 bits per sample.
bool Colours(const Fields& f) {
  return f.photometric == PHOTOMETRIC_RGB && (f.samples == 3 || f.samples == 4) && (f.bits == 8 || f.bits == 16);
}

// The checks, in the order that decides which message a bad image gets.
Outcome Check(TIFF* tif, const Fields& f, bool colours = false) {
  // One sample of 1, 2 or 4 bits is taken too, when greyscale or paletted.
  const bool packed = (f.bits == 1 || f.bits == 2 || f.bits == 4) && f.samples == 1 &&
                      (Greyscale(f.photometric) || f.photometric == PHOTOMETRIC_PALETTE);
  const bool taken = colours && Colours(f);
  if (!packed && !taken && ((f.samples != 1 && f.samples != 2) || f.bits != 8)) return Failure::kUnsupported;
  if (!taken && !Greyscale(f.photometric) && f.photometric != PHOTOMETRIC_PALETTE) return Failure::kNotGreyOrPaletted;
  std::uint16_t* red = nullptr;
  std::uint16_t* green = nullptr;
  std::uint16_t* blue = nullptr;
  if (f.photometric == PHOTOMETRIC_PALETTE &&
      (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || red == nullptr || green == nullptr ||
       blue == nullptr)) {
    return Failure::kNoColourMap;
  }
  if (f.width < 1 || f.width > kZoltMaxSide || f.height < 1 || f.height > kZoltMaxSide) {
    return Fault(Failure::kTooLarge, f.width, f.height);
  }
  return {};
}

// What was found, for the line before a refusal's message.
std::string Found(Failure refusal, const Fields& f, const std::string& file) {
  switch (refusal) {
    case Failure::kUnsupported: {
      std::string found = std::to_string(f.samples) + (f.samples == 1 ? " sample of " : " samples of ") +
                          std::to_string(f.bits) + " bits (" + Kind(f.photometric) + "); ";
      const std::string convert = std::string(kImageMagick) + " " + ShellWord(file);
      if (f.samples <= 2) return found + "reduce it to 8 bits first, e.g. " + convert + " -depth 8 out.tif";
      return found + "reduce it to 256 colours first, e.g. " + convert +
             (f.photometric == PHOTOMETRIC_SEPARATED ? " -colorspace sRGB" : "") +
             " -colors 256 -type Palette -depth 8 out.tif" +
             (f.photometric == PHOTOMETRIC_RGB ? ", or convert it to a ZOLT file's palette with zoltenc --palette" : "");
    }
    case Failure::kNotGreyOrPaletted:
      return "photometric interpretation " +
             (f.photometric == 0xFFFF ? std::string("missing") : std::to_string(f.photometric) + " (" + Kind(f.photometric) + ")") +
             "; only greyscale and paletted images convert";
    case Failure::kNoColourMap:
      return "a paletted image without its colour map (tag 320)";
    default:
      return std::to_string(f.width) + " x " + std::to_string(f.height) + " pixels; a ZOLT file holds 1 to 32767 each way";
  }
}

// Builds the palette of a checked image from the photometric interpretation
// for samples of bits bits: entries 0 to 2^bits - 1, the rest 0.
void BuildPalette(TIFF* tif, std::uint16_t photometric, std::uint16_t bits, ZoltPalette& palette) {
  const std::size_t entries = std::size_t{1} << bits;
  std::memset(palette.rgb, 0, sizeof palette.rgb);
  if (photometric == PHOTOMETRIC_PALETTE) {
    // Each array holds 2^bits values; Check found them.
    std::uint16_t* red = nullptr;
    std::uint16_t* green = nullptr;
    std::uint16_t* blue = nullptr;
    TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue);
    const std::uint16_t* maps[3] = {red, green, blue};
    for (std::size_t i = 0; i < 3 * entries; ++i) palette.rgb[i] = ZoltFromTiffComponent(maps[i % 3][i / 3]);
    return;
  }
  // The grey ramp spread over 0 to 255 (the identity for 8 bits).
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t grey = i * 255 / (entries - 1);
    const std::size_t level = photometric == PHOTOMETRIC_MINISWHITE ? 255 - grey : grey;
    std::memset(&palette.rgb[3 * i], static_cast<int>(level >> 2U), 3);
  }
}

// Whether a tile's size is one a real file of this image could have: no
// larger than two bands (2 MiB), or than the image's own rows it covers. Anything larger
// (a tile four billion pixels wide on a 21-pixel image) is a lie of the file,
// refused before any buffer is sized by it.
bool SaneTile(const TiffImage& image) {
  const std::uint64_t tw = image.tileWidth;
  const std::uint64_t tl = image.tileLength;
  const std::uint64_t perPixel = image.step * std::max<std::uint64_t>(1, image.bits / 8);
  const std::uint64_t rowOfTiles = std::uint64_t{image.width} * std::min<std::uint64_t>(tl, image.height);
  const std::uint64_t limit = std::max(2 * kBandBytes, rowOfTiles * perPixel);
  return tw > 0 && tl > 0 && tw <= limit && tl <= limit / tw / perPixel;
}

// What the user should know of an image that converts: a sample dropped, a
// colour map shorter than the palette.
void AddNotes(TIFF* tif, const Fields& f, const char* name, bool matched, Notes& notes) {
  const bool colours = f.photometric == PHOTOMETRIC_RGB;
  if (f.samples == 2 || (colours && f.samples == 4)) {
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    const bool alpha = TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) == 1 && count >= 1 &&
                       kinds != nullptr && kinds[0] != EXTRASAMPLE_UNSPECIFIED;
    notes.push_back({name, std::string(colours ? "the fourth" : "the second") + " sample of each pixel" +
                               (alpha ? " (alpha)" : "") + " is ignored"});
  }
  if (!matched && f.photometric == PHOTOMETRIC_PALETTE && f.bits < 8) {
    const unsigned entries = 1U << f.bits;
    notes.push_back({name, "a colour map of " + std::to_string(entries) + " entries; palette entries " +
                               std::to_string(entries) + " to 255 are black"});
  }
}

}  // namespace

Outcome InspectTiff(TIFF* tif, ZoltPalette& palette, TiffImage& image, Notes& notes, PaletteMatch* match) {
  const std::string file = TIFFFileName(tif);
  const char* name = DisplayName(file.c_str(), false);
  // A multi-image file converts its second image; with one image there is no
  // next directory and the first stays current (though libtiff then reports
  // its offset as 0). Whether the first would convert is said when the
  // second is refused.
  const std::uint64_t first = TIFFCurrentDirOffset(tif);
  const bool firstConverts = !Check(tif, ReadFields(tif), match != nullptr);
  const bool several = TIFFReadDirectory(tif) == 1;
  const std::uint64_t directory = several ? TIFFCurrentDirOffset(tif) : first;

  const Fields f = ReadFields(tif);
  if (several) {
    notes.push_back({name, std::to_string(TIFFNumberOfDirectories(tif)) + " images; converting image 2 (" +
                               std::to_string(f.width) + " x " + std::to_string(f.height) + ")"});
  }
  if (const Outcome refusal = Check(tif, f, match != nullptr)) {
    const std::string found = Found(refusal->failure, f, file);
    return Fault(refusal->failure, name,
                 !several        ? found
                 : firstConverts ? "image 2: " + found + "; image 1 would convert, but the second image of a file is the one converted"
                                 : "image 2: " + found,
                 refusal->width, refusal->height);
  }

  TiffImage found;
  found.width = f.width;
  found.height = f.height;
  found.bits = f.bits;
  found.colour = Colours(f);
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  const bool contiguous = planar == PLANARCONFIG_CONTIG;
  found.step = contiguous ? f.samples : 1;
  found.planes = found.colour && !contiguous ? 3 : 1;
  if (match == nullptr) {
    BuildPalette(tif, f.photometric, f.bits, palette);
  } else {
    if (!found.colour) {
      ZoltPalette own{};
      BuildPalette(tif, f.photometric, f.bits, own);
      match->MatchIndicesOf(own, f.photometric == PHOTOMETRIC_PALETTE);
    }
    palette = match->Palette();
  }
  found.tiled = TIFFIsTiled(tif) != 0;
  if (found.tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &found.tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &found.tileLength);
    if (!SaneTile(found)) {
      return Fault(Failure::kReadImage, name,
                   "tiles of " + std::to_string(found.tileWidth) + " x " + std::to_string(found.tileLength) +
                       " pixels, far larger than the " + std::to_string(f.width) + " x " + std::to_string(f.height) +
                       " image needs");
    }
  } else {
    found.rowsPerStrip = f.height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &found.rowsPerStrip);
    found.rowsPerStrip = std::clamp<std::uint32_t>(found.rowsPerStrip, 1, f.height);
  }

  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  found.compressed = compression != COMPRESSION_NONE;
  found.directory = directory;

  AddNotes(tif, f, name, match != nullptr, notes);
  image = found;
  return {};
}
