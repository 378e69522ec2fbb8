// What a run tells its user. The fixed messages that end standard error when
// a run fails: the README's table and users' scripts rely on them word for
// word, so each is written here once. Before it may come lines of the
// program's own, "PROGRAM: FILE: what": notes on what a conversion did that
// the user may not expect, and the detail of the failure. The stages of a
// conversion return these as values; only the command line prints them.
#ifndef ZOLT_COMMON_MESSAGES_H
#define ZOLT_COMMON_MESSAGES_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class Failure {
  kOpenTiff,       // the TIFF input cannot be opened as one
  kOpenZolt,       // the ZOLT input cannot be opened
  kNotZolt,        // it does not start with the magic
  kTruncated,      // it ends before its palette
  kInvalidSize,    // its header's width or height is below 1 (two numbers)
  kUnsupported,    // a TIFF image of a layout InspectTiff does not take
  kNotGreyOrPaletted,  // nor greyscale or paletted (its line alone has no "Error: ")
  kNoColourMap,    // a paletted TIFF image without its colour map
  kTooLarge,       // a TIFF image a ZOLT header cannot hold (two numbers)
  kReadImage,      // the TIFF image's data cannot be decoded
  kOpenOutput,     // no output can be had at the path
  kOutputIsInput,  // the output path names the input file
  kTerminal,       // the output is a terminal
  kWriteOutput,    // writing, syncing or renaming the output failed
  kAllocate,       // memory ran out
  kPaletteIsInput,  // the file given for its palette is the input
  kNotInPalette,   // colours that the palette given lacks
  kSameOutput,     // in a batch, another input has the same output
  kInterrupted,    // the run was interrupted before this file was done
};

// A line of the program's own about one file: what was found or done.
struct Note {
  std::string file;  // as messages name it (see DisplayName)
  std::string text;
};
using Notes = std::vector<Note>;

// A failure that ends a run: which, the width and height that two of the
// messages hold, and, where the fixed line alone would leave the user
// guessing, a detail line that says what was found.
struct Fault {
  // NOLINTNEXTLINE(google-explicit-constructor): a failure alone is a fault with no detail
  Fault(Failure which, long long w = 0, long long h = 0) : failure(which), width(w), height(h) {}
  Fault(Failure which, std::string file, std::string what, long long w = 0, long long h = 0)
      : failure(which), width(w), height(h), detail{std::move(file), std::move(what)} {}
  Failure failure;
  long long width;
  long long height;
  Note detail;  // empty text: none
};
// How a stage ends: no value when it went well.
using Outcome = std::optional<Fault>;

// The line a failure ends standard error with ("Error: " and the message,
// for all but kNotGreyOrPaletted), with the width and height where it holds
// them, and a newline.
std::string ErrorLine(Failure failure, long long width = 0, long long height = 0);

// Everything a run has to say, in the order it is said: each note, then the
// fault's detail and its fixed line. The lines of the program's own start
// "PROGRAM: FILE: ", and with prefix, "PREFIX: " before that.
std::string RunMessages(const char* program, const Notes& notes, const Outcome& fault, const std::string& prefix = "");

// How a path is named in messages: "standard input" or "standard output"
// for "-", otherwise the path as given.
const char* DisplayName(const char* path, bool output);

// Why path could not be opened, from the error the system gave: "a folder",
// "no such file", "no such folder", "permission denied", or the system's
// own words.
std::string OpenFailure(int error, const char* path, bool output);

// The system's words for an error, as they read in the middle of a line.
std::string ErrorWords(int error);

#endif
