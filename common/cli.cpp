#include "cli.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "messages.h"
#include "process.h"

namespace {
const char* program = "zolt";
}  // namespace

const char* DisplayName(const char* path, bool output) {
  if (std::strcmp(path, "-") != 0) return path;
  return output ? "standard output" : "standard input";
}

void Detail(const char* file, const std::string& what) {
  // One write, so that the line stays whole.
  const std::string line = std::string(program) + ": " + file + ": " + what + "\n";
  std::fputs(line.c_str(), stderr);
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

std::string OpenFailure(int error, const char* path, bool output) {
  if (IsFolder(path)) return "a folder";
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return output || !IsFolder(path, true) ? "no such folder" : "no such file";
    case EACCES:
    case EPERM:
      return "permission denied";
    default: {
      std::string words = std::strerror(error);
      if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
      return words;
    }
  }
}

int RunConversion(const Program& run, int argc, char** argv) {
  try {
    PrepareProcess(argc, argv);
    program = run.name;
    if (argc == 3) {
      const Outcome fault = run.convert(argv[1], argv[2]);
      if (!fault) return 0;
      Report(*fault);
      return 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      std::printf("%s %s\n", run.name, ZOLT_VERSION);
      return 0;
    }
    std::printf(run.usage, argc > 0 ? argv[0] : run.name);
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
      std::fputs(run.help, stdout);
      std::printf("See %s.\n", ManualPage(run.name).c_str());
      return 0;
    }
    return 5;
  } catch (const std::bad_alloc&) {
    Report(Failure::kAllocate);
    return 1;
  }
}
