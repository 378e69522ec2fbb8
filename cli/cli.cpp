#include "cli.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "messages.h"
#include "output.h"
#include "process.h"

namespace {
// Prints what a run has to say in one write, so that its lines stay whole
// and together.
void Print(const std::string& lines) {
  if (!lines.empty()) std::fputs(lines.c_str(), stderr);
}
}  // namespace

int RunConversion(const Program& run, int argc, char** argv) {
  Notes notes;
  try {
    PrepareProcess(argc, argv);
    if (argc > 2 && std::strcmp(argv[1], "--batch") == 0) return RunBatch(run, argv + 2, argc - 2);
    const bool palette = run.takesPalette && argc == 5 && std::strcmp(argv[1], "--palette") == 0;
    if (argc == 3 || palette) {
      const Request request = palette ? Request{argv[3], argv[4], argv[2]} : Request{argv[1], argv[2]};
      std::unique_ptr<OutputFile> out;
      Outcome fault = run.convert(request, notes, out);
      if (!fault) fault = out->Commit(notes);
      Print(RunMessages(run.name, notes, fault));
      return fault ? 1 : 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      std::printf("%s %s\n", run.name, ZOLT_VERSION);
      return 0;
    }
    std::printf(run.usage, argc > 0 ? argv[0] : run.name);
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
      std::fputs(run.help, stdout);
      std::printf("See %s.\n", ManualPage(run.name).c_str());
      return 0;
    }
    return 5;
  } catch (const std::bad_alloc&) {
    // The notes gathered so far are not printed: each would need memory.
    std::fputs(ErrorLine(Failure::kAllocate).c_str(), stderr);
    return 1;
  }
}
