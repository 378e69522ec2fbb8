// The process on a POSIX system.
#include <sched.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "process.h"

void PrepareProcess(int& /*argc*/, char**& /*argv*/) {
  // Arguments are bytes already, and streams never translate them. A write
  // beyond the file-size limit fails like any other write instead of
  // killing the process.
  std::signal(SIGXFSZ, SIG_IGN);
}

unsigned ProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  const int cpus = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
  return cpus > 0 ? static_cast<unsigned>(cpus) : 1U;
}

std::string ManualPage(const char* program) { return std::string(program) + "(1)"; }

namespace {
std::atomic<int> caught{0};

void Note(int signal) {
  int none = 0;
  caught.compare_exchange_strong(none, signal);
  // The next one ends the process, as it would have.
  std::signal(signal, SIG_DFL);
}
}  // namespace

void CatchInterrupts() {
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction action {};
    action.sa_handler = Note;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

int Interrupted() { return caught.load(std::memory_order_relaxed); }

void WriteText(int fd, const char* text, std::size_t size) noexcept {
  std::FILE* stream = fd == 1 ? stdout : stderr;
  std::fwrite(text, 1, size, stream);
  // Whole lines leave at once, as they did through stderr's own buffering.
  if (stream == stderr) std::fflush(stream);
}

bool AsksForHelp(const char* arg) { return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0; }

std::string ShellWord(const std::string& name) {
  if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._+,@/-") ==
      std::string::npos) {
    return name;
  }
  std::string quoted = "'";
  for (const char c : name) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

const char kImageMagick[] = "convert";

std::string VariableSetting(const char* name, const char* value) { return std::string(name) + "=" + value; }

// The shell has expanded them.
std::vector<std::string> ExpandWildcards(char** names, int count) { return {names, names + count}; }
