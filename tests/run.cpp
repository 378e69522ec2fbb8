// Runs the programs under test as a user or script would, and captures what
// they do.
#include "run.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "tiffgen.h"

std::string Slurp(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  return {bytes.begin(), bytes.end()};
}

std::vector<std::string> CommandWords(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> words;
  std::istringstream wrapper(std::getenv("ZOLT_TEST_WRAPPER") != nullptr ? std::getenv("ZOLT_TEST_WRAPPER") : "");
  for (std::string word; wrapper >> word;) words.push_back(word);
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

[[noreturn]] void Exec(std::vector<std::string> words) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

RunResult RunCommand(const std::vector<std::string>& words, const RunOptions& options) {
  const std::string dir = TempDir();
  const std::string outPath = dir + "/stdout";
  const std::string errPath = dir + "/stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(options.input.empty() ? "/dev/null" : options.input.c_str(), O_RDONLY);
    const int out = options.output >= 0 ? options.output : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    const rlimit limit{options.fileLimit, options.fileLimit};
    if (options.fileLimit != 0) setrlimit(RLIMIT_FSIZE, &limit);
    const uid_t user = options.user;
    if (user != 0 && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)) _exit(126);
    Exec(words);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), Slurp(outPath), Slurp(errPath)};
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, rlim_t fileLimit, uid_t user) {
  return RunCommand(CommandWords(program, args), {fileLimit, user, "", -1});
}

RunResult RunShell(const std::string& command) { return RunCommand({"/bin/sh", "-c", command}); }

std::string Shell(const std::string& program) {
  std::string words;
  for (const std::string& word : CommandWords(program, {})) words += word + " ";
  return words;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string UnderTest(const char* variable, const char* built) {
  const char* other = std::getenv(variable);
  return other != nullptr && *other != '\0' ? other : built;
}

std::string AsRun(const std::string& program) {
  if (!kWindows) return program;
  std::string name = "Z:" + program;
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

namespace {
// The tests that mean nothing for one system's programs, and why; where
// there is a counterpart, it is named.
struct NotHere {
  const char* name;
  bool windows;  // skipped for Windows programs, else for Linux ones
  const char* reason;
};
const NotHere kNotHere[] = {
    {"EncDevFull", true, "Windows has no device that is always full"},
    {"DecDevFull", true, "Windows has no device that is always full"},
    {"EncFileTooLarge", true, "Windows limits no process's file size (RLIMIT_FSIZE)"},
    {"DecFileTooLarge", true, "Windows limits no process's file size (RLIMIT_FSIZE)"},
    {"EncNul", false, "NUL is a device on Windows only; EncDevNull is the counterpart"},
    {"DecNul", false, "NUL is a device on Windows only; DecDevNull is the counterpart"},
    {"KeepsMode", true, "Windows files have no permission bits; ReadOnlyAttributeRefused is the counterpart"},
    {"KeepsExecMode", true, "Windows files have no permission bits; ReadOnlyAttributeRefused is the counterpart"},
    {"ReadOnlyFileRefused", true, "no setuid on Windows; ReadOnlyAttributeRefused is the counterpart"},
    {"ReadOnlyFolderWritesInPlace", true, "no setuid on Windows, and Wine runs as root here, whom no folder refuses"},
    {"ReadOnlyFolderNoFile", true, "no setuid on Windows, and Wine runs as root here, whom no folder refuses"},
    {"ReadOnlyFolderOutputIsInput", true, "no setuid on Windows, and Wine runs as root here, whom no folder refuses"},
    {"ReadOnlyFolderFailingKeepsOld", true, "no setuid on Windows, and Wine runs as root here, whom no folder refuses"},
    {"InterruptHalfWay", true, "no FIFOs on Windows to hold a run half way, and Wine passes no SIGINT on"},
    {"ReadOnlyAttributeRefused", false, "root may write a read-only file on Linux; ReadOnlyFileRefused is the counterpart"},
    {"FifoOutput", true, "no FIFOs on Windows; pipes are in StandardInputAndOutput"},
    {"LinkKeptTargetReplaced", true, "Wine shows a Windows program a Unix symbolic link as the file it names, not as a link"},
    {"DanglingLinkCreatesTarget", true, "Wine shows a Windows program a Unix symbolic link as the file it names, not as a link"},
};
}  // namespace

const char* NotHereReason(const std::string& name) {
  for (const NotHere& n : kNotHere) {
    if (name == n.name && n.windows == kWindows) return n.reason;
  }
  return nullptr;
}
std::string Expand(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
      text.replace(at, name.size(), value);
    }
  }
  return text;
}
