// The process on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <bitset>
#include <string>
#include <vector>

#include "process.h"
#include "system.h"

void PrepareProcess(int& argc, char**& argv) {
  // Failures are told on standard error, never in a window.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // Bytes pass unchanged: no CR before LF, no end at a Ctrl-Z.
  for (const int fd : {0, 1, 2}) (void)_setmode(fd, _O_BINARY);
  // The arguments as typed, in UTF-16, given on as UTF-8: names in any
  // script, not only the system's code page.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;
  static std::vector<std::string> arguments;
  static std::vector<char*> pointers;
  arguments.reserve(static_cast<std::size_t>(count));
  pointers.reserve(static_cast<std::size_t>(count) + 1);
  for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i]));
  LocalFree(static_cast<HLOCAL>(wide));
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  argc = count;
  argv = pointers.data();
}

unsigned ProcessorCount() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) == 0) return 1;
  const auto count = static_cast<unsigned>(std::bitset<sizeof(DWORD_PTR) * 8>(process).count());
  return count > 0 ? count : 1U;
}

// The ZIP holds the manual pages as HTML in doc\, beside bin\.
std::string ManualPage(const char* program) { return std::string("doc\\") + program + ".1.html"; }

namespace {
std::atomic<int> caught{0};

BOOL WINAPI Note(DWORD event) {
  int none = 0;
  // Ctrl-C and Ctrl-Break interrupt; a closing console asks to terminate.
  if (!caught.compare_exchange_strong(none, event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 2 : 15)) {
    return FALSE;  // the second ends the process
  }
  return TRUE;
}
}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(Note, TRUE); }

int Interrupted() { return caught.load(std::memory_order_relaxed); }
