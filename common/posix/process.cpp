// The process on a POSIX system.
#include <sched.h>

#include <atomic>
#include <csignal>

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
