// Where output goes on Windows: a temporary file beside the target with a
// delete disposition (the system removes it if the process dies), cleared
// at commit, then renamed over the target.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "files.h"
#include "output.h"
#include "platform.h"
#include "rename.h"
#include "system.h"

namespace {

// What a path names now: nothing, a file on a disk (links followed: target
// gets its own path, its identity and whether it may be written), a folder,
// or something else (NUL, CON, a pipe).
OutputTarget::Found Inspect(const std::wstring& path, OutputTarget& target) {
  using Found = OutputTarget::Found;
  HANDLE h = OpenAttributes(path);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return Found::kNothing;
    SetErrnoFromLastError();
    return Found::kError;
  }
  Found found = Found::kOther;  // NUL, CON, a pipe
  BY_HANDLE_FILE_INFORMATION file{};
  if (GetFileType(h) == FILE_TYPE_DISK) {
    found = GetFileInformationByHandle(h, &file) == 0                 ? Found::kError
            : (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Found::kFolder
                                                                       : Found::kFile;
  }
  if (found == Found::kFile) {
    target.id = IdOf(file);
    // A read-only file is refused, as one this user may not write.
    target.replaceable = (file.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
    std::vector<wchar_t> name(MAX_PATH);
    DWORD n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
    if (n >= name.size()) {
      name.resize(n + 1);
      n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
    }
    if (n == 0 || n >= name.size()) found = Found::kError;
    target.path = Narrow(std::wstring(name.data(), std::min<std::size_t>(n, name.size())));
  }
  CloseHandle(h);
  return found;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::vector<wchar_t> full(n);
  const DWORD m = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  return m == 0 || m >= n ? path : std::wstring(full.data(), m);
}

bool SetDeleteDisposition(HANDLE h, bool remove) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool Retryable(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Renames the file open as h over target, with POSIX semantics: the target
// goes even while others hold it open.
bool RenameByHandle(HANDLE h, const std::wstring& target) {
  const std::size_t bytes = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
  std::vector<std::uint8_t> buffer(bytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), rename->FileName);
  // FileRenameInfoEx, which mingw-w64's headers hide behind a version test
  // that no version passes.
  constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
  return SetFileInformationByHandle(h, kFileRenameInfoEx, rename, static_cast<DWORD>(bytes)) != 0;
}

}  // namespace

bool RenameOver(UniqueFd& fd, const std::wstring& temp, const std::wstring& target, RenameWay* way) {
  RenameWay tried;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  auto again = [&deadline](DWORD error) {
    if (!Retryable(error) || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return true;
  };
  for (;;) {
    if (RenameByHandle(HandleOf(fd.Get()), target)) {
      tried.posixSemantics = true;
      break;
    }
    const DWORD error = GetLastError();
    if (!again(error)) {
      tried.posixError = error;
      break;
    }
  }
  if (way != nullptr) *way = tried;
  if (tried.posixSemantics) return fd.Close();
  // Held open for too long; otherwise the rename is not supported here (an
  // older Windows, another filesystem, Wine): by name.
  if (Retryable(tried.posixError)) return false;
  if (!fd.Close()) return false;
  while (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    if (!again(GetLastError())) return false;
  }
  return true;
}

OutputTarget InspectOutput(const std::string& path) {
  using Found = OutputTarget::Found;
  OutputTarget target;
  target.path = path;
  const std::wstring wide = Widen(path);
  if (wide.empty()) return target;
  target.found = Inspect(wide, target);
  if (target.found == Found::kNothing) {
    target.path = Narrow(FullPath(wide));
    target.replaceable = true;
  }
  if (target.found == Found::kNothing || target.found == Found::kFile) {
    // A name ending in a separator is a folder's.
    if (BaseOf(path).empty()) target.replaceable = false;
    if (!target.replaceable) errno = EACCES;
  }
  return target;
}

UniqueFd DuplicateStandardOutput() { return UniqueFd(_dup(1)); }

UniqueFd OpenOutputStream(const std::string& path) {
  // With read access too where the device allows it: a console (CON,
  // CONOUT$) tells that it is one only to a handle that may read it, and is
  // then refused as a terminal. A pipe open for writing only takes a handle
  // for writing only.
  UniqueFd fd = OpenExisting(path, GENERIC_READ | GENERIC_WRITE);
  return fd ? std::move(fd) : OpenExisting(path, GENERIC_WRITE);
}

// Windows has no file without a name: a delete disposition (CreateTempFile)
// serves instead.
UniqueFd CreateUnnamedBeside(const std::string& /*target*/) { return UniqueFd(); }

UniqueFd CreateTempFile(const std::string& name, bool& vanishes) {
  HANDLE h = CreateFileW(Widen(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return UniqueFd();
  }
  vanishes = SetDeleteDisposition(h, true);
  UniqueFd fd = AdoptHandle(h);
  if (!fd) DeleteFileW(Widen(name).c_str());
  return fd;
}

// A temporary file goes with its handle, however the process ends.
void RemoveStaleTemps(const std::string& /*target*/) {}

// Windows files have no permission bits to keep.
void KeepOwnerAndMode(int /*fd*/, const std::string& /*target*/) {}

UniqueFd OpenInPlace(const std::string& target) {
  UniqueFd fd = AdoptHandle(CreateFileW(Widen(target).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!fd) SetErrnoFromLastError();
  return fd;
}

OutputFile::Replaced OutputFile::ReplaceTarget(bool /*syncFolder*/) {
  // From here the temporary file outlives the process under its name, until
  // the rename: the destructor removes it if that fails.
  if (kind_ == Kind::kUnnamed) {
    if (!SetDeleteDisposition(HandleOf(fd_.Get()), false)) return Replaced::kNo;
    kind_ = Kind::kNamed;
  }
  // No folder to sync after (see SyncFolder).
  return RenameOver(fd_, Widen(tempName_), Widen(target_)) ? Replaced::kYes : Replaced::kNo;
}

void OutputFile::Discard() {
  // An unnamed file went with its handle.
  if (kind_ == Kind::kNamed) DeleteFileW(Widen(tempName_).c_str());
}
