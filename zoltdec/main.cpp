// zoltdec: converts a ZOLT file to an uncompressed paletted 8-bit TIFF image.
#include <cerrno>
#include <cstdio>

#include "cli.h"
#include "files.h"
#include "input.h"
#include "messages.h"
#include "output.h"
#include "zoltreader.h"
#include "resources.h"
#include "tiffhandle.h"
#include "writedata.h"
#include "zoltfile.h"

namespace {

// What a ZOLT file says of itself is never a note: the notes stay empty.
Outcome Convert(const Request& request, Notes& /*notes*/, std::unique_ptr<OutputFile>& out) {
  const char* inPath = request.in;
  const char* outPath = request.out;
  const char* inputName = DisplayName(inPath, false);
  errno = 0;
  FilePtr in = OpenStreamInput(inPath);
  FileId inputId;
  if (!in || !IdentifyFile(fileno(in.get()), inputId)) {
    return Fault(Failure::kOpenZolt, inputName, OpenFailure(errno, inPath, false));
  }
  // Unbuffered: each run of rows is read straight into its place in the
  // strip buffer, with no stdio buffer between, nor its refills between them.
  std::setvbuf(in.get(), nullptr, _IONBF, 0);
  ZoltReader reader(in.get(), inputName);
  ZoltHeader header{};
  if (Outcome fault = reader.Header(header)) return fault;

  // libtiff seeks while it writes: a pipe or device gets a spool file.
  if (Outcome fault = OutputFile::Open(outPath, OutputFile::Access::kSeekable, inPath, inputId, out)) return fault;
  // The TIFF file holds more than the ZOLT file: every pixel, and a colour
  // map of twice the palette's size.
  out->Reserve(ZoltFileSize(header));
  TiffMessages messages;
  messages.prefix = request.linePrefix;
  // Little-endian whatever the host's byte order: the same bytes everywhere.
  TiffPtr tif(OpenTiffOnFd(out->Fd(), outPath, "wl", &messages));
  if (!tif) return Failure::kWriteOutput;
  Outcome fault = WriteData(tif.get(), header, reader);
  if (!fault && !FlushTiff(tif.get())) fault = Failure::kWriteOutput;
  // Closing a failed output only makes libtiff repeat the failure.
  if (fault) messages.quiet = true;
  tif.reset();
  in.reset();  // closed before the output may take its place, as zoltenc does
  return fault;
}

// In a batch, NAME.zolt becomes NAME.tif.
const char* const kZoltExtensions[] = {".zolt", nullptr};

}  // namespace

int main(int argc, char** argv) {
  return RunConversion({"zoltdec", "Usage: %s in.zolt out.tiff\n",
                        "Converts a ZOLT file to an uncompressed paletted 8-bit TIFF image.\n"
                        "  in.zolt   the ZOLT file to read; - reads standard input\n"
                        "  out.tiff  the TIFF file to write, replaced only when all went well;\n"
                        "            - writes standard output\n"
                        "  --batch FILE...\n"
                        "            converts each NAME.zolt to NAME.tif beside it\n",
                        Convert, kZoltExtensions, ".tif", Failure::kOpenZolt},
                       argc, argv);
}
