// The command line both programs share: the arguments besides the two
// paths, the run, and the one place where what a run has to say is printed.
#ifndef ZOLT_CLI_CLI_H
#define ZOLT_CLI_CLI_H

#include "messages.h"

// One conversion: the file in to the file out, and the ZOLT file whose
// palette the output takes (--palette), or null.
struct Request {
  const char* in;
  const char* out;
  const char* palette = nullptr;
};

// A program: its name (in its own lines too), its usage line with one %s for
// the name it was run as, the help that describes its arguments, its
// conversion, which returns why it failed and adds to notes what the user
// should know even when it did not, and whether it takes --palette.
struct Program {
  const char* name;
  const char* usage;
  const char* help;
  Outcome (*convert)(const Request& request, Notes& notes);
  bool takesPalette = false;
};

// Runs a program and returns its exit status. "--help" (or "-h") and
// "--version" as the only argument, and any argument count other than two
// paths (after "--palette FILE" where the program takes it), print to
// standard output and end with 0 (or 5 with the usage line); two paths are
// converted: the notes and, on failure, the detail and the
// fixed message go to standard error, in that order, and the status is 1.
// Where memory runs out in code that allocates with new (a path, a handle),
// every owner on the way cleans up as for any other failure, and it ends as
// a failed buffer allocation does: the message, status 1.
int RunConversion(const Program& program, int argc, char** argv);

#endif
