// The arguments every program takes besides its two paths.
#ifndef ZOLT_COMMON_CLI_H
#define ZOLT_COMMON_CLI_H

#include <string>

#include "messages.h"

// A program: its name (in Detail lines too), its usage line with one %s for
// the name it was run as, the help that describes its arguments, and its
// conversion of the file in to the file out, which returns why it failed.
struct Program {
  const char* name;
  const char* usage;
  const char* help;
  Outcome (*convert)(const char* in, const char* out);
};

// How a path is named in messages: "standard input" or "standard output"
// for "-", otherwise the path as given.
const char* DisplayName(const char* path, bool output);

// Whether path, or with parent the folder it is in, names a folder.
bool IsFolder(const char* path, bool parent = false);

// Says what was found, as one line of the program's own, "PROGRAM: FILE:
// what", before the fixed message that ends standard error.
void Detail(const char* file, const std::string& what);

// Why path could not be opened, from the error the system gave: "a folder",
// "no such file", "no such folder", "permission denied", or the system's
// own words.
std::string OpenFailure(int error, const char* path, bool output);

// Runs a program and returns its exit status. "--help" (or "-h") and
// "--version" as the only argument, and any argument count other than two
// paths, print to standard output and end with 0 (or 5 with the usage line);
// two paths are converted: a failure's message ends standard error, and the
// status is 1. Where memory runs out in code that allocates with
// new (a path, a handle), every owner on the way cleans up as for any other
// failure, and it ends as a failed buffer allocation does: the message,
// status 1.
int RunConversion(const Program& program, int argc, char** argv);

#endif
