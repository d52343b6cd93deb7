// Every system call the real binary makes after start-up, made to fail in turn (strace's
// fault injection), one run per call and error. Whatever fails, the run must end by
// itself (no signal, no hang), name in a diagnostic every file it could not write, exit 0
// only when everything came out as without the fault, leave every output name holding a
// complete entry or what it held before, and change nothing else. The same runs with a
// SIGKILL as each call begins kill the run at every step it takes: each name must still
// hold a complete entry or what it held before. A signal that interrupts a call (EINTR),
// and a kernel that cannot copy between the two files (EXDEV), must change nothing at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "tests/test_support.h"

namespace sfx {
namespace {

using test::listing_line;
using test::read_file;

// The errors each kind of call gets: EIO everywhere, and what else it can plausibly meet,
// with the signal the kernel sends along; or no error, and a SIGKILL as the call begins.
// A harmless error must change nothing at all: an interrupted call, and a kernel that cannot
// copy between these files (EXDEV), after which the copy goes on through the stream.
struct Fault {
  const char* error;
  const char* signal;
  std::set<std::string> calls;  // empty: every call
  bool harmless = false;
};
const Fault kFaults[] = {
    {"EIO", nullptr, {}},
    {"EINTR", nullptr, {"read", "write", "copy_file_range", "close", "openat"}, true},
    {"EXDEV", nullptr, {"copy_file_range"}, true},
    {"ENOSPC", nullptr, {"write", "copy_file_range", "openat", "linkat", "rename", "renameat2"}},
    {"EFBIG", "SIGXFSZ", {"write", "copy_file_range"}},
    {"EPIPE", "SIGPIPE", {"write"}},
    {nullptr, "SIGKILL", {}},
};
// Calls that only move memory or end the process; failing them tests the C library.
const std::set<std::string> kNotInjected = {"exit_group", "brk", "mmap", "munmap", "mprotect",
                                            "mremap", "madvise"};

// Standard output a pipe with diagnostics in the run (an entry past the archive's end, and a
// name the safety rules refuse), and a file with none, so that a run that should exit 0 can
// be told from one that may not.
struct Workload {
  const char* name;
  bool stdout_to_pipe;
  bool with_problems;
};
const Workload kWorkloads[] = {
    {"PipeAndADiagnostic", true, true},
    {"FileAndNoDiagnostic", false, false},
};
void PrintTo(const Workload& workload, std::ostream* os) { *os << workload.name; }

class FaultInjection : public testing::TestWithParam<Workload> {
 protected:
  void SetUp() override {
    if (const auto why = test::strace_unavailable()) GTEST_SKIP() << *why;
  }

  // Writes the inputs and the outputs' earlier contents into a fresh run folder.
  void prepare(const std::string& lines) {
    std::filesystem::remove_all(run_);
    std::filesystem::create_directory(run_);
    // A hard link to a file outside: refused, and kept even where looking at it fails.
    std::filesystem::create_hard_link(parent_.file("sentinel"), run_ + "/linked.sfx");
    test::write_file(run_ + "/Filelist.000", archive_);
    test::write_file(run_ + "/Filelist.txt", test::listing_of(lines));
    for (const auto& [name, before] : outputs_) {
      if (!before.empty()) test::write_file(run_ + "/" + name, before);
    }
  }

