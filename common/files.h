// What the system provides about files (common/posix or common/win32), and
// what common/files.cpp builds on it. Descriptors are ints everywhere: on
// Windows, C runtime descriptors over HANDLEs.
#ifndef ZOLT_COMMON_FILES_H
#define ZOLT_COMMON_FILES_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "resources.h"

// Tells whether two open descriptors are one file: the device (volume) and
// the file's number on it.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};
inline bool operator==(const FileId& a, const FileId& b) { return a.device == b.device && a.inode == b.inode; }
bool IdentifyFile(int fd, FileId& id);
// The file path names, links followed; false when it names none.
bool IdentifyPath(const std::string& path, FileId& id);

// Closes fd; false when the system reports an error (a late write error
// among them).
bool CloseFd(int fd);

// Opens an existing file for reading; errno tells why not.
UniqueFd OpenForReading(const char* path);
// A descriptor of its own for standard input.
UniqueFd DuplicateStandardInput();
// Whether fd is a folder (which only POSIX opens as a file).
bool IsFolderFd(int fd);
// Whether path, or with parent the folder it is in, names a folder.
bool IsFolder(const char* path, bool parent = false);
// A stream that owns fd from now on, fd released; null (fd kept) if none.
FilePtr StreamOf(UniqueFd& fd);
constexpr int kStandardInput = 0;

// The characters that end a folder's part of a path ("/"; on Windows "\\/"),
// this host's name and this process's number.
extern const char kPathSeparators[];
std::string HostName();
unsigned long ProcessId();

// The folder part of a path ("." when there is none), the name in it, and a
// name joined to a folder.
std::string DirOf(const std::string& path);
std::string BaseOf(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);

// Gives a new file a name of its own, prefix + N + ".tmp" for a count N:
// create makes the file under a proposed name, and a name already taken
// (create false, errno EEXIST) is replaced by the next, 100 times at most.
// Returns the name, or "" when create fails otherwise.
std::string TakeName(const std::string& prefix, const std::function<bool(const std::string&)>& create);

// Reads up to size bytes at offset; stops early only at the end of the file.
// Returns the count read, or -1 on an error.
long long PreadFull(int fd, void* buffer, std::size_t size, std::uint64_t offset);

// Writes all size bytes at offset, or at the current position when offset is
// kAppend (for pipes and devices). False on any error.
constexpr std::uint64_t kAppend = ~std::uint64_t{0};
bool WriteFull(int fd, const void* buffer, std::size_t size, std::uint64_t offset);
// Writes headSize bytes of head and then size bytes of buffer back to back
// at offset, as one write where the system can gather them. False on any
// error.
bool WriteJoined(int fd, const void* head, std::size_t headSize, const void* buffer, std::size_t size,
                 std::uint64_t offset);

// Reads what fd has next, up to size bytes; 0 at the end (of a pipe whose
// writer is gone too), -1 on an error.
long long ReadSome(int fd, void* buffer, std::size_t size);
// Moves fd's position back to its start.
bool Rewind(int fd);
// Copies from's bytes, from its start, or with fromStart false from where it
// stands, to its end, to to (a pipe or device too). False on any read or
// write error. (Built on the above, in common/files.cpp.)
bool CopyStream(int from, int to, bool fromStart = false);

// A temporary file that disappears with its descriptor, for content that
// must be seekable but has nowhere else to go: in the user's temporary folder.
UniqueFd MakeSpoolFile();

// Makes fd's content durable: on the disk, not only in the system's cache,
// so that it survives a power loss. True where fd is no file to sync (a
// pipe, a terminal). False on an error.
bool SyncFile(int fd);

// Starts writing fd's content to the disk, without waiting for it: a sync
// that follows finds less to do. Only a hint; nothing where the system has
// no such call.
void StartWriteback(int fd);

// Makes the entries of the folder at path durable, so that a name just
// linked or renamed in it survives a power loss. True where the system needs
// no such sync, or the folder cannot be opened to be synced (this user may
// write it but not list it); false, errno set, when the sync fails.
bool SyncFolder(const std::string& path);

// Sets space aside on the disk for the first size bytes of fd's content,
// where the file system can, leaving the file's size as it is: the writes
// that fill it then allocate nothing, and cost less. Only a hint: where
// space runs short, the writes report it.
void ReserveSpace(int fd, std::uint64_t size);

// Whether fd is a terminal (a console), which takes no binary data.
bool IsTerminal(int fd);

// The size of fd when it is a regular file; false for a pipe, a device, a
// folder, or when the system cannot tell.
bool RegularFileSize(int fd, std::uint64_t& size);

// The first size bytes of fd, mapped read-only; null where they cannot be.
void* MapReadOnly(int fd, std::size_t size);
void UnmapReadOnly(void* base, std::size_t size);
// Lets the system reclaim the mapped pages under base[begin, end): read
// again, they come back from the file.
void ReleasePages(void* base, std::size_t begin, std::size_t end);

#endif
