// zoltenc: converts an 8-bit greyscale or paletted TIFF image to a ZOLT file.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "fileio.h"
#include "input.h"
#include "output.h"
#include "readdata.h"
#include "resources.h"
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

int Convert(int argc, char** argv) {
  const int status = HandleArguments(argc, argv, "zoltenc", "Usage: %s in.tiff out.zolt\n",
                                     "Converts an 8-bit greyscale or paletted TIFF image to a ZOLT file.\n"
                                     "  in.tiff   the TIFF file to read; - reads standard input\n"
                                     "  out.zolt  the ZOLT file to write, replaced only when all went well;\n"
                                     "            - writes standard output\n"
                                     "ZOLT_THREADS=N sets how many threads decode a compressed image.\n"
                                     "See zoltenc(1).\n");
  if (status >= 0) return status;
  UniqueFd input = OpenSeekableInput(argv[1]);
  if (!input) TIFFErrorExt(nullptr, "TIFFOpen", "%s: %s", argv[1], std::strerror(errno));
  FileId inputId;
  TiffMessages messages;  // libtiff's lines, whole even when several threads decode
  TiffPtr tif(input && IdentifyFile(input.Get(), inputId) ? OpenTiffOnFd(input.Get(), argv[1], "rm", &messages)
                                                          : nullptr);
  if (!tif) {
    std::fprintf(stderr, "Error: Can't open TIFF File\n");
    return 1;
  }
  ZoltHeader header{};
  ZoltPalette palette{};
  TiffImage image;
  if (!InspectTiff(tif.get(), header, palette, image)) return 1;
  std::memcpy(header.magic, kZoltMagic, sizeof header.magic);

  bool terminal = false;
  const auto out = OutputFile::Open(argv[2], OutputFile::Access::kSequential, inputId, terminal);
  if (!out) {
    std::fprintf(stderr, terminal ? "Error: won't write binary data to a terminal\n" : "Error: Can't open output file\n");
    return 1;
  }
  std::uint8_t head[kZoltHeaderSize];
  EncodeZoltHeader(header, head);
  std::uint8_t tail[kZoltTagSize + kZoltPaletteSize];
  std::memcpy(tail, kZoltTag, kZoltTagSize);
  std::memcpy(tail + kZoltTagSize, palette.rgb, kZoltPaletteSize);
  const std::uint64_t pixelCount = std::uint64_t{image.width} * image.height;

  if (!out->WriteAt(0, head, sizeof head)) {
    std::fprintf(stderr, "Error: can't write output file\n");
    return 1;
  }
  // Several threads decode only where pieces can be placed in any order.
  OutputSink sink(*out);
  const ReadResult read = ReadData(tif.get(), image, sink, input.Get(), out->Positioned() ? DecodeThreads() : 1);
  if (read == ReadResult::kDataError) return 1;  // ReadData said why
  // All is read: the input is closed before the output takes its place,
  // which may be the input's own (some systems replace no open file).
  tif.reset();
  input.Close();
  if (read == ReadResult::kSinkError ||
      !out->WriteAt(kZoltHeaderSize + pixelCount, tail, sizeof tail) || !out->Commit()) {
    std::fprintf(stderr, "Error: can't write output file\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return RunConversion(Convert, argc, argv); }
