#include "messages.h"

#include <cstdio>
#include <string>

const char* MessageOf(Failure failure) {
  switch (failure) {
    case Failure::kOpenTiff: return "Can't open TIFF File";
    case Failure::kOpenZolt: return "Can't open ZOLT File";
    case Failure::kNotZolt: return "not a ZOLT file";
    case Failure::kTruncated: return "ZOLT file is truncated";
    case Failure::kInvalidSize: return "invalid image size %lldx%lld";
    case Failure::kUnsupported: return "source file should have 1 sample per pixel, and 8 bits per sample...";
    case Failure::kNotGreyOrPaletted: return "Unsupported file format - must be either paletted or greyscale...";
    case Failure::kNoColourMap: return "paletted image has no colour map";
    case Failure::kTooLarge: return "image is %lldx%lld; width and height must be 1 to 32767";
    case Failure::kReadImage: return "can't read image data";
    case Failure::kOpenOutput: return "Can't open output file";
    case Failure::kOutputIsInput: return "output file is the input file";
    case Failure::kTerminal: return "won't write binary data to a terminal";
    case Failure::kWriteOutput: return "can't write output file";
    case Failure::kAllocate: return "can't allocate temporary buffer";
  }
  return "";
}

std::string ErrorLine(Failure failure, long long width, long long height) {
  char text[160];
  // The sizes fill a message's "%lldx%lld"; the others have no conversion.
  std::snprintf(text, sizeof text, MessageOf(failure), width, height);  // NOLINT(clang-diagnostic-format-nonliteral)
  return std::string(failure == Failure::kNotGreyOrPaletted ? "" : "Error: ") + text + "\n";
}

void Report(const Fault& fault) { std::fputs(ErrorLine(fault.failure, fault.width, fault.height).c_str(), stderr); }
