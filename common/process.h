// What a program asks of its process, the same on every system: its
// arguments as UTF-8, binary standard streams, the processors it may use,
// and interrupts.
#ifndef ZOLT_COMMON_PROCESS_H
#define ZOLT_COMMON_PROCESS_H

#include <cstddef>
#include <string>
#include <vector>

// Readies the process before a conversion: argv then holds the arguments as
// UTF-8, whatever the system's own form of them, for as long as the process
// runs; standard input, output and error pass bytes unchanged; a write past
// a size limit fails as any other write does; and no failure opens a window.
void PrepareProcess(int& argc, char**& argv);

// How many processors this process may run on (at least 1).
unsigned ProcessorCount();

// The number of threads to use: the ZOLT_THREADS environment variable when it
// is a positive integer, otherwise the number of processors this process may
// run on; never more than kMaxThreads.
constexpr unsigned kMaxThreads = 8;
unsigned DecodeThreads();

// From now on, an interrupt (Ctrl-C, SIGINT) or a request to terminate
// (SIGTERM, or the console closing on Windows) does not end the process: it
// is noted, for the work to stop cleanly, and a second one ends the process
// as before. For a run of many files.
void CatchInterrupts();
// The signal number of the first interrupt caught (2 for an interrupt, 15
// for a request to terminate), or 0.
int Interrupted();

// Writes size bytes of text (UTF-8) to standard output (fd 1) or standard
// error (2), in one write: where that is a console, as the console's own
// characters, so that any name shows as it is; otherwise the bytes
// unchanged. Never throws.
void WriteText(int fd, const char* text, std::size_t size) noexcept;
inline void WriteText(int fd, const std::string& text) noexcept { WriteText(fd, text.data(), text.size()); }

// Whether arg asks for the help: "--help" or "-h", and on Windows "/?".
bool AsksForHelp(const char* arg);

// How this system's shell takes name as one word, in a command the user may
// copy ('it'\''s' for a POSIX shell, "a b.tif" for cmd); the name of
// ImageMagick's converter there ("convert", or "magick" on Windows, where
// convert is the system's disk tool); and a variable set for the commands
// that follow ("NAME=VALUE", or "set NAME=VALUE" in cmd).
std::string ShellWord(const std::string& name);
extern const char kImageMagick[];
std::string VariableSetting(const char* name, const char* value);

// The count names given, each that holds * or ? replaced on Windows by the
// files it matches there, in order (cmd, unlike a POSIX shell, leaves that
// to the program); a pattern that matches nothing stays as it is.
std::vector<std::string> ExpandWildcards(char** names, int count);

// Where the program's manual page is, as its help names it: "zoltenc(1)",
// or on Windows the HTML page beside the program.
std::string ManualPage(const char* program);

#endif
