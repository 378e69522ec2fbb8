// Where output goes on a POSIX system: an unnamed file (O_TMPFILE) linked
// into place, or a named temporary file, renamed over the target; the
// folder is synced after.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "files.h"
#include "output.h"
#include "platform.h"

// A file's identity from its status (common/posix/files.cpp).
FileId IdOf(const struct stat& st);

namespace {

// The file a path finally names: symbolic links are followed, even to a
// target that does not exist yet, which is then created.
std::string ResolveLinks(const std::string& path) {
  std::string target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    std::vector<char> link(PATH_MAX + 1);
    const ssize_t n = readlink(target.c_str(), link.data(), PATH_MAX);
    if (n <= 0) return target;
    const std::string to(link.data(), static_cast<std::size_t>(n));
    target = to[0] == '/' ? to : JoinPath(DirOf(target), to);
  }
  return target;  // a loop: opening it fails with ELOOP
}

// The number the digits at p spell (at most nine), p moved past them; -1
// where there are none, or more.
long ReadNumber(const char*& p) {
  const char* start = p;
  long n = 0;
  while (std::isdigit(static_cast<unsigned char>(*p)) != 0 && p - start < 9) n = n * 10 + (*p++ - '0');
  return p == start || std::isdigit(static_cast<unsigned char>(*p)) != 0 ? -1 : n;
}

}  // namespace

// A run killed before its commit leaves its named temporary file behind.
// The next run for the same target on the same host removes those whose
// process is gone. (Called only where the folder takes no unnamed file: a
// folder listing per run is the cost.)
void RemoveStaleTemps(const std::string& target) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(DirOf(target).c_str()), closedir);
  if (!dir) return;
  const std::string prefix = TempPrefix(target);
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    // PID-N.tmp, the PID of a process that is gone
    const char* rest = name.c_str() + prefix.size();
    const long pid = ReadNumber(rest);
    if (pid <= 0 || *rest++ != '-' || ReadNumber(rest) < 0 || std::strcmp(rest, ".tmp") != 0) continue;
    if (pid == static_cast<long>(ProcessId()) || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    unlinkat(dirfd(dir.get()), name.c_str(), 0);
  }
}

OutputTarget InspectOutput(const std::string& path) {
  OutputTarget target;
  target.path = ResolveLinks(path);
  struct stat st {};
  if (stat(target.path.c_str(), &st) != 0) {
    // A name ending in "/" is a folder's.
    target.found = OutputTarget::Found::kNothing;
    target.replaceable = !BaseOf(target.path).empty();
  } else if (S_ISDIR(st.st_mode)) {
    target.found = OutputTarget::Found::kFolder;
  } else if (!S_ISREG(st.st_mode)) {
    target.found = OutputTarget::Found::kOther;
  } else {
    target.found = OutputTarget::Found::kFile;
    target.id = IdOf(st);
    target.replaceable = access(target.path.c_str(), W_OK) == 0;
  }
  return target;
}

UniqueFd DuplicateStandardOutput() { return UniqueFd(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)); }

UniqueFd OpenOutputStream(const std::string& path) {
  return UniqueFd(open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
}

UniqueFd CreateUnnamedBeside(const std::string& target) {
  // Linked into place on commit through /proc.
  UniqueFd fd(open(DirOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
  return fd && access("/proc/self/fd", X_OK) == 0 ? std::move(fd) : UniqueFd();
}

UniqueFd CreateTempFile(const std::string& name, bool& vanishes) {
  vanishes = false;
  return UniqueFd(open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

void KeepOwnerAndMode(int fd, const std::string& target) {
  // The owner where this user may set it, and the permission bits.
  struct stat st {};
  if (stat(target.c_str(), &st) != 0) return;
  (void)fchown(fd, st.st_uid, st.st_gid);
  (void)fchmod(fd, st.st_mode & 07777);
}

UniqueFd OpenInPlace(const std::string& target) {
  return UniqueFd(open(target.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC));
}

OutputFile::Replaced OutputFile::ReplaceTarget(bool syncFolder) {
  if (kind_ == Kind::kUnnamed) {
    // Named first, beside the target, so that the final close can still be
    // checked before anything is replaced.
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_.Get());
    tempName_ = TakeTempName(target_, [&proc](const std::string& candidate) {
      return linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    if (tempName_.empty()) return Replaced::kNo;
    kind_ = Kind::kNamed;
  }
  // The content was synced before this; the new name is synced after, with
  // nothing left to allocate once the target is replaced.
  if (!fd_.Close() || rename(tempName_.c_str(), target_.c_str()) != 0) return Replaced::kNo;
  return !syncFolder || SyncFolder(folder_) ? Replaced::kYes : Replaced::kUnsynced;
}

void OutputFile::Discard() {
  if (kind_ == Kind::kNamed) unlink(tempName_.c_str());
}
