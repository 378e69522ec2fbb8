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
#include <string>

#include "files.h"
#include "resources.h"

class OutputFile {
 public:
  enum class Access {
    kSequential,  // pieces come in file order: a pipe can take them as they come
    kSeekable,    // the writer seeks (libtiff): Fd() must be a seekable file
  };

  // Opens the output for path ("-": standard output); input is the file
  // being converted, which is never written in place. Null when no output
  // can be had; terminal is then true when the output is a terminal.
  static std::unique_ptr<OutputFile> Open(const std::string& path, Access how, const FileId& input, bool& terminal);

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
  // Writes size bytes at offset. Safe to call from several threads at once
  // when Positioned().
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t size);
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
  // The output for a stream (standard output, a device, a pipe) open as
  // out: straight through, or through a spool file for a writer that seeks;
  // refused for a terminal.
  static std::unique_ptr<OutputFile> ForStream(UniqueFd out, Access how, const std::string& target, bool& terminal);
  // Puts the temporary file in the target's place (the system's part of
  // Commit()), and removes what a failed run leaves (of the destructor).
  bool ReplaceTarget();
  void Discard();

  Kind kind_;
  UniqueFd fd_;
  std::string target_;       // the file that is replaced (links resolved)
  std::string tempName_;     // kNamed: the temporary file's path
  UniqueFd streamFd_;        // kSpool: the device or pipe written on Commit()
  FileId id_;                // kInPlace: the file to remove on failure
  std::uint64_t streamed_ = 0;  // kStream: bytes written so far
  bool committed_ = false;
};

// Opens the output for path as OutputFile::Open does, after refusing an
// output that is the input file (inputPath, identified as input) itself;
// standard input and output are never refused so. When it cannot, prints why
// (a line naming the file, then the message) and returns null.
std::unique_ptr<OutputFile> OpenOutput(const char* path, OutputFile::Access how, const char* inputPath,
                                       const FileId& input);

// For the systems' parts of OutputFile: the start of the hidden names of
// target's temporary files made by this host, ".NAME.HOST." (the host keeps
// apart the names of hosts that share a folder), and a new temporary file
// beside target, made by create under ".NAME.HOST.PID-N.tmp" (see TakeName).
std::string TempPrefix(const std::string& target);
std::string TakeTempName(const std::string& target, const std::function<bool(const std::string&)>& create);

#endif
