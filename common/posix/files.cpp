// Files on a POSIX system: descriptors, pread and pwrite, mmap.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>

#include "files.h"

namespace {
// Calls f again for as long as a signal interrupts it.
template <typename F>
auto Retried(F f) {
  for (;;) {
    const auto result = f();
    if (result >= 0 || errno != EINTR) return result;
  }
}
}  // namespace

long long PreadFull(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    if (offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return -1;
    const ssize_t n = Retried([&] { return pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done)); });
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

bool WriteFull(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    if (offset != kAppend && offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    const ssize_t n = Retried([&] {
      return offset == kAppend ? write(fd, bytes + done, size - done)
                               : pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    });
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteJoined(int fd, const void* head, std::size_t headSize, const void* buffer, std::size_t size,
                 std::uint64_t offset) {
  if (headSize == 0) return WriteFull(fd, buffer, size, offset);
  if (offset + headSize + size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
  iovec pieces[2] = {{const_cast<void*>(head), headSize}, {const_cast<void*>(buffer), size}};
  const ssize_t n = Retried([&] { return pwritev(fd, pieces, 2, static_cast<off_t>(offset)); });
  if (n < 0) return false;
  // What a short write left of each piece.
  const auto done = static_cast<std::size_t>(n);
  const std::size_t fromHead = std::min(done, headSize);
  return WriteFull(fd, static_cast<const std::uint8_t*>(head) + fromHead, headSize - fromHead, offset + fromHead) &&
         WriteFull(fd, static_cast<const std::uint8_t*>(buffer) + (done - fromHead), size - (done - fromHead),
                   offset + headSize + (done - fromHead));
}

const char kPathSeparators[] = "/";

std::string HostName() {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 && name[0] != '\0' ? name : "localhost";
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

long long ReadSome(int fd, void* buffer, std::size_t size) {
  return Retried([&] { return read(fd, buffer, size); });
}

bool Rewind(int fd) { return lseek(fd, 0, SEEK_SET) == 0; }

bool CloseFd(int fd) { return close(fd) == 0; }

UniqueFd OpenForReading(const char* path) { return UniqueFd(open(path, O_RDONLY | O_CLOEXEC)); }

UniqueFd DuplicateStandardInput() { return UniqueFd(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)); }

bool IsFolderFd(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

FilePtr StreamOf(UniqueFd& fd) {
  FilePtr file(fdopen(fd.Get(), "rb"));
  if (file) (void)fd.Release();  // the stream owns it now
  return file;
}

UniqueFd MakeSpoolFile() {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  UniqueFd fd(open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd) return fd;
  std::string name = std::string(dir) + "/zolt-spool-XXXXXX";
  fd = UniqueFd(mkostemp(name.data(), O_CLOEXEC));
  if (fd) unlink(name.c_str());
  return fd;
}

bool RegularFileSize(int fd, std::uint64_t& size) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool SyncFile(int fd) {
  // A pipe, a terminal or a device holds nothing to make durable.
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) return true;
  const int result = Retried([fd] { return fdatasync(fd); });
  // EINVAL: a file system that keeps nothing to sync.
  return result == 0 || errno == EINVAL;
}

namespace {
// Syncs the folder open as fd: its entries, which only fsync covers. Unlike
// SyncFile it asks nothing first, which after a rename would be one more
// call that can fail.
bool SyncFolderFd(int fd) {
  const int result = Retried([fd] { return fsync(fd); });
  return result == 0 || errno == EINVAL;
}
}  // namespace

bool SyncFolder(const std::string& path) {
  const UniqueFd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return !dir || SyncFolderFd(dir.Get());
}

void StartWriteback(int fd) { (void)Retried([fd] { return sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }); }

void ReserveSpace(int fd, std::uint64_t size) {
  // Not posix_fallocate: where the file system cannot, it writes zeros.
  if (size > 0 && size <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    Retried([&] { return fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)); });
  }
}

bool IsTerminal(int fd) { return isatty(fd) != 0; }

FileId IdOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool IdentifyFile(int fd, FileId& id) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  id = IdOf(st);
  return true;
}

bool IdentifyPath(const std::string& path, FileId& id) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  id = IdOf(st);
  return true;
}

void* MapReadOnly(int fd, std::size_t size) {
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  return map == MAP_FAILED ? nullptr : map;
}

void UnmapReadOnly(void* base, std::size_t size) { munmap(base, size); }

void ReleasePages(void* base, std::size_t begin, std::size_t end) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  begin = begin / page * page;
  // Read-only pages of a private file mapping come back from the file when
  // touched again, so this never changes what is read.
  if (begin < end) madvise(static_cast<std::uint8_t*>(base) + begin, end - begin, MADV_DONTNEED);
}
