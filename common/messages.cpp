#include "messages.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "files.h"

namespace {
// The line's text; the two that hold sizes have a "%lldx%lld" for them. All
// but one start "Error: ", as users have always seen them.
const char* LineOf(Failure failure) {
  switch (failure) {
    case Failure::kOpenTiff: return "Error: Can't open TIFF File";
    case Failure::kOpenZolt: return "Error: Can't open ZOLT File";
    case Failure::kNotZolt: return "Error: not a ZOLT file";
    case Failure::kTruncated: return "Error: ZOLT file is truncated";
    case Failure::kInvalidSize: return "Error: invalid image size %lldx%lld";
    case Failure::kUnsupported: return "Error: source file should have 1 sample per pixel, and 8 bits per sample...";
    case Failure::kNotGreyOrPaletted: return "Unsupported file format - must be either paletted or greyscale...";
    case Failure::kNoColourMap: return "Error: paletted image has no colour map";
    case Failure::kTooLarge: return "Error: image is %lldx%lld; width and height must be 1 to 32767";
    case Failure::kReadImage: return "Error: can't read image data";
    case Failure::kOpenOutput: return "Error: Can't open output file";
    case Failure::kOutputIsInput: return "Error: output file is the input file";
    case Failure::kTerminal: return "Error: won't write binary data to a terminal";
    case Failure::kWriteOutput: return "Error: can't write output file";
    case Failure::kAllocate: return "Error: can't allocate temporary buffer";
    case Failure::kPaletteIsInput: return "Error: palette file is the input file";
    case Failure::kNotInPalette: return "Error: colours not in the palette";
    case Failure::kSameOutput: return "Error: another input has the same output";
    case Failure::kInterrupted: return "Error: interrupted";
  }
  return "";
}
}  // namespace

std::string ErrorLine(Failure failure, long long width, long long height) {
  char text[160];
  // The sizes fill a message's "%lldx%lld"; the others have no conversion.
  std::snprintf(text, sizeof text, LineOf(failure), width, height);  // NOLINT(clang-diagnostic-format-nonliteral)
  return std::string(text) + "\n";
}

std::string RunMessages(const char* program, const Notes& notes, const Outcome& fault, const std::string& prefix) {
  const std::string start = prefix.empty() ? std::string() : prefix + ": ";
  std::string lines;
  const auto add = [&](const Note& note) {
    if (!note.text.empty()) lines += start + program + ": " + note.file + ": " + note.text + "\n";
  };
  for (const Note& note : notes) add(note);
  if (fault) {
    add(fault->detail);
    lines += start + ErrorLine(fault->failure, fault->width, fault->height);
  }
  return lines;
}

const char* DisplayName(const char* path, bool output) {
  if (std::strcmp(path, "-") != 0) return path;
  return output ? "standard output" : "standard input";
}

std::string ErrorWords(int error) {
  std::string words = std::strerror(error);
  if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
  return words;
}

std::string OpenFailure(int error, const char* path, bool output) {
  if (IsFolder(path)) return "a folder";
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return output || !IsFolder(path, true) ? "no such folder" : "no such file";
    case EACCES:
    case EPERM:
      return "permission denied";
    default:
      return ErrorWords(error);
  }
}
