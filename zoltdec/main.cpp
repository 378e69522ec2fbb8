// zoltdec: converts a ZOLT file to an uncompressed paletted 8-bit TIFF image.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "readzolt.h"
#include "resources.h"
#include "writedata.h"
#include "zoltfile.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("Usage: %s in.zolt out.tiff\n", argc > 0 ? argv[0] : "zoltdec");
    return 5;
  }
  // A write beyond the file-size limit then fails like any other write, and
  // the incomplete output is removed instead of being left behind.
  std::signal(SIGXFSZ, SIG_IGN);

  FilePtr in(std::fopen(argv[1], "rb"));
  struct stat st {};
  if (!in || (fstat(fileno(in.get()), &st) == 0 && S_ISDIR(st.st_mode))) {
    std::fprintf(stderr, "Error: Can't open ZOLT File\n");
    return 1;
  }
  ZoltHeader header{};
  ZoltPalette palette{};
  const MallocBuffer pixels = ReadZolt(in.get(), header, palette);
  if (!pixels) return 1;
  in.reset();

  // The output is opened here rather than by libtiff, so that a failure to
  // create it is told apart from a failure to write it, a file created before
  // a failed write can be removed, and the final close is checked: libtiff
  // closes a duplicate, this program the last descriptor.
  const int fd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    std::fprintf(stderr, "Error: Can't open output file\n");
    return 1;
  }
  PartialOutput partial(argv[2], fd);
  const int tiffFd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  TiffPtr tif(tiffFd >= 0 ? TIFFFdOpen(tiffFd, argv[2], "w") : nullptr);
  if (!tif) {
    if (tiffFd >= 0) close(tiffFd);
    close(fd);
    std::fprintf(stderr, "Error: can't write output file\n");
    return 1;
  }
  const bool written = WriteData(tif.get(), header, pixels.get(), palette) == 1;  // says why it fails
  const bool flushed = written && TIFFFlush(tif.get()) == 1;
  if (!flushed) {
    // Closing a failed output only makes libtiff repeat the failure.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  }
  tif.reset();
  const bool closed = close(fd) == 0;
  if (written && !(flushed && closed)) std::fprintf(stderr, "Error: can't write output file\n");
  if (!(written && flushed && closed)) return 1;
  partial.Keep();
  return 0;
}
