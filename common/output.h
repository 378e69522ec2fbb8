// Where a program's output goes. Nothing appears at the output path until
// Commit(): the content is written into a temporary file in the output's own
// folder (unnamed where the filesystem allows, so that a killed run leaves
// nothing behind), which is then renamed over the path. The path therefore
// holds either what it held before or the whole new file.
//
//   output path                        how it is written
//   regular file, or nothing yet       temporary file beside it, renamed over
//                                      it; an existing file's mode is kept
//   symbolic link                      as for its target; the link stays
//   "-" (standard output), device,     straight through, in order; a writer
//   pipe, socket                       that must seek gets a spool file that
//                                      is copied out on Commit()
//   terminal                           refused: binary data is never written
//                                      to one
//   folder allows no temporary file    in place, as a last resort, when the
//                                      existing file can be written and is
//                                      not the input; removed on failure
#ifndef ZOLT_COMMON_OUTPUT_H
#define ZOLT_COMMON_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "files.h"
#include "messages.h"
#include "resources.h"

class OutputFile {
 public:
  enum class Access {
    kSequential,  // pieces come in file order: a pipe can take them as they come
    kSeekable,    // the writer seeks (libtiff): Fd() must be a seekable file
  };

  // Opens the output for path ("-": standard output) into out. input is the
  // file being converted (inputPath as given), which is never written: an
  // output path that names it is refused, unless either is standard input
  // or output. When it cannot, returns why, after a line naming the file
  // where that says more.
  static Outcome Open(const char* path, Access how, const char* inputPath, const FileId& input,
                      std::unique_ptr<OutputFile>& out);

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Without Commit(), the output path is left as it was (or, for a failed
  // in-place write, the incomplete file is removed).
  ~OutputFile();

  // The descriptor the content goes to; seekable when opened kSeekable.
  int Fd() const { return fd_.Get(); }
  // Whether WriteAt takes pieces in any order (false for a straight-through
  // pipe or device, which takes them only in file order).
  bool Positioned() const { return kind_ != Kind::kStream; }
  // Writes size bytes at offset, or holds back their end to write it with
  // the piece that follows (see PageWriter). Safe to call from several
  // threads at once when Positioned(), for pieces that do not overlap.
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  // Sets space aside for size bytes of content, where the output is a file
  // (see ReserveSpace): no more than will be written, which the disk would
  // otherwise keep.
  void Reserve(std::uint64_t size) {
    if (kind_ != Kind::kStream) ReserveSpace(fd_.Get(), size);
  }
  // Makes the content the output: copies out a spool file, syncs the content
  // to the disk, closes, links and renames, and syncs the folder. False when
  // any of it fails; the output path is then as it was, except after a failed
  // folder sync, when it holds the whole new file.
  bool Commit();

 private:
  // kUnnamed: a temporary file that vanishes if the process dies (unnamed,
  // or named with a delete disposition); kNamed: one with a name of its own.
  enum class Kind { kUnnamed, kNamed, kInPlace, kStream, kSpool };
  OutputFile(Kind kind, UniqueFd fd, std::string target);
  // The output at path, a file's or a stream's; kOpenOutput with errno
  // telling why, or kTerminal, when there is none.
  static Outcome OpenPath(const std::string& path, Access how, const FileId& input, std::unique_ptr<OutputFile>& out);
  // The output for a stream (standard output, a device, a pipe) open as fd:
  // straight through, or through a spool file for a writer that seeks.
  static Outcome ForStream(UniqueFd fd, Access how, const std::string& target, std::unique_ptr<OutputFile>& out);
  // Puts the temporary file in the target's place (the system's part of
  // Commit()), and removes what a failed run leaves (of the destructor).
  bool ReplaceTarget();
  void Discard();

  Kind kind_;
  UniqueFd fd_;
  PageWriter writer_;        // WriteAt's, but for kStream; used under writeMutex_
  std::mutex writeMutex_;
  std::string target_;       // the file that is replaced (links resolved)
  std::string tempName_;     // kNamed: the temporary file's path
  UniqueFd streamFd_;        // kSpool: the device or pipe written on Commit()
  FileId id_;                // kInPlace: the file to remove on failure
  std::uint64_t streamed_ = 0;  // kStream: bytes written so far
  bool committed_ = false;
};

// What each system supplies to OutputFile::Open (common/posix, common/win32).

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
// Opens the existing file target for writing, emptied.
UniqueFd OpenInPlace(const std::string& target);

// For the systems' parts of OutputFile: the start of the hidden names of
// target's temporary files made by this host, ".NAME.HOST." (the host keeps
// apart the names of hosts that share a folder), and a new temporary file
// beside target, made by create under ".NAME.HOST.PID-N.tmp" (see TakeName).
std::string TempPrefix(const std::string& target);
std::string TakeTempName(const std::string& target, const std::function<bool(const std::string&)>& create);

#endif
