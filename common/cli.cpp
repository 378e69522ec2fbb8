#include "cli.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "process.h"

int HandleArguments(int argc, char** argv, const char* name, const char* usage, const char* help) {
  if (argc == 3) return -1;
  const char* program = argc > 0 ? argv[0] : name;
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", name, ZOLT_VERSION);
    return 0;
  }
  std::printf(usage, program);
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(help, stdout);
    return 0;
  }
  return 5;
}

int RunConversion(int (*convert)(int, char**), int argc, char** argv) {
  try {
    PrepareProcess(argc, argv);
    return convert(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("Error: can't allocate temporary buffer\n", stderr);
    return 1;
  }
}
