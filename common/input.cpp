#include "input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "fileio.h"

UniqueFd OpenSeekableInput(const char* path) {
  if (std::strcmp(path, "-") != 0) return UniqueFd(open(path, O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (fstat(STDIN_FILENO, &st) != 0) return UniqueFd();
  if (S_ISREG(st.st_mode)) return UniqueFd(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
  UniqueFd spool = MakeSpoolFile();
  if (!spool || !CopyStream(STDIN_FILENO, spool.Get())) return UniqueFd();
  return spool;
}

FilePtr OpenStreamInput(const char* path) {
  if (std::strcmp(path, "-") != 0) return FilePtr(std::fopen(path, "rbe"));
  UniqueFd in(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
  FilePtr file(in ? fdopen(in.Get(), "rb") : nullptr);
  if (file) (void)in.Release();  // the stream owns it now
  return file;
}
