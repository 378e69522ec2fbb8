// Putting a finished file in its target's place on Windows.
#ifndef ZOLT_COMMON_WIN32_RENAME_H
#define ZOLT_COMMON_WIN32_RENAME_H

#include <windows.h>

#include <string>

#include "resources.h"

// How the last rename went: by the handle with POSIX semantics (Windows 10
// 1709 and later, on NTFS), or by name with MoveFileExW where the system
// answers that with an error (posixError, e.g. ERROR_INVALID_PARAMETER).
struct RenameWay {
  bool posixSemantics = false;
  DWORD posixError = ERROR_SUCCESS;
};

// Renames fd's file, named temp, over target, replacing what is there; fd
// is closed on the way. While another process holds the target or the file
// open (an antivirus, an indexer), it tries again for about two seconds.
// False when it cannot: target is then as it was, and temp still exists.
bool RenameOver(UniqueFd& fd, const std::wstring& temp, const std::wstring& target, RenameWay* way = nullptr);

#endif
