// The command line both programs share: the arguments besides the paths, a
// run of one file or of many, and the one place where what a run has to say
// is printed.
#ifndef ZOLT_CLI_CLI_H
#define ZOLT_CLI_CLI_H

#include <memory>

#include "messages.h"

class OutputFile;

// One conversion: the file in to the file out, the ZOLT file whose palette
// the output takes (--palette) or null, what starts each of libtiff's lines
// (the file's name in a batch) or null, and how many threads may decode (0:
// DecodeThreads()).
struct Request {
  const char* in;
  const char* out;
  const char* palette = nullptr;
  const char* linePrefix = nullptr;
  unsigned threads = 0;
};

// A program: its name (in its own lines too), its usage line with one %s for
// the name it was run as, the help that describes its arguments, its
// conversion, what names its inputs have in a batch and what its outputs
// get instead (".tif" and ".tiff" become ".zolt"; a list ending in null),
// the failure of an input that cannot be opened, and whether it takes
// --palette. The conversion returns why it failed, or leaves in out the
// whole output, still to be committed; it adds to notes what the user should
// know either way.
struct Program {
  const char* name;
  const char* usage;
  const char* help;
  Outcome (*convert)(const Request& request, Notes& notes, std::unique_ptr<OutputFile>& out);
  const char* const* inputExtensions;
  const char* outputExtension;
  Failure openInput;
  bool takesPalette = false;
};

// Runs a program and returns its exit status. "--help" (or "-h") and
// "--version" as the only argument, and any argument count other than two
// paths (after "--palette FILE" where the program takes it), print to
// standard output and end with 0 (or 5 with the usage line); two paths are
// converted: the notes and, on failure, the detail and the fixed message go
// to standard error, in that order, and the status is 1. "--batch" and one
// file or more convert each (see RunBatch). Where memory runs out in code
// that allocates with new (a path, a handle), every owner on the way cleans
// up as for any other failure, and it ends as a failed buffer allocation
// does: the message, status 1.
int RunConversion(const Program& program, int argc, char** argv);

// Converts each of count files at names to the name its output gets beside
// it, each as a run of its own would, on DecodeThreads() threads. Each line
// a file causes starts with its name: libtiff's as they come, the program's
// own together, in the order of the files, once the file's outcome is final; the status is 1 if any failed, 128
// plus the signal's number when interrupted (what was converted stays), and
// a last line counts what was converted and what failed when there was more
// than one file.
int RunBatch(const Program& program, char** names, int count);

#endif
