#include "resources.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {
bool IsRegularFile(int fd) {
  struct stat st {};
  return fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

PartialOutput::PartialOutput(const char* path, int fd) : path_(path), remove_(IsRegularFile(fd)) {}

PartialOutput::~PartialOutput() {
  if (remove_) unlink(path_);
}
