#include "cli.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "messages.h"
#include "output.h"
#include "process.h"


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
      // What the run has to say, in one write, so that its lines stay whole
      // and together.
      WriteText(2, RunMessages(run.name, notes, fault));
      return fault ? 1 : 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      WriteText(1, std::string(run.name) + " " + ZOLT_VERSION + "\n");
      return 0;
    }
    char usage[4096];
    std::snprintf(usage, sizeof usage, run.usage, argc > 0 ? argv[0] : run.name);
    WriteText(1, usage, std::strlen(usage));
    if (argc == 2 && AsksForHelp(argv[1])) {
      WriteText(1, std::string(run.help) + VariableSetting("ZOLT_THREADS", "N") +
                       " sets how many threads convert files and decode a compressed image.\nSee " +
                       ManualPage(run.name) + ".\n");
      return 0;
    }
    return 5;
  } catch (const std::bad_alloc&) {
    // The notes gathered so far are not printed: each would need memory.
    WriteText(2, ErrorLine(Failure::kAllocate));
    return 1;
  }
}
