// Where input comes from: a path, or "-" for standard input.
#include "input.h"

#include <cstring>

#include "files.h"

UniqueFd OpenSeekableInput(const char* path) {
  if (std::strcmp(path, "-") != 0) return OpenForReading(path);
  std::uint64_t size = 0;
  if (RegularFileSize(kStandardInput, size)) return DuplicateStandardInput();
  UniqueFd spool = MakeSpoolFile();
  if (!spool || !CopyStream(kStandardInput, spool.Get())) return UniqueFd();
  return spool;
}

FilePtr OpenStreamInput(const char* path) {
  UniqueFd in = std::strcmp(path, "-") != 0 ? OpenForReading(path) : DuplicateStandardInput();
  if (!in || IsFolderFd(in.Get())) return nullptr;
  return StreamOf(in);
}
