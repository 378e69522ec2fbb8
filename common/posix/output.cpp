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
#include <cstdlib>
#include <cstring>
#include <vector>

#include "files.h"
#include "output.h"

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

// Makes the folder's entries durable, so that a name just linked or renamed
// in it survives a power loss. A folder this user may write but not list
// cannot be opened to be synced: its file goes unsynced.
bool SyncFolder(const std::string& path) {
  const UniqueFd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return true;
  int result = 0;
  do {
    result = fsync(dir.Get());
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno == EINVAL;
}

bool IsSameRegularFile(const std::string& path, const FileId& id) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && IdOf(st) == id;
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Open(const std::string& path, Access how, const FileId& input,
                                             bool& terminal) {
  terminal = false;
  const bool standardOutput = path == "-";
  const std::string target = standardOutput ? path : ResolveLinks(path);
  struct stat st {};
  const bool exists = standardOutput || stat(target.c_str(), &st) == 0;
  if (exists && !standardOutput && S_ISDIR(st.st_mode)) return nullptr;

  if (standardOutput || (exists && !S_ISREG(st.st_mode))) {
    // Standard output, a device, pipe, socket or terminal: written straight
    // through, in the order the bytes come, whatever standard output is.
    UniqueFd out(standardOutput ? fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                                : open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    return ForStream(std::move(out), how, target, terminal);
  }

  // Only a file this user may write is replaced, as when it was opened for
  // writing; and a name ending in "/" is a folder.
  if ((exists && access(target.c_str(), W_OK) != 0) || BaseOf(target).empty()) return nullptr;

  std::unique_ptr<OutputFile> file;
  // An unnamed file is linked into place on commit through /proc.
  UniqueFd fd(open(DirOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
  if (fd && access("/proc/self/fd", X_OK) == 0) {
    file.reset(new OutputFile(Kind::kUnnamed, std::move(fd), target));
  } else {
    RemoveStaleTemps(target);
    std::string name = TakeTempName(target, [&fd](const std::string& candidate) {
      fd = UniqueFd(open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      return static_cast<bool>(fd);
    });
    if (!name.empty()) {
      file.reset(new OutputFile(Kind::kNamed, std::move(fd), target));
      file->tempName_ = std::move(name);
    }
  }
  if (file) {
    if (exists) {
      // The replacement keeps the owner (where this user may set it) and the
      // permission bits of the file it replaces.
      (void)fchown(file->Fd(), st.st_uid, st.st_gid);
      (void)fchmod(file->Fd(), st.st_mode & 07777);
    }
    return file;
  }

  // No temporary file can be made in the folder: write the existing file in
  // place, unless it is the input being read.
  if (!exists || IdOf(st) == input) return nullptr;
  fd = UniqueFd(open(target.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC));
  if (!fd) return nullptr;
  file.reset(new OutputFile(Kind::kInPlace, std::move(fd), path));
  file->id_ = IdOf(st);
  return file;
}

bool OutputFile::ReplaceTarget() {
  if (kind_ == Kind::kUnnamed) {
    // Named first, beside the target, so that the final close can still be
    // checked before anything is replaced.
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_.Get());
    tempName_ = TakeTempName(target_, [&proc](const std::string& candidate) {
      return linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    if (tempName_.empty()) return false;
    kind_ = Kind::kNamed;
  }
  // The content was synced before this; the new name is synced after, with
  // nothing left to allocate once the target is replaced.
  const std::string folder = DirOf(target_);
  return fd_.Close() && rename(tempName_.c_str(), target_.c_str()) == 0 && SyncFolder(folder);
}

void OutputFile::Discard() {
  if (kind_ == Kind::kNamed) unlink(tempName_.c_str());
  // An incomplete file written in place is removed, but only where the path
  // itself names it: never a link's target.
  if (kind_ == Kind::kInPlace && IsSameRegularFile(target_, id_)) unlink(target_.c_str());
}
