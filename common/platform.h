// What each system supplies to the output algorithm of common/output.cpp
// (common/posix, common/win32). Private to common/: the programs reach
// these only through OutputFile.
#ifndef ZOLT_COMMON_PLATFORM_H
#define ZOLT_COMMON_PLATFORM_H

#include <functional>
#include <string>

#include "files.h"
#include "resources.h"

// What an output path names.
struct OutputTarget {
  enum class Found { kNothing, kFile, kFolder, kOther, kError };
  Found found = Found::kError;  // kOther: a device, pipe, socket or terminal
  std::string path;             // the file to write: links followed
  FileId id;                    // kFile: which file it is
  // Whether a file may be written there: an existing file this user may
  // write, or a name that can be a file's. When false, errno tells why.
  bool replaceable = false;
};
OutputTarget InspectOutput(const std::string& path);
UniqueFd DuplicateStandardOutput();
// Opens a device or pipe for writing.
UniqueFd OpenOutputStream(const std::string& path);
// A file with no name in target's folder, which a commit links into place;
// invalid where the system or the folder has none.
UniqueFd CreateUnnamedBeside(const std::string& target);
// Creates the file name exclusively (errno EEXIST when the name is taken);
// vanishes tells whether it goes with the process unless kept on commit.
UniqueFd CreateTempFile(const std::string& name, bool& vanishes);
// Removes what runs killed before their commit left of target's temporary
// files, where those can be left behind.
void RemoveStaleTemps(const std::string& target);
// Gives the replacement fd the owner and permissions of the file target.
void KeepOwnerAndMode(int fd, const std::string& target);
// Opens the existing file target for writing, emptied; errno tells why not.
UniqueFd OpenInPlace(const std::string& target);

// For the systems' parts of OutputFile: the start of the hidden names of
// target's temporary files made by this host, ".NAME.HOST." (the host keeps
// apart the names of hosts that share a folder), and a new temporary file
// beside target, made by create under ".NAME.HOST.PID-N.tmp" (see TakeName).
std::string TempPrefix(const std::string& target);
std::string TakeTempName(const std::string& target, const std::function<bool(const std::string&)>& create);

#endif
