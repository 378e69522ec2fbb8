// The process on a POSIX system.
#include <sched.h>

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
