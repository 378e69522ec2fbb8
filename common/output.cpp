#include "output.h"

#include <cerrno>
#include <cstring>

#include "cli.h"
#include "files.h"
#include "messages.h"

OutputFile::OutputFile(Kind kind, UniqueFd fd, std::string target)
    : kind_(kind), fd_(std::move(fd)), writer_(fd_.Get()), target_(std::move(target)) {}

Outcome OutputFile::Open(const char* path, Access how, const char* inputPath, const FileId& input,
                         std::unique_ptr<OutputFile>& out) {
  const bool standard = std::strcmp(path, "-") == 0;
  FileId output;
  if (!standard && std::strcmp(inputPath, "-") != 0 && input.inode != 0 && IdentifyPath(path, output) &&
      output == input) {
    return Failure::kOutputIsInput;
  }
  errno = 0;
  // Standard output, a device, pipe, socket or terminal: written straight
  // through, in the order the bytes come, whatever standard output is.
  Outcome fault = standard ? ForStream(DuplicateStandardOutput(), how, path, out) : OpenPath(path, how, input, out);
  if (fault && fault->failure == Failure::kOpenOutput) Detail(DisplayName(path, true), OpenFailure(errno, path, true));
  return fault;
}

Outcome OutputFile::ForStream(UniqueFd fd, Access how, const std::string& target, std::unique_ptr<OutputFile>& out) {
  if (!fd) return Failure::kOpenOutput;
  if (IsTerminal(fd.Get())) return Failure::kTerminal;
  if (how == Access::kSequential) {
    out.reset(new OutputFile(Kind::kStream, std::move(fd), target));
  } else if (UniqueFd spool = MakeSpoolFile()) {
    out.reset(new OutputFile(Kind::kSpool, std::move(spool), target));
    out->streamFd_ = std::move(fd);
  } else {
    return Failure::kOpenOutput;
  }
  return {};
}

Outcome OutputFile::OpenPath(const std::string& path, Access how, const FileId& input,
                             std::unique_ptr<OutputFile>& out) {
  const OutputTarget target = InspectOutput(path);
  using Found = OutputTarget::Found;
  if (target.found == Found::kOther) return ForStream(OpenOutputStream(target.path), how, target.path, out);
  // Only a file this user may write is replaced, as when it was opened for
  // writing.
  if (target.found == Found::kFolder || target.found == Found::kError || !target.replaceable) {
    return Failure::kOpenOutput;
  }
  const bool exists = target.found == Found::kFile;

  UniqueFd fd = CreateUnnamedBeside(target.path);
  if (fd) {
    out.reset(new OutputFile(Kind::kUnnamed, std::move(fd), target.path));
  } else {
    RemoveStaleTemps(target.path);
    bool vanishes = false;
    std::string name = TakeTempName(target.path, [&fd, &vanishes](const std::string& candidate) {
      fd = CreateTempFile(candidate, vanishes);
      return static_cast<bool>(fd);
    });
    if (!name.empty()) {
      out.reset(new OutputFile(vanishes ? Kind::kUnnamed : Kind::kNamed, std::move(fd), target.path));
      out->tempName_ = std::move(name);
    }
  }
  if (out) {
    if (exists) KeepOwnerAndMode(out->Fd(), target.path);
    return {};
  }

  // No temporary file can be made in the folder: write the existing file in
  // place, unless it is the input being read.
  if (!exists || (target.id.inode != 0 && target.id == input)) return Failure::kOpenOutput;
  fd = OpenInPlace(target.path);
  if (!fd) return Failure::kOpenOutput;
  out.reset(new OutputFile(Kind::kInPlace, std::move(fd), path));
  out->id_ = target.id;
  return {};
}

bool OutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  if (kind_ != Kind::kStream) {
    // Through the writer unless another thread is using it; then straight to
    // the file, since pieces from different threads never overlap. Nothing
    // waits: a decoding thread is never held up, and no lock ever sleeps.
    const std::unique_lock<std::mutex> lock(writeMutex_, std::try_to_lock);
    return lock.owns_lock() ? writer_.Write(data, size, offset) : WriteFull(fd_.Get(), data, size, offset);
  }
  if (offset != streamed_ || !WriteFull(fd_.Get(), data, size, kAppend)) return false;
  streamed_ += size;
  return true;
}

bool OutputFile::Commit() {
  // Whatever takes the content's place is on the disk first: a power loss
  // then leaves the old content or the new, never an empty or partial file.
  // (The spool file is scratch; what it is copied to is synced instead.)
  if (!writer_.Finish()) return false;
  if (kind_ == Kind::kSpool) {
    const bool copied = CopyStream(fd_.Get(), streamFd_.Get(), true) && SyncFile(streamFd_.Get());
    committed_ = streamFd_.Close() && copied;
    fd_.Close();
  } else {
    const bool replaces = kind_ == Kind::kUnnamed || kind_ == Kind::kNamed;
    committed_ = SyncFile(fd_.Get()) && (replaces ? ReplaceTarget() : fd_.Close());
  }
  return committed_;
}

OutputFile::~OutputFile() {
  if (committed_) return;
  fd_.Close();
  Discard();
}

std::string TempPrefix(const std::string& target) {
  return "." + BaseOf(target).substr(0, 120) + "." + HostName().substr(0, 64) + ".";
}

std::string TakeTempName(const std::string& target, const std::function<bool(const std::string&)>& create) {
  return TakeName(JoinPath(DirOf(target), TempPrefix(target) + std::to_string(ProcessId()) + "-"), create);
}
