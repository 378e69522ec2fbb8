// What a program asks of its process, the same on every system: its
// arguments as UTF-8, binary standard streams, and the processors it may use.
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

// Where the program's manual page is, as its help names it: "zoltenc(1)",
// or on Windows the HTML page beside the program.
std::string ManualPage(const char* program);

#endif
