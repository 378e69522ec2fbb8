// What a program asks of its process, the same on every system: its
// arguments as UTF-8, binary standard streams, the processors it may use,
// and interrupts.
#ifndef ZOLT_COMMON_PROCESS_H
#define ZOLT_COMMON_PROCESS_H

#include <string>

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

// Where the program's manual page is, as its help names it: "zoltenc(1)",
// or on Windows the HTML page beside the program.
std::string ManualPage(const char* program);

#endif
