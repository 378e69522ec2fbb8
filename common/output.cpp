#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "files.h"

OutputFile::OutputFile(Kind kind, UniqueFd fd, std::string target)
    : kind_(kind), fd_(std::move(fd)), target_(std::move(target)) {}

std::unique_ptr<OutputFile> OutputFile::ForStream(UniqueFd out, Access how, const std::string& target, bool& terminal) {
  if (!out) return nullptr;
  if (IsTerminal(out.Get())) {
    terminal = true;
    return nullptr;
  }
  if (how == Access::kSequential) return std::unique_ptr<OutputFile>(new OutputFile(Kind::kStream, std::move(out), target));
  UniqueFd spool = MakeSpoolFile();
  if (!spool) return nullptr;
  std::unique_ptr<OutputFile> file(new OutputFile(Kind::kSpool, std::move(spool), target));
  file->streamFd_ = std::move(out);
  return file;
}

bool OutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  if (kind_ != Kind::kStream) return WriteFull(fd_.Get(), data, size, offset);
  if (offset != streamed_ || !WriteFull(fd_.Get(), data, size, kAppend)) return false;
  streamed_ += size;
  return true;
}

bool OutputFile::Commit() {
  // Whatever takes the content's place is on the disk first: a power loss
  // then leaves the old content or the new, never an empty or partial file.
  // (The spool file is scratch; what it is copied to is synced instead.)
  switch (kind_) {
    case Kind::kStream:
    case Kind::kInPlace:
      committed_ = SyncFile(fd_.Get()) && fd_.Close();
      break;
    case Kind::kSpool: {
      const bool copied = CopyStream(fd_.Get(), streamFd_.Get(), true) && SyncFile(streamFd_.Get());
      committed_ = streamFd_.Close() && copied;
      fd_.Close();
      break;
    }
    case Kind::kUnnamed:
    case Kind::kNamed:
      committed_ = SyncFile(fd_.Get()) && ReplaceTarget();
      break;
  }
  return committed_;
}

OutputFile::~OutputFile() {
  if (committed_) return;
  fd_.Close();
  Discard();
}

std::unique_ptr<OutputFile> OpenOutput(const char* path, OutputFile::Access how, const char* inputPath,
                                       const FileId& input) {
  FileId output;
  if (std::strcmp(path, "-") != 0 && std::strcmp(inputPath, "-") != 0 && input.inode != 0 &&
      IdentifyPath(path, output) && output == input) {
    std::fputs("Error: output file is the input file\n", stderr);
    return nullptr;
  }
  bool terminal = false;
  errno = 0;
  std::unique_ptr<OutputFile> out = OutputFile::Open(path, how, input, terminal);
  if (out) return out;
  if (terminal) {
    std::fputs("Error: won't write binary data to a terminal\n", stderr);
  } else {
    Detail(DisplayName(path, true), OpenFailure(errno, path, true));
    std::fputs("Error: Can't open output file\n", stderr);
  }
  return nullptr;
}

std::string TempPrefix(const std::string& target) {
  return "." + BaseOf(target).substr(0, 120) + "." + HostName().substr(0, 64) + ".";
}

std::string TakeTempName(const std::string& target, const std::function<bool(const std::string&)>& create) {
  return TakeName(JoinPath(DirOf(target), TempPrefix(target) + std::to_string(ProcessId()) + "-"), create);
}
