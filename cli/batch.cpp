// Many files in one run: each converted as a run of its own would be, on
// several threads, their outputs committed in groups.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli.h"
#include "files.h"
#include "messages.h"
#include "output.h"
#include "process.h"

namespace {

// Outputs written and waiting for their commit: at most this many, so that
// open descriptors and memory stay bounded whatever the number of files.
constexpr std::size_t kGroupFiles = 64;

bool EndsWithIgnoringCase(const std::string& name, const char* end) {
  const std::size_t n = std::strlen(end);
  if (name.size() <= n) return false;
  return std::equal(name.end() - static_cast<std::ptrdiff_t>(n), name.end(), end, [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

// NAME.tif becomes NAME.zolt beside it (the extension in any case); a name
// with another extension gets the output's added.
std::string OutputName(const Program& program, const std::string& input) {
  for (const char* const* extension = program.inputExtensions; *extension != nullptr; ++extension) {
    const std::size_t stem = input.size() - std::strlen(*extension);
    if (EndsWithIgnoringCase(input, *extension) && !BaseOf(input.substr(0, stem)).empty()) {
      return input.substr(0, stem) + program.outputExtension;
    }
  }
  return input + program.outputExtension;
}

class Batch {
 public:
  Batch(const Program& program, char** names, int count)
      : program_(program), names_(ExpandWildcards(names, count)), outputs_(names_.size()), refusals_(names_.size()),
        results_(names_.size()),
        workers_(std::max<std::size_t>(1, std::min<std::size_t>(DecodeThreads(), names_.size()))),
        // Each file decodes on its share of the threads: all of them when it
        // is the only one.
        threadsPerFile_(static_cast<unsigned>(std::max<std::size_t>(1, DecodeThreads() / workers_))),
        start_(std::chrono::steady_clock::now()), progress_(IsTerminal(2)) {
    // Refused before anything is converted: standard input, which a batch
    // cannot share out, and a second input with the same output as another.
    std::map<std::string, std::size_t> firstOf;
    for (std::size_t i = 0; i < names_.size(); ++i) {
      const std::string& name = names_[i];
      outputs_[i] = OutputName(program, name);
      if (name == "-") {
        refusals_[i] = Fault(program.openInput, DisplayName("-", false), "a batch converts named files only");
        continue;
      }
      const auto [first, added] = firstOf.emplace(outputs_[i], i);
      if (!added) {
        refusals_[i] = Fault(Failure::kSameOutput, name,
                             "its output " + outputs_[i] + " is that of " + names_[first->second] + " too");
      }
    }
  }

  int Run() {
    CatchInterrupts();
    std::vector<std::thread> pool;
    // A thread that cannot start leaves the files to the others.
    try {
      pool.reserve(workers_);
      for (std::size_t k = 1; k < workers_; ++k) pool.emplace_back([this] { Work(); });
    } catch (const std::exception&) {  // std::system_error, std::bad_alloc
    }
    Work();
    for (std::thread& t : pool) t.join();
    // Every output is on the disk before the run can end with 0.
    std::vector<Pending> rest;
    rest.swap(pending_);
    CommitGroup(rest);
    return Summarize();
  }

 private:
  // A file converted, whose output waits for its group's commit.
  struct Pending {
    std::size_t index;
    std::unique_ptr<OutputFile> out;
    Notes notes;
  };
  // A file's outcome, once final: the lines it causes.
  struct Result {
    bool done = false;
    bool failed = false;
    bool lost = false;  // memory ran out for its lines
    std::string lines;
  };

  // Takes files until none is left, or the run is interrupted. Memory that
  // runs out fails the file it was for, which leaves nothing behind.
  void Work() {
    for (;;) {
      const std::size_t i = next_.fetch_add(1);
      if (i >= names_.size() || Interrupted() != 0) return;
      try {
        Convert(i);
      } catch (const std::bad_alloc&) {
        Done(i, {}, Failure::kAllocate, true);
      }
    }
  }

  void Convert(std::size_t i) {
    if (refusals_[i]) {
      Done(i, {}, refusals_[i], false);
      return;
    }
    Notes notes;
    std::unique_ptr<OutputFile> out;
    const char* name = names_[i].c_str();
    Outcome fault = program_.convert({name, outputs_[i].c_str(), nullptr, name, threadsPerFile_}, notes, out);
    if (!fault) fault = out->Finish();
    if (fault) {
      out.reset();  // nothing of it stays
      Done(i, notes, fault, true);
      return;
    }
    // Written now, while the next file is converted: the group's syncs then
    // find the data on its way to the disk, or there already.
    out->StartWriteback();
    std::vector<Pending> group;
    {
      const std::lock_guard<std::mutex> lock(pendingMutex_);
      pending_.push_back({i, std::move(out), std::move(notes)});
      if (pending_.size() >= kGroupFiles) group.swap(pending_);
    }
    CommitGroup(group);
  }

  // Commits a group: each output is synced and then renamed over its target
  // (Commit), so that none replaces its target before it is on the disk;
  // then each folder a rename changed is synced, once for the whole group.
  // Only then is an output's new name durable, and its outcome final: a
  // folder whose sync fails makes each output renamed into it a failure that
  // says the new file is in place. Nothing is allocated once the first output
  // is committed, so that no outcome can be lost after it.
  void CommitGroup(std::vector<Pending>& group) {
    std::vector<Outcome> faults(group.size());
    std::vector<std::pair<const std::string*, int>> folders;  // each folder, and the error of its sync
    folders.reserve(group.size());
    const auto errorOf = [&folders](const std::string& folder) -> int& {
      for (auto& [name, error] : folders) {
        if (*name == folder) return error;
      }
      folders.emplace_back(&folder, 0);  // never beyond the room reserved
      return folders.back().second;
    };
    for (std::size_t k = 0; k < group.size(); ++k) {
      faults[k] = group[k].out->Commit(group[k].notes, false);
      if (!faults[k] && group[k].out->Renamed()) (void)errorOf(group[k].out->Folder());
    }
    for (auto& [folder, error] : folders) {
      errno = 0;
      if (!SyncFolder(*folder)) error = errno != 0 ? errno : EIO;
    }
    for (std::size_t k = 0; k < group.size(); ++k) {
      const OutputFile& out = *group[k].out;
      if (!faults[k] && out.Renamed() && errorOf(out.Folder()) != 0) {
        try {
          faults[k] = out.FolderUnsynced(errorOf(out.Folder()));
        } catch (const std::bad_alloc&) {
          faults[k] = Failure::kWriteOutput;
        }
      }
      Done(group[k].index, group[k].notes, faults[k], false);
    }
  }

  // Records file i's outcome, of its conversion or of its commit, and prints
  // the outcomes that are final, in the order of the files. Where memory runs
  // out for its lines, the outcome still counts, and the last line says that
  // lines were lost.
  void Done(std::size_t i, const Notes& notes, const Outcome& fault, bool converting) {
    // A conversion that fails once the run is interrupted (a read cut short
    // by the signal, say) was stopped by it: it is one not converted, as
    // those never begun are, and the summary counts them. A commit is never
    // stopped so.
    const bool stopped = fault && converting && (fault->failure == Failure::kInterrupted || Interrupted() != 0);
    std::string lines;
    bool lost = false;
    try {
      if (!stopped) lines = RunMessages(program_.name, notes, fault, names_[i]);
    } catch (const std::bad_alloc&) {
      lost = true;
    }
    const std::lock_guard<std::mutex> lock(printMutex_);
    lost_ = lost_ || lost;
    results_[i].done = !stopped;
    results_[i].failed = fault.has_value();
    results_[i].lost = lost;
    results_[i].lines.swap(lines);
    finished_ += stopped ? 0 : 1;
    failed_ += fault && !stopped ? 1 : 0;
    PrintDone(false);
    ShowProgress(false);
  }

  // Prints the lines of the files done, in order, up to the first not done;
  // with all, of every file done.
  void PrintDone(bool all) {
    for (std::size_t k = printed_; k < results_.size(); ++k) {
      if (!results_[k].done && !all) break;
      if (!results_[k].lines.empty()) Print(results_[k].lines);
      // A failure whose lines were lost still says that it failed.
      if (results_[k].lost && results_[k].failed) {
        WriteText(2, names_[k].data(), names_[k].size());
        WriteText(2, ": ", 2);
        WriteText(2, allocLine_);
      }
      std::string().swap(results_[k].lines);
      printed_ = k + 1;
    }
  }

  // Prints lines to standard error, over the progress line if one shows.
  void Print(const std::string& lines) {
    ClearProgress();
    WriteText(2, lines);
  }

  // Where standard error is a terminal and the run has taken more than a
  // second: one line, rewritten at most ten times a second, of the files done
  // and failed so far.
  void ShowProgress(bool now) {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    if (!progress_ || elapsed < std::chrono::seconds(1) || (!now && elapsed - shownAt_ < std::chrono::milliseconds(100))) {
      return;
    }
    shownAt_ = elapsed;
    char line[160];
    const int n = std::snprintf(line, sizeof line, "\r%s: %zu of %zu files, %zu failed", program_.name, finished_,
                                results_.size(), failed_);
    shown_ = static_cast<std::size_t>(std::clamp(n, 1, static_cast<int>(sizeof line) - 1) - 1);
    WriteText(2, line, shown_ + 1);
  }

  void ClearProgress() {
    if (shown_ == 0) return;
    char blank[160];
    const int n = std::snprintf(blank, sizeof blank, "\r%*s\r", static_cast<int>(shown_), "");
    WriteText(2, blank, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof blank) - 1)));
    shown_ = 0;
  }

  // The last line, in a buffer of its own: nothing is allocated once the
  // outputs are in place.
  int Summarize() {
    const std::lock_guard<std::mutex> lock(printMutex_);
    PrintDone(true);
    ClearProgress();
    const std::size_t converted = finished_ - failed_;
    const std::size_t left = results_.size() - finished_;
    const int signal = Interrupted();
    char line[256];
    if (lost_) {
      const int n = std::snprintf(line, sizeof line, "%s: lines of some files were lost: out of memory\n", program_.name);
      WriteText(2, line, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof line) - 1)));
    }
    if (results_.size() > 1 || signal != 0) {
      char rest[64] = "";
      if (left > 0) std::snprintf(rest, sizeof rest, ", %zu not converted", left);
      const int n = std::snprintf(line, sizeof line, "%s: %s%zu %s converted, %zu failed%s\n", program_.name,
                                  signal != 0 ? "interrupted: " : "", converted, converted == 1 ? "file" : "files",
                                  failed_, rest);
      WriteText(2, line, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof line) - 1)));
    }
    if (signal != 0) return 128 + signal;
    // A file that was never done (a thread that could not go on) is a failure too.
    return failed_ > 0 || left > 0 ? 1 : 0;
  }

  const Program& program_;
  std::vector<std::string> names_;
  std::vector<std::string> outputs_;
  std::vector<Outcome> refusals_;
  std::vector<Result> results_;  // under printMutex_
  std::size_t workers_;
  unsigned threadsPerFile_;
  std::atomic<std::size_t> next_{0};
  std::mutex pendingMutex_;
  std::vector<Pending> pending_;  // under pendingMutex_, then the last thread's
  std::mutex printMutex_;
  std::size_t printed_ = 0;   // the files whose lines are out, in order
  std::size_t finished_ = 0;  // the files converted or failed
  std::size_t failed_ = 0;
  std::chrono::steady_clock::time_point start_;
  bool progress_;
  std::chrono::steady_clock::duration shownAt_{};
  std::size_t shown_ = 0;  // the length of the progress line showing
  bool lost_ = false;  // under printMutex_
  std::string allocLine_ = ErrorLine(Failure::kAllocate);  // made while memory is sure
};

}  // namespace

int RunBatch(const Program& program, char** names, int count) { return Batch(program, names, count).Run(); }
