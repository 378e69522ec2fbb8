// The process on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "files.h"
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

void WriteText(int fd, const char* text, std::size_t size) noexcept {
  std::FILE* stream = fd == 1 ? stdout : stderr;
  // A console shows UTF-16: it would take the UTF-8 bytes for its code page.
  const HANDLE console = GetStdHandle(fd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode) != 0) {
    try {
      const std::wstring wide = Widen(std::string(text, size));
      DWORD written = 0;
      std::fflush(stream);
      if (!wide.empty() && WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != 0) {
        return;
      }
    } catch (const std::exception&) {  // no memory: the bytes, as they are
    }
  }
  // Redirected: the bytes as they are, UTF-8 (docs/windows.md).
  std::fwrite(text, 1, size, stream);
  if (stream == stderr) std::fflush(stream);
}

bool AsksForHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "/?") == 0;
}

std::string ShellWord(const std::string& name) {
  // cmd splits a command at these, or expands them, outside double quotes
  // (a file name holds no double quote).
  if (name.find_first_of(" \t&|<>^()%!,;=") == std::string::npos) return name;
  return "\"" + name + "\"";
}

const char kImageMagick[] = "magick";

std::string VariableSetting(const char* name, const char* value) { return std::string("set ") + name + "=" + value; }

std::vector<std::string> ExpandWildcards(char** names, int count) {
  std::vector<std::string> expanded;
  for (int i = 0; i < count; ++i) {
    const std::string name = names[i];
    const std::size_t cut = name.find_last_of(kPathSeparators);
    std::vector<std::string> found;
    WIN32_FIND_DATAW entry{};
    HANDLE h = name.find_first_of("*?") == std::string::npos || (cut != std::string::npos &&
                                                                 name.find_first_of("*?") < cut)
                   ? INVALID_HANDLE_VALUE  // no pattern, or one in a folder's part: as given
                   : FindFirstFileW(Widen(name).c_str(), &entry);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
          found.push_back(name.substr(0, cut == std::string::npos ? 0 : cut + 1) + Narrow(entry.cFileName));
        }
      } while (FindNextFileW(h, &entry) != 0);
      FindClose(h);
    }
    std::sort(found.begin(), found.end());
    if (found.empty()) found.push_back(name);
    expanded.insert(expanded.end(), found.begin(), found.end());
  }
  return expanded;
}
