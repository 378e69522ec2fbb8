// What the Windows files of common/ share: UTF-8 and UTF-16 names, Windows'
// errors told as errno, and C runtime descriptors over HANDLEs.
#ifndef ZOLT_COMMON_WIN32_SYSTEM_H
#define ZOLT_COMMON_WIN32_SYSTEM_H

#include <windows.h>

#include <string>

#include "resources.h"

// A UTF-8 string as UTF-16; empty when it is not valid UTF-8.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

// Sets errno for GetLastError(), so that strerror tells what POSIX would.
void SetErrnoFromLastError();

HANDLE HandleOf(int fd);
// A descriptor that owns h from now on: h is closed if none can be made.
UniqueFd AdoptHandle(HANDLE h);

// A file's identity from what Windows tells of it.
struct FileId;
FileId IdOf(const BY_HANDLE_FILE_INFORMATION& info);

// A handle that reads only the attributes of what path names (a folder too,
// links followed); INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenAttributes(const std::wstring& path);

// Opens an existing file or device by its UTF-8 name; errno tells why not.
UniqueFd OpenExisting(const std::string& path, DWORD access);

#endif
