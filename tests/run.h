// The process harness of the command-line tests: runs the programs under
// test (this build's, or another's through a wrapper such as Wine or qemu)
// and captures their status and output.
#ifndef ZOLT_TESTS_RUN_H
#define ZOLT_TESTS_RUN_H

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

struct RunOptions {
  rlim_t fileLimit = 0;  // when not 0, caps the size of any file the command writes
  uid_t user = 0;        // when not 0, the user it runs as (the test must run as root)
  std::string input;     // standard input from this file; /dev/null when empty
  int output = -1;       // standard output to this descriptor; else captured
};

// A file's bytes as a string.
std::string Slurp(const std::string& path);

// The words that run program with args: ZOLT_TEST_WRAPPER runs every
// program under a tool, such as "valgrind --error-exitcode=99 -q" or, for
// another architecture, an emulator ("qemu-arm").
std::vector<std::string> CommandWords(const std::string& program, const std::vector<std::string>& args);

// Replaces this (forked) process with the command.
[[noreturn]] void Exec(std::vector<std::string> words);

RunResult RunCommand(const std::vector<std::string>& words, const RunOptions& options = {});
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, rlim_t fileLimit = 0,
                     uid_t user = 0);

// A shell pipeline; each program in it is named by Shell(program).
RunResult RunShell(const std::string& command);
std::string Shell(const std::string& program);

bool Exists(const std::string& path);

// The programs under test: this build's, or the ones ZOLT_TEST_ZOLTENC and
// ZOLT_TEST_ZOLTDEC name (a Windows build's, run through Wine). Inline, so
// that they are set before the tables of any file that includes this.
std::string UnderTest(const char* variable, const char* built);
inline const std::string kEnc = UnderTest("ZOLT_TEST_ZOLTENC", ZOLTENC_PATH);
inline const std::string kDec = UnderTest("ZOLT_TEST_ZOLTDEC", ZOLTDEC_PATH);
inline const bool kWindows = kEnc.size() > 4 && kEnc.substr(kEnc.size() - 4) == ".exe";

// The name a program is run by, as it sees it: Wine gives a Windows program
// a path on its drive Z:, the root of this system.
std::string AsRun(const std::string& program);

// Why the test called name means nothing for the programs under test, or
// null.
const char* NotHereReason(const std::string& name);

// text with each placeholder replaced by its value.
std::string Expand(std::string text, const std::vector<std::pair<std::string, std::string>>& values);

#endif
