#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "files.h"
#include "messages.h"

OutputFile::OutputFile(Kind kind, UniqueFd fd, std::string target)
    : kind_(kind), fd_(std::move(fd)), target_(std::move(target)) {}

OutputFile::Opened OutputFile::ForStream(UniqueFd out, Access how, const std::string& target) {
  Opened opened;
  if (!out) return opened;
  if (IsTerminal(out.Get())) {
    opened.terminal = true;
  } else if (how == Access::kSequential) {
    opened.file.reset(new OutputFile(Kind::kStream, std::move(out), target));
  } else if (UniqueFd spool = MakeSpoolFile()) {
    opened.file.reset(new OutputFile(Kind::kSpool, std::move(spool), target));
    opened.file->streamFd_ = std::move(out);
  }
  return opened;
}

OutputFile::Opened OutputFile::Open(const std::string& path, Access how, const FileId& input) {
  // Standard output, a device, pipe, socket or terminal: written straight
  // through, in the order the bytes come, whatever standard output is.
  if (path == "-") return ForStream(DuplicateStandardOutput(), how, path);
  const OutputTarget target = InspectOutput(path);
  using Found = OutputTarget::Found;
  if (target.found == Found::kFolder || target.found == Found::kError) return {};
  if (target.found == Found::kOther) return ForStream(OpenOutputStream(target.path), how, target.path);
  // Only a file this user may write is replaced, as when it was opened for
  // writing.
  if (!target.replaceable) return {};
  const bool exists = target.found == Found::kFile;

  std::unique_ptr<OutputFile> file;
  UniqueFd fd = CreateUnnamedBeside(target.path);
  if (fd) {
    file.reset(new OutputFile(Kind::kUnnamed, std::move(fd), target.path));
  } else {
    RemoveStaleTemps(target.path);
    bool vanishes = false;
    std::string name = TakeTempName(target.path, [&fd, &vanishes](const std::string& candidate) {
      fd = CreateTempFile(candidate, vanishes);
      return static_cast<bool>(fd);
    });
    if (!name.empty()) {
      file.reset(new OutputFile(vanishes ? Kind::kUnnamed : Kind::kNamed, std::move(fd), target.path));
      file->tempName_ = std::move(name);
    }
  }
  if (file) {
    if (exists) KeepOwnerAndMode(file->Fd(), target.path);
    return {std::move(file)};
  }

  // No temporary file can be made in the folder: write the existing file in
  // place, unless it is the input being read.
  if (!exists || (target.id.inode != 0 && target.id == input)) return {};
  fd = OpenInPlace(target.path);
  if (!fd) return {};
  file.reset(new OutputFile(Kind::kInPlace, std::move(fd), path));
  file->id_ = target.id;
  return {std::move(file)};
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

Outcome OpenOutput(const char* path, OutputFile::Access how, const char* inputPath, const FileId& input,
                   std::unique_ptr<OutputFile>& out) {
  FileId output;
  if (std::strcmp(path, "-") != 0 && std::strcmp(inputPath, "-") != 0 && input.inode != 0 &&
      IdentifyPath(path, output) && output == input) {
    return Failure::kOutputIsInput;
  }
  errno = 0;
  OutputFile::Opened opened = OutputFile::Open(path, how, input);
  if (opened.terminal) return Failure::kTerminal;
  if (!opened.file) {
    Detail(DisplayName(path, true), OpenFailure(errno, path, true));
    return Failure::kOpenOutput;
  }
  out = std::move(opened.file);
  return {};
}

std::string TempPrefix(const std::string& target) {
  return "." + BaseOf(target).substr(0, 120) + "." + HostName().substr(0, 64) + ".";
}

std::string TakeTempName(const std::string& target, const std::function<bool(const std::string&)>& create) {
  return TakeName(JoinPath(DirOf(target), TempPrefix(target) + std::to_string(ProcessId()) + "-"), create);
}
