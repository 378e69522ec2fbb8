// Files on Windows: C runtime descriptors over HANDLEs, read and written
// with ReadFile and WriteFile at 64-bit offsets.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "files.h"
#include "system.h"

// Each is measured by a first call with no room, then filled by a second;
// empty when either fails, or there is nothing to convert.
std::wstring Widen(const std::string& utf8) {
  const auto size = static_cast<int>(utf8.size());
  const int n = size == 0 ? 0 : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& utf16) {
  const auto size = static_cast<int>(utf16.size());
  const int n = size == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, narrow.data(), n, nullptr, nullptr);
  return narrow;
}

void SetErrnoFromLastError() {
  static const std::pair<DWORD, int> kErrnoOf[] = {
      {ERROR_FILE_NOT_FOUND, ENOENT},   {ERROR_PATH_NOT_FOUND, ENOENT},    {ERROR_INVALID_NAME, ENOENT},
      {ERROR_BAD_NETPATH, ENOENT},      {ERROR_ACCESS_DENIED, EACCES},     {ERROR_SHARING_VIOLATION, EACCES},
      {ERROR_LOCK_VIOLATION, EACCES},   {ERROR_NOT_ENOUGH_MEMORY, ENOMEM}, {ERROR_OUTOFMEMORY, ENOMEM},
      {ERROR_FILE_EXISTS, EEXIST},      {ERROR_ALREADY_EXISTS, EEXIST},    {ERROR_DISK_FULL, ENOSPC},
      {ERROR_HANDLE_DISK_FULL, ENOSPC},
  };
  const DWORD error = GetLastError();
  errno = EIO;
  for (const auto& [code, number] : kErrnoOf) {
    if (code == error) errno = number;
  }
}

HANDLE HandleOf(int fd) {
  // The C runtime gives a descriptor's HANDLE as an integer.
  return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
}

UniqueFd AdoptHandle(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return UniqueFd();
  UniqueFd fd(_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY));
  if (!fd) CloseHandle(h);
  return fd;
}

HANDLE OpenAttributes(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

UniqueFd OpenExisting(const std::string& path, DWORD access) {
  const std::wstring wide = Widen(path);
  if (wide.empty()) {
    errno = ENOENT;
    return UniqueFd();
  }
  // Others may go on reading, writing, renaming or deleting the file, as on
  // POSIX; only this handle's view of it is fixed.
  HANDLE h = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) SetErrnoFromLastError();
  return AdoptHandle(h);
}

namespace {
// ReadFile and WriteFile take at most 4 GiB - 1 at once.
constexpr std::size_t kChunk = std::size_t{1} << 30U;

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFU);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32U);
  return at;
}
}  // namespace

long long PreadFull(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  const HANDLE h = HandleOf(fd);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = At(offset + done);
    DWORD n = 0;
    if (ReadFile(h, bytes + done, static_cast<DWORD>(std::min(size - done, kChunk)), &n, &at) == 0) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return static_cast<long long>(done);
}

bool WriteFull(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
  const HANDLE h = HandleOf(fd);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = At(offset + done);
    DWORD n = 0;
    if (WriteFile(h, bytes + done, static_cast<DWORD>(std::min(size - done, kChunk)), &n,
                  offset == kAppend ? nullptr : &at) == 0 || n == 0) {
      return false;
    }
    done += n;
  }
  return true;
}

// Windows gathers only unbuffered writes of whole sectors.
bool WriteJoined(int fd, const void* head, std::size_t headSize, const void* buffer, std::size_t size,
                 std::uint64_t offset) {
  return WriteFull(fd, head, headSize, offset) && WriteFull(fd, buffer, size, offset + headSize);
}

const char kPathSeparators[] = "\\/";

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = 255;
  return GetComputerNameExW(ComputerNameDnsHostname, name, &size) != 0 && size > 0 ? Narrow(name) : "localhost";
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

