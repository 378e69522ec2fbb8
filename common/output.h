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
//   folder refuses a new file for      into a spool file in the user's
//   permission, file writable          temporary folder; on Commit(), copied
//                                      over the file in place, with a note:
//                                      only a power loss during that copy
//                                      can leave it partial
// Any other reason that no temporary file can be made (a full disk, a quota,
// no descriptors left) refuses the output.
#ifndef ZOLT_COMMON_OUTPUT_H
#define ZOLT_COMMON_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "files.h"
#include "messages.h"
#include "pagewriter.h"
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
  // or output. When it cannot, returns why.
  static Outcome Open(const char* path, Access how, const char* inputPath, const FileId& input,
                      std::unique_ptr<OutputFile>& out);

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Without Commit(), the output path is left as it was.
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
  // Writes out what is still held back: the content is then complete.
  Outcome Finish();
  // Starts writing the content to the disk, for a commit that comes later
  // (see StartWriteback).
  void StartWriteback();
  // Makes the content the output: copies out a spool file, syncs the content
  // to the disk, closes, links and renames, and syncs the folder (unless
  // syncFolder is false: the caller then syncs Folder(), and reports a
  // failure with FolderUnsynced). Returns why it failed; the output path is
  // then as it was, except where the detail says otherwise (the folder's
  // sync failed after the rename, or a copy in place failed part way). A
  // copy in place adds its note to notes.
  Outcome Commit(Notes& notes, bool syncFolder = true);
  // Whether the commit renamed a file into Folder(), the output's folder; and
  // the fault of an output renamed into it when its sync failed with error.
  bool Renamed() const { return renamed_; }
  const std::string& Folder() const { return folder_; }
  Fault FolderUnsynced(int error) const;

 private:
  // kUnnamed: a temporary file that vanishes if the process dies (unnamed,
  // or named with a delete disposition); kNamed: one with a name of its own;
  // kInPlace: a spool file copied over the target on commit.
  enum class Kind { kUnnamed, kNamed, kInPlace, kStream, kSpool };
  OutputFile(Kind kind, UniqueFd fd, std::string target, std::string name);
  // The output at path, a file's or a stream's; kOpenOutput with errno
  // telling why, or kTerminal, when there is none.
  static Outcome OpenPath(const std::string& path, const char* name, Access how, const FileId& input,
                          std::unique_ptr<OutputFile>& out);
  // The output for a stream (standard output, a device, a pipe) open as fd:
  // straight through, or through a spool file for a writer that seeks.
  static Outcome ForStream(UniqueFd fd, Access how, const std::string& target, const char* name,
                           std::unique_ptr<OutputFile>& out);
  // Copies the spool file over the target in place, and syncs it.
  Outcome CopyInPlace(Notes& notes);
  // Puts the temporary file in the target's place (the system's part of
  // Commit()), and removes what a failed run leaves (of the destructor).
  enum class Replaced { kNo, kYes, kUnsynced };  // kUnsynced: but the folder's sync failed
  Replaced ReplaceTarget(bool syncFolder);
  void Discard();

  Kind kind_;
  UniqueFd fd_;
  PageWriter writer_;        // WriteAt's, but for kStream; used under writeMutex_
  std::mutex writeMutex_;
  std::string target_;       // the file that is replaced (links resolved)
  std::string folder_;       // its folder
  std::string name_;         // the output as messages name it
  std::string tempName_;     // kNamed: the temporary file's path
  std::string whyInPlace_;   // kInPlace: why the folder took no new file
  UniqueFd streamFd_;        // kSpool: the device or pipe written on Commit()
  std::uint64_t streamed_ = 0;  // kStream: bytes written so far
  bool committed_ = false;
  bool renamed_ = false;  // the commit renamed a file into Folder()
};

#endif
