#include "resources.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {
// Whether path names, without a link between, the regular file open as fd.
bool IsSameRegularFile(const char* path, unsigned long long device, unsigned long long inode) {
  struct stat st {};
  return lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == device && st.st_ino == inode;
}
}  // namespace

PartialOutput::PartialOutput(const char* path, int fd) : path_(path) {
  struct stat st {};
  if (fd >= 0 && fstat(fd, &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
    remove_ = IsSameRegularFile(path, device_, inode_);
  }
}

PartialOutput::~PartialOutput() {
  if (remove_ && IsSameRegularFile(path_, device_, inode_)) unlink(path_);
}
