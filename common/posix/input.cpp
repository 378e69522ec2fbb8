// Where input comes from on a POSIX system.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "fileio.h"
#include "input.h"

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
  UniqueFd in(std::strcmp(path, "-") != 0 ? open(path, O_RDONLY | O_CLOEXEC) : fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
  struct stat st {};
  if (!in || fstat(in.Get(), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  FilePtr file(fdopen(in.Get(), "rb"));
  if (file) (void)in.Release();  // the stream owns it now
  return file;
}
