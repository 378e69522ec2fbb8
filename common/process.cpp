// What a program asks of its process that is the same on every system.
#include "process.h"

#include <algorithm>
#include <cstdlib>

unsigned DecodeThreads() {
  const char* env = std::getenv("ZOLT_THREADS");
  if (env != nullptr && *env >= '1' && *env <= '9') {
    char* end = nullptr;
    const unsigned long n = std::strtoul(env, &end, 10);
    if (*end == '\0') return static_cast<unsigned>(std::min<unsigned long>(n, kMaxThreads));
  }
  return std::clamp(ProcessorCount(), 1U, kMaxThreads);
}
