// zoltenc: converts a greyscale or paletted TIFF image to a ZOLT file, or any
// image onto the palette of a ZOLT file (--palette).

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "cli.h"
#include "files.h"
#include "input.h"
#include "messages.h"
#include "matchpalette.h"
#include "output.h"
#include "readdata.h"
#include "resources.h"
#include "tiffhandle.h"
#include "zoltfile.h"

namespace {

// Places decoded pixels at their offset in the output, from any thread.
class OutputSink : public PixelSink {
 public:
  explicit OutputSink(OutputFile& out) : out_(out) {}
  bool Put(std::uint64_t first, const std::uint8_t* pixels, std::size_t count) override {
    return out_.WriteAt(kZoltHeaderSize + first, pixels, count);
  }
  std::uint64_t Origin() const override { return kZoltHeaderSize; }

 private:
  OutputFile& out_;
};

// What the input is, where libtiff cannot open it as a TIFF file.
std::string NotTiff(int fd, const char* path) {
  std::uint8_t head[4] = {};
  if (PreadFull(fd, head, sizeof head, 0) == 4 && StartsAsZolt(head, sizeof head)) {
    return "a ZOLT file; zoltdec converts ZOLT to TIFF";
  }
  std::uint64_t size = 0;
  if (RegularFileSize(fd, size)) return "not a TIFF file";
  return IsFolder(path) ? "a folder" : "not a file that can be read at any offset";
}

Outcome Convert(const Request& request, Notes& notes, std::unique_ptr<OutputFile>& out) {
  const char* inPath = request.in;
  const char* outPath = request.out;
  const char* inputName = DisplayName(inPath, false);
  UniqueFd input = OpenSeekableInput(inPath);
  if (!input) {
    const int error = errno;
    TIFFErrorExt(nullptr, "TIFFOpen", "%s: %s", inPath, std::strerror(error));
    return Fault(Failure::kOpenTiff, inputName, OpenFailure(error, inPath, false));
  }
  FileId inputId;
  const bool identified = IdentifyFile(input.Get(), inputId);
  // With --palette, the palette comes first: the file it names may be the
  // output, which nothing has touched yet.
  std::unique_ptr<PaletteMatch> match;
  if (request.palette != nullptr) {
    ZoltPalette given{};
    if (Outcome fault = ReadPaletteFile(request.palette, inPath, inputId, given)) return fault;
    match = std::make_unique<PaletteMatch>(given);
  }
  TiffMessages messages;  // libtiff's lines, whole even when several threads decode
  messages.prefix = request.linePrefix;
  TiffPtr tif(identified ? OpenTiffOnFd(input.Get(), inPath, "rm", &messages) : nullptr);
  if (!tif) return Fault(Failure::kOpenTiff, inputName, NotTiff(input.Get(), inPath));
  ZoltPalette palette{};
  TiffImage image;
  if (Outcome fault = InspectTiff(tif.get(), palette, image, notes, match.get())) return fault;
  ZoltHeader header{};
  std::memcpy(header.magic, kZoltMagic, sizeof header.magic);
  header.width = static_cast<std::int16_t>(image.width);
  header.height = static_cast<std::int16_t>(image.height);

  if (Outcome fault = OutputFile::Open(outPath, OutputFile::Access::kSequential, inPath, inputId, out)) return fault;
  std::uint8_t head[kZoltHeaderSize];
  EncodeZoltHeader(header, head);
  std::uint8_t tail[kZoltTailSize];
  EncodeZoltTail(palette, tail);

  out->Reserve(ZoltFileSize(header));
  if (!out->WriteAt(0, head, sizeof head)) return Failure::kWriteOutput;
  // Several threads decode only where pieces can be placed in any order.
  OutputSink sink(*out);
  if (Outcome fault =
          ReadData(tif.get(), image, sink, input.Get(), !out->Positioned() ? 1 : request.threads != 0 ? request.threads : DecodeThreads(), match.get())) {
    return fault;
  }
  if (match) {
    const PaletteMatch::Found found = match->Result();
    if (found.missing > 0) {
      return Fault(Failure::kNotInPalette, inputName,
                   MissingColours(found, *match, image.width, DisplayName(request.palette, false)));
    }
    if (found.several > 0) {
      notes.push_back({inputName, std::to_string(found.several) + (found.several == 1 ? " pixel has" : " pixels have") +
                                      " a colour that several entries of the palette have"});
    }
  }
  // All is read: the input is closed before the output takes its place,
  // which may be the input's own (some systems replace no open file).
  tif.reset();
  input.Close();
  if (!out->WriteAt(kZoltHeaderSize + ZoltPixelCount(header), tail, sizeof tail)) return Failure::kWriteOutput;
  return {};
}

// In a batch, NAME.tif or NAME.tiff becomes NAME.zolt.
const char* const kTiffExtensions[] = {".tif", ".tiff", nullptr};

}  // namespace

int main(int argc, char** argv) {
  return RunConversion({"zoltenc", "Usage: %s in.tiff out.zolt\n",
                        "Converts a greyscale or paletted TIFF image of 1, 2, 4 or 8 bits per sample\n"
                        "to a ZOLT file.\n"
                        "  in.tiff   the TIFF file to read; - reads standard input\n"
                        "  out.zolt  the ZOLT file to write, replaced only when all went well;\n"
                        "            - writes standard output\n"
                        "  --palette game.zolt in.tiff out.zolt\n"
                        "            gives out.zolt the palette of game.zolt, all 256 entries in\n"
                        "            their order, and each pixel the entry of its colour: for an\n"
                        "            image edited in RGB or renumbered; RGB and RGBA of 8 or 16 bits\n"
                        "            are taken too. game.zolt may be out.zolt, not in.tiff\n"
                        "  --batch FILE...\n"
                        "            converts each NAME.tif or NAME.tiff to NAME.zolt beside it\n",
                        Convert, kTiffExtensions, ".zolt", Failure::kOpenTiff, true},
                       argc, argv);
}