  // Runs the program under strace with `strace` options.
  test::RunResult run(const std::vector<std::string>& strace, bool stdout_to_pipe) {
    test::BinaryOptions options;
    // LeakSanitizer cannot stop the world under a tracer.
    options.wrapper = {"strace", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0"};
    options.wrapper.insert(options.wrapper.end(), strace.begin(), strace.end());
    options.out.kind = stdout_to_pipe ? test::Destination::pipe : test::Destination::own_file;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    options.kill_when = [deadline] { return std::chrono::steady_clock::now() > deadline; };
    return test::run_binary(run_, options);
  }

  std::map<std::string, std::string> outputs_now() const {
    std::map<std::string, std::string> now;
    for (const auto& output : outputs_) now[output.first] = read_file(run_ + "/" + output.first);
    return now;
  }

  test::TempFolder parent_;
  const std::string run_ = parent_.path() + "/run";
  const std::string archive_ = test::test_bytes(300000, 23);
  // The outputs' names, with what each holds before the run (empty: a new name).
  const std::map<std::string, std::string> outputs_ = {
      {"a.sfx", ""}, {"kept.sfx", "an earlier extraction"}, {"big.sfx", ""},
      {"short.sfx", "a good earlier file"}, {"b.sfx", ""}};
};

TEST_P(FaultInjection, EveryFailedCallIsMetSafely) {
  const Workload workload = GetParam();
  test::write_file(parent_.file("sentinel"), "outside");
  const std::string lines = listing_line("a.sfx", "100", "0") + "\n" +
                            listing_line("d\\kept.sfx", "50", "c8") + "\n" +
                            listing_line("x.wav", "9", "0") + "\n" +
                            listing_line("big.sfx", "200000", "3e8") + "\n" +
                            listing_line("b.sfx", "10", "14") + "\n" +
                            (workload.with_problems
                                 ? listing_line("short.sfx", "100", "493c8") + "\n" +
                                       listing_line("linked.sfx", "10", "0") + "\n"
                                 : std::string());
  int calls_covered = 0;
  int runs = 0;
  int kills = 0;
  prepare(lines);
  const auto before = outputs_now();
  const std::string trace_path = parent_.file("trace");
  const auto clean = run({"-o", trace_path}, workload.stdout_to_pipe);
  ASSERT_FALSE(clean.killed);
  const auto expected = outputs_now();
  // The calls after start-up, which begins with opening the archive: for each kind, the
  // numbers (counted from the process's first call of that kind) to fail in turn.
  std::map<std::string, std::pair<int, int>> numbers;  // first, last
  std::istringstream trace(read_file(trace_path));
  bool started = false;
  for (std::string line; std::getline(trace, line);) {
    const std::size_t paren = line.find('(');
    if (paren == std::string::npos || line[0] == '+' || line[0] == '-') continue;
    const std::string call = line.substr(0, paren);
    started = started || line.find("Filelist.000") != std::string::npos;
    auto& range = numbers.emplace(call, std::make_pair(0, 0)).first->second;
    ++range.second;
    if (!started) range.first = range.second;
  }
  ASSERT_TRUE(started);

  for (const auto& [call, range] : numbers) {
    if (kNotInjected.count(call) != 0 || range.first == range.second) continue;
    calls_covered += range.second - range.first;
    for (const Fault& fault : kFaults) {
      if (!fault.calls.empty() && fault.calls.count(call) == 0) continue;
      for (int number = range.first + 1; number <= range.second; ++number) {
        const std::string inject = "inject=" + call +
                                   (fault.error ? std::string(":error=") + fault.error : "") +
                                   (fault.signal ? std::string(":signal=") + fault.signal : "") +
                                   ":when=" + std::to_string(number);
        SCOPED_TRACE(inject);
        prepare(lines);
        const auto result = run({"-o", "/dev/null", "-e", inject}, workload.stdout_to_pipe);
        ++runs;
        ASSERT_FALSE(result.killed) << "hung";
        // Under the sanitizers a run may make fewer calls of a kind than the traced one
        // did, so a late injection may never come: the run must then be as without it.
        const bool killed = fault.error == nullptr && result.status == 1000 + 9;
        kills += killed;
        const bool harmless = fault.error == nullptr ? !killed : fault.harmless;
        if (!killed) {
          ASSERT_LT(result.status, 1000) << "ended by signal " << result.status - 1000;
        }
        // What went wrong, file by file, each with its diagnostic.
        std::set<std::string> named;
        std::istringstream said(result.err);
        for (std::string line; std::getline(said, line);) {
          const std::size_t colon = line.find(": ", 13);
          ASSERT_TRUE(line.rfind("sfx-extract: ", 0) == 0 && colon != std::string::npos &&
                      colon + 2 < line.size())
              << line;
          named.insert(line.substr(13, colon - 13));
        }
        // A killed run says nothing; a listing that cannot be read to its end leaves the
        // entries after that unknown.
        const bool unknown = killed || result.status == 1 || named.count("Filelist.txt") != 0;
        const auto now = outputs_now();
        bool all_as_without_fault = result.out == clean.out;
        std::set<std::string> expected_entries = {"Filelist.000", "Filelist.txt", "linked.sfx"};
        for (const auto& [name, bytes] : now) {
          EXPECT_TRUE(bytes == expected.at(name) || bytes == before.at(name))
              << name << " holds neither its entry nor what it held";
          if (bytes != "<missing>") expected_entries.insert(name);
          if (bytes != expected.at(name)) {
            all_as_without_fault = false;
            EXPECT_TRUE(named.count(name) != 0 || unknown)
                << name << " not written, and no diagnostic says so";
          }
        }
        if (result.out != clean.out) {
          EXPECT_TRUE(named.count("standard output") != 0 || unknown)
              << "report lines lost without a diagnostic";
          EXPECT_TRUE(named.count("standard output") != 0 || clean.out.rfind(result.out, 0) == 0);
        }
        if (harmless) {
          EXPECT_TRUE(all_as_without_fault && result.err == clean.err &&
                      result.status == clean.status)
              << "a harmless error, or a kill never reached, changed the outcome";
        }
        // Status 0 exactly when everything came out as without the fault.
        if (!killed) {
          EXPECT_EQ(result.status == 0, clean.status == 0 && all_as_without_fault && named.empty());
        }
        EXPECT_EQ(read_file(run_ + "/Filelist.000"), archive_);
        // A kill between the two steps of a replacement may leave the finished entry under
        // a temporary name of the tool's own.
        std::string left = test::folder_entries(run_);
        if (killed && left.rfind(".sfx-extract-", 0) == 0) {
          const std::string stray = read_file(run_ + "/" + left.substr(0, left.find(' ')));
          EXPECT_TRUE(std::any_of(expected.begin(), expected.end(),
                                  [&](const auto& entry) { return entry.second == stray; }))
              << left << ": a stray file holds no complete entry";
          left.erase(0, left.find(' ') + 1);
        }
        EXPECT_EQ(left, test::joined(expected_entries)) << "a file was left behind";
        EXPECT_TRUE(std::filesystem::equivalent(run_ + "/linked.sfx", parent_.file("sentinel")))
            << "a refused name was replaced";
        EXPECT_EQ(test::folder_entries(parent_.path()), "run sentinel trace");
        EXPECT_EQ(read_file(parent_.file("sentinel")), "outside");
        if (HasFailure()) {
          std::cerr << "status " << result.status << "\nerr:\n" << result.err << "\n";
          return;
        }
      }
    }
  }
  std::cout << "failed " << calls_covered << " calls after start-up in turn, in " << runs
            << " runs, " << kills << " of them killed\n";
  EXPECT_GT(runs, 50);
  EXPECT_GT(kills, calls_covered / 2);
}

INSTANTIATE_TEST_SUITE_P(Workloads, FaultInjection, testing::ValuesIn(kWorkloads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sfx
