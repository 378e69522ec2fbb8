// The fixed messages that end standard error when a run fails: the README's
// table and users' scripts rely on them word for word, so each is written
// here once. A line of the program's own may come before (cli.h, Detail).
// The stages of a conversion return the failure; RunConversion prints it.
#ifndef ZOLT_COMMON_MESSAGES_H
#define ZOLT_COMMON_MESSAGES_H

#include <optional>
#include <string>

enum class Failure {
  kOpenTiff,       // the TIFF input cannot be opened as one
  kOpenZolt,       // the ZOLT input cannot be opened
  kNotZolt,        // it does not start with the magic
  kTruncated,      // it ends before its palette
  kInvalidSize,    // its header's width or height is below 1 (two numbers)
  kUnsupported,    // a TIFF image that is not 1 sample of up to 8 bits
  kNotGreyOrPaletted,  // nor greyscale or paletted (its line alone has no "Error: ")
  kNoColourMap,    // a paletted TIFF image without its colour map
  kTooLarge,       // a TIFF image a ZOLT header cannot hold (two numbers)
  kReadImage,      // the TIFF image's data cannot be decoded
  kOpenOutput,     // no output can be had at the path
  kOutputIsInput,  // the output path names the input file
  kTerminal,       // the output is a terminal
  kWriteOutput,    // writing, syncing or renaming the output failed
  kAllocate,       // memory ran out
};

// A failure that ends a run, with the width and height that two of the
// messages hold.
struct Fault {
  // NOLINTNEXTLINE(google-explicit-constructor): a failure alone is a fault with no sizes
  Fault(Failure which, long long w = 0, long long h = 0) : failure(which), width(w), height(h) {}
  Failure failure;
  long long width;
  long long height;
};
// How a stage ends: no value when it went well.
using Outcome = std::optional<Fault>;

// The line a failure ends standard error with ("Error: " and the message,
// for all but kNotGreyOrPaletted), with the width and height where it holds
// them, and a newline.
std::string ErrorLine(Failure failure, long long width = 0, long long height = 0);

// Prints that line on standard error, in one write.
void Report(const Fault& fault);

#endif
