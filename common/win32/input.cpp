// Where input comes from on Windows.
#include <io.h>

#include <cstdio>
#include <cstring>

#include "fileio.h"
#include "input.h"
#include "system.h"

UniqueFd OpenSeekableInput(const char* path) {
  if (std::strcmp(path, "-") != 0) return OpenExisting(path, GENERIC_READ);
  std::uint64_t size = 0;
  if (RegularFileSize(0, size)) return UniqueFd(_dup(0));
  UniqueFd spool = MakeSpoolFile();
  if (!spool || !CopyStream(0, spool.Get())) return UniqueFd();
  return spool;
}

FilePtr OpenStreamInput(const char* path) {
  // A folder cannot be opened as a file here.
  UniqueFd in = std::strcmp(path, "-") != 0 ? OpenExisting(path, GENERIC_READ) : UniqueFd(_dup(0));
  FilePtr file(in ? _fdopen(in.Get(), "rb") : nullptr);
  if (file) (void)in.Release();  // the stream owns it now
  return file;
}
