#include "output.h"

#include <cerrno>
#include <cstring>

#include "files.h"
#include "messages.h"
#include "platform.h"

namespace {
// Why an output cannot be had, as its detail line says it.
Fault OpenFault(const char* path) {
  return Fault(Failure::kOpenOutput, DisplayName(path, true), OpenFailure(errno, path, true));
}

// Whether a folder refused a new file for the permission alone: where the
// file itself may still be written, it is written in place.
bool RefusedForPermission(int error) { return error == EACCES || error == EPERM || error == EROFS; }
}  // namespace

OutputFile::OutputFile(Kind kind, UniqueFd fd, std::string target, std::string name)
    : kind_(kind), fd_(std::move(fd)), writer_(fd_.Get()), target_(std::move(target)), folder_(DirOf(target_)),
      name_(std::move(name)) {}

Outcome OutputFile::Open(const char* path, Access how, const char* inputPath, const FileId& input,
                         std::unique_ptr<OutputFile>& out) {
  const bool standard = std::strcmp(path, "-") == 0;
  FileId output;
  if (!standard && std::strcmp(inputPath, "-") != 0 && input.inode != 0 && IdentifyPath(path, output) &&
      output == input) {
    return Failure::kOutputIsInput;
  }
  errno = 0;
  const char* name = DisplayName(path, true);
  // Standard output, a device, pipe, socket or terminal: written straight
  // through, in the order the bytes come, whatever standard output is.
  Outcome fault =
      standard ? ForStream(DuplicateStandardOutput(), how, path, name, out) : OpenPath(path, name, how, input, out);
  if (fault && fault->failure == Failure::kOpenOutput && fault->detail.text.empty()) return OpenFault(path);
  return fault;
}

Outcome OutputFile::ForStream(UniqueFd fd, Access how, const std::string& target, const char* name,
                              std::unique_ptr<OutputFile>& out) {
  if (!fd) return Failure::kOpenOutput;
  if (IsTerminal(fd.Get())) return Failure::kTerminal;
  if (how == Access::kSequential) {
    out.reset(new OutputFile(Kind::kStream, std::move(fd), target, name));
  } else if (UniqueFd spool = MakeSpoolFile()) {
    out.reset(new OutputFile(Kind::kSpool, std::move(spool), target, name));
    out->streamFd_ = std::move(fd);
  } else {
    return Failure::kOpenOutput;
  }
  return {};
}

Outcome OutputFile::OpenPath(const std::string& path, const char* name, Access how, const FileId& input,
                             std::unique_ptr<OutputFile>& out) {
  const OutputTarget target = InspectOutput(path);
  using Found = OutputTarget::Found;
  if (target.found == Found::kOther) return ForStream(OpenOutputStream(target.path), how, target.path, name, out);
  // Only a file this user may write is replaced, as when it was opened for
  // writing.
  if (target.found == Found::kFolder || target.found == Found::kError || !target.replaceable) {
    return Failure::kOpenOutput;
  }
  const bool exists = target.found == Found::kFile;

  UniqueFd fd = CreateUnnamedBeside(target.path);
  if (fd) {
    out.reset(new OutputFile(Kind::kUnnamed, std::move(fd), target.path, name));
  } else {
    RemoveStaleTemps(target.path);
    bool vanishes = false;
    std::string temp = TakeTempName(target.path, [&fd, &vanishes](const std::string& candidate) {
      fd = CreateTempFile(candidate, vanishes);
      return static_cast<bool>(fd);
    });
    if (!temp.empty()) {
      out.reset(new OutputFile(vanishes ? Kind::kUnnamed : Kind::kNamed, std::move(fd), target.path, name));
      out->tempName_ = std::move(temp);
    }
  }
  if (out) {
    if (exists) KeepOwnerAndMode(out->Fd(), target.path);
    return {};
  }

  // The folder takes no new file. For its permission alone, an existing file
  // that may be written (and is not the input) is written in place, once the
  // whole content is in a spool file; nothing else is a reason to touch it.
  const int error = errno;
  const std::string why = OpenFailure(error, path.c_str(), true);
  if (!exists || !RefusedForPermission(error)) {
    return Fault(Failure::kOpenOutput, name, exists ? "no new file can be made beside it: " + why : why);
  }
  if (target.id.inode != 0 && target.id == input) return Failure::kOutputIsInput;
  UniqueFd spool = MakeSpoolFile();
  if (!spool) return Fault(Failure::kOpenOutput, name, "no spool file for a copy in place: " + ErrorWords(errno));
  out.reset(new OutputFile(Kind::kInPlace, std::move(spool), target.path, name));
  out->whyInPlace_ = why;
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

Outcome OutputFile::CopyInPlace(Notes& notes) {
  notes.push_back({name_, "written in place, since its folder takes no new file (" + whyInPlace_ +
                              "); a power loss during the copy could leave it partial"});
  // Opened only now: until the whole content is here, the file is untouched.
  UniqueFd file = OpenInPlace(target_);
  if (!file) return Fault(Failure::kWriteOutput, name_, "can't open it to copy over it: " + ErrorWords(errno));
  errno = 0;
  if (CopyStream(fd_.Get(), file.Get(), true) && SyncFile(file.Get()) && file.Close()) {
    fd_.Close();
    committed_ = true;
    return {};
  }
  return Fault(Failure::kWriteOutput, name_,
               "the copy over it failed part way (" + ErrorWords(errno != 0 ? errno : EIO) + "); it is incomplete");
}

Outcome OutputFile::Finish() { return writer_.Finish() ? Outcome() : Outcome(Failure::kWriteOutput); }

void OutputFile::StartWriteback() {
  if (kind_ == Kind::kUnnamed || kind_ == Kind::kNamed) ::StartWriteback(fd_.Get());
}

Fault OutputFile::FolderUnsynced(int error) const {
  // Replaced all the same: nothing is left to remove, but a status of 0
  // would promise what a power loss may take back.
  return Fault(Failure::kWriteOutput, name_,
               "replaced, but its folder could not be synced (" + ErrorWords(error != 0 ? error : EIO) +
                   "), so a power loss may bring back the old file");
}

Outcome OutputFile::Commit(Notes& notes, bool syncFolder) {
  // Whatever takes the content's place is on the disk first: a power loss
  // then leaves the old content or the new, never an empty or partial file.
  // (A spool file is scratch; what it is copied to is synced instead.)
  if (Outcome fault = Finish()) return fault;
  if (kind_ == Kind::kInPlace) return CopyInPlace(notes);
  if (kind_ == Kind::kSpool) {
    const bool copied = CopyStream(fd_.Get(), streamFd_.Get(), true) && SyncFile(streamFd_.Get());
    committed_ = streamFd_.Close() && copied;
    fd_.Close();
  } else if (kind_ == Kind::kStream) {
    committed_ = SyncFile(fd_.Get()) && fd_.Close();
  } else if (SyncFile(fd_.Get())) {
    errno = 0;
    const Replaced replaced = ReplaceTarget(syncFolder);
    committed_ = renamed_ = replaced != Replaced::kNo;
    if (replaced == Replaced::kUnsynced) return FolderUnsynced(errno);
  }
  return committed_ ? Outcome() : Outcome(Failure::kWriteOutput);
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
