// Arbitrary bytes as a TIFF file on standard input, a pipe: zoltenc's "-"
// path, which copies the pipe into a temporary file and reads it through its
// own positioned-read handles (the in-memory target uses libtiff's client
// procedures instead).
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "input.h"
#include "memtiff.h"
#include "tiffhandle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (QuietTiff(), std::signal(SIGPIPE, SIG_IGN), true);
  (void)quiet;
  int ends[2];
  if (pipe(ends) != 0) std::abort();
  std::thread writer([&] {
    (void)WriteFull(ends[1], data, size, kAppend);
    close(ends[1]);
  });
  const int saved = dup(STDIN_FILENO);
  dup2(ends[0], STDIN_FILENO);
  close(ends[0]);
  const UniqueFd in = OpenSeekableInput("-");
  dup2(saved, STDIN_FILENO);
  close(saved);
  writer.join();
  struct stat st {};
  if (!in || fstat(in.Get(), &st) != 0 || static_cast<std::uint64_t>(st.st_size) != size) {
    std::fprintf(stderr, "standard input was not kept whole\n");
    std::abort();
  }
  TiffMessages messages;
  messages.quiet = true;
  const TiffPtr tif(OpenTiffOnFd(in.Get(), "-", "rm", &messages));
  if (tif) CheckTiffRead(tif.get(), in.Get());
  return 0;
}