long long ReadSome(int fd, void* buffer, std::size_t size) {
  DWORD n = 0;
  if (ReadFile(HandleOf(fd), buffer, static_cast<DWORD>(std::min(size, kChunk)), &n, nullptr) == 0) {
    // The writer closing its end of a pipe ends the stream.
    return GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return n;
}

bool Rewind(int fd) {
  const LARGE_INTEGER start{};
  return SetFilePointerEx(HandleOf(fd), start, nullptr, FILE_BEGIN) != 0;
}

bool CloseFd(int fd) { return _close(fd) == 0; }

UniqueFd OpenForReading(const char* path) { return OpenExisting(path, GENERIC_READ); }

UniqueFd DuplicateStandardInput() { return UniqueFd(_dup(0)); }

// A folder cannot be opened as a file here.
bool IsFolderFd(int /*fd*/) { return false; }

FilePtr StreamOf(UniqueFd& fd) {
  FilePtr file(_fdopen(fd.Get(), "rb"));
  if (file) (void)fd.Release();  // the stream owns it now
  return file;
}

UniqueFd MakeSpoolFile() {
  wchar_t dir[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, dir);
  if (length == 0 || length > MAX_PATH) return UniqueFd();
  HANDLE h = INVALID_HANDLE_VALUE;
  TakeName(Narrow(dir) + "zolt-spool-" + std::to_string(ProcessId()) + "-", [&h](const std::string& name) {
    // Deleted when its last handle closes, however the process ends.
    h = CreateFileW(Widen(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) SetErrnoFromLastError();
    return h != INVALID_HANDLE_VALUE;
  });
  return AdoptHandle(h);
}

bool RegularFileSize(int fd, std::uint64_t& size) {
  // Folders are never opened as files here.
  const HANDLE h = HandleOf(fd);
  LARGE_INTEGER bytes{};
  if (GetFileType(h) != FILE_TYPE_DISK || GetFileSizeEx(h, &bytes) == 0) return false;
  size = static_cast<std::uint64_t>(bytes.QuadPart);
  return true;
}

bool SyncFile(int fd) {
  // NUL, a console or a pipe holds nothing to make durable.
  const HANDLE h = HandleOf(fd);
  return GetFileType(h) != FILE_TYPE_DISK || FlushFileBuffers(h) != 0;
}

// Windows has no call that syncs a folder's entries: NTFS journals a rename
// itself.
bool SyncFolder(const std::string& /*path*/) { return true; }

// Windows starts no writeback on request; FlushFileBuffers does it all.
void StartWriteback(int /*fd*/) {}

void ReserveSpace(int fd, std::uint64_t size) {
  FILE_ALLOCATION_INFO info{};
  info.AllocationSize.QuadPart = static_cast<LONGLONG>(size);  // a ZOLT or TIFF file's size: far from the limit
  // A pipe or device refuses it, as fallocate does on POSIX.
  SetFileInformationByHandle(HandleOf(fd), FileAllocationInfo, &info, sizeof info);
}

bool IsTerminal(int fd) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(fd), &mode) != 0;  // unlike _isatty, false for NUL
}

FileId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32U) | info.nFileIndexLow};
}

bool IdentifyFile(int fd, FileId& id) {
  const HANDLE h = HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  // A pipe or device has no number: it is no file on a disk.
  BY_HANDLE_FILE_INFORMATION info{};
  id = {};
  if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) != 0) id = IdOf(info);
  return true;
}

bool IdentifyPath(const std::string& path, FileId& id) {
  const std::wstring wide = Widen(path);
  if (wide.empty()) return false;
  const UniqueFd fd = AdoptHandle(OpenAttributes(wide));
  return fd && IdentifyFile(fd.Get(), id) && id.inode != 0;
}

// libtiff reads what it would map: a mapped view would keep the file from
// being replaced while it is read.
void* MapReadOnly(int /*fd*/, std::size_t /*size*/) { return nullptr; }
void UnmapReadOnly(void* /*base*/, std::size_t /*size*/) {}
void ReleasePages(void* /*base*/, std::size_t /*begin*/, std::size_t /*end*/) {}
