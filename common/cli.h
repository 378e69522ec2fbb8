// The arguments every program takes besides its two paths.
#ifndef ZOLT_COMMON_CLI_H
#define ZOLT_COMMON_CLI_H

// Handles "--help" and "--version" as the only argument, and any argument
// count other than two paths: prints to standard output and returns the
// exit status (0, or 5 with the usage line). Returns -1 when the program
// should convert argv[1] to argv[2]. usage holds one %s, the program's name
// as run; help describes the arguments.
int HandleArguments(int argc, char** argv, const char* name, const char* usage, const char* help);

// Runs a program's conversion and returns its exit status. Where memory runs
// out in code that allocates with new (a path, a handle), every owner on the
// way cleans up as for any other failure, and it ends as a failed buffer
// allocation does: the message, status 1.
int RunConversion(int (*convert)(int, char**), int argc, char** argv);

#endif
