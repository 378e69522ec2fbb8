#include "resources.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

void AdviseHugePages(void* buffer, std::size_t size) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20U;
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
  // Only a hint: where huge pages cannot be had, the buffer works as before.
  if (buffer != nullptr && end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

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
