// What is built on the system's file primitives, the same everywhere.
#include "files.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

bool CopyStream(int from, int to, bool fromStart) {
  if (fromStart && !Rewind(from)) return false;
  std::vector<std::uint8_t> buffer(std::size_t{1} << 20U);
  for (;;) {
    const long long n = ReadSome(from, buffer.data(), buffer.size());
    if (n <= 0) return n == 0;
    if (!WriteFull(to, buffer.data(), static_cast<std::size_t>(n), kAppend)) return false;
  }
}

bool PageWriter::Finish() {
  if (heldSize_ > 0 && !WriteFull(fd_, held_, heldSize_, heldAt_)) return false;
  heldSize_ = 0;
  return true;
}

bool PageWriter::Write(const void* data, std::size_t size, std::uint64_t offset) {
  // What is held goes with these bytes where they follow it, alone
  // otherwise.
  if (heldAt_ + heldSize_ != offset && !Finish()) return false;
  if (held_ == nullptr && size >= kPage) {
    buffer_.reset(new (std::nothrow) std::uint8_t[kPage + kCopyAlignment]);
    if (buffer_) held_ = AlignedFor(buffer_.get(), 0);
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::size_t keep = held_ != nullptr && size >= kPage ? static_cast<std::size_t>((offset + size) % kPage) : 0;
  if (!WriteJoined(fd_, held_, heldSize_, bytes, size - keep, heldSize_ > 0 ? heldAt_ : offset)) return false;
  if (keep > 0) std::memcpy(held_, bytes + size - keep, keep);
  heldSize_ = keep;
  heldAt_ = offset + size - keep;
  return true;
}

std::string DirOf(const std::string& path) {
  const std::size_t slash = path.find_last_of(kPathSeparators);
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);  // the root keeps its separator
}

std::string BaseOf(const std::string& path) {
  const std::size_t slash = path.find_last_of(kPathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && std::string(kPathSeparators).find(folder.back()) != std::string::npos) return folder + name;
  return folder + kPathSeparators[0] + name;
}

std::string TakeName(const std::string& prefix, const std::function<bool(const std::string&)>& create) {
  static unsigned counter = 0;
  for (int i = 0; i < 100; ++i) {
    std::string name = prefix + std::to_string(counter++) + ".tmp";
    if (create(name)) return name;
    if (errno != EEXIST) break;
  }
  return {};
}
