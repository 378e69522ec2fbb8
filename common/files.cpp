// What is built on the system's file primitives, the same everywhere.
#include "files.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
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

bool IsFolder(const char* path, bool parent) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  try {
    fs::path name = fs::u8path(path);
    if (parent) name = name.has_parent_path() ? name.parent_path() : fs::path(".");
    return fs::is_directory(name, ignored);
  } catch (const std::exception&) {  // a name that is no path here
    return false;
  }
}
