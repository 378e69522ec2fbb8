// The arguments every program takes besides its two paths.
#ifndef ZOLT_COMMON_CLI_H
#define ZOLT_COMMON_CLI_H

#include <string>

// Handles "--help" (or "-h") and "--version" as the only argument, and any argument
// count other than two paths: prints to standard output and returns the
// exit status (0, or 5 with the usage line). Returns -1 when the program
// should convert argv[1] to argv[2]. usage holds one %s, the program's name
// as run; help describes the arguments. name is the program's name in
// Detail lines from then on.
int HandleArguments(int argc, char** argv, const char* name, const char* usage, const char* help);

// How a path is named in messages: "standard input" or "standard output"
// for "-", otherwise the path as given.
const char* DisplayName(const char* path, bool output);

// Whether path names a folder.
bool IsFolder(const char* path);

// Says what was found, as one line of the program's own, "PROGRAM: FILE:
// what", before the fixed message that ends standard error.
void Detail(const char* file, const std::string& what);

// Why path could not be opened, from the error the system gave: "a folder",
// "no such file", "no such folder", "permission denied", or the system's
// own words.
std::string OpenFailure(int error, const char* path, bool output);

// Runs a program's conversion and returns its exit status. Where memory runs
// out in code that allocates with new (a path, a handle), every owner on the
// way cleans up as for any other failure, and it ends as a failed buffer
// allocation does: the message, status 1.
int RunConversion(int (*convert)(int, char**), int argc, char** argv);

#endif
