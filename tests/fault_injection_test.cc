// Every system call the real binary makes after start-up, made to fail in turn (strace's
// fault injection), one run per call and error. Whatever fails, the run must end by
// itself (no signal, no hang), name in a diagnostic every file it could not write, exit 0
// only when everything came out as without the fault, leave every output name holding a
// complete entry or what it held before, and change nothing else.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
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

// The errors each kind of call gets: EIO everywhere, and what else it can plausibly meet.
struct Fault {
  const char* error;
  bool with_sigpipe;  // delivered as a broken pipe delivers it
  std::set<std::string> calls;  // empty: every call
};
const Fault kFaults[] = {
    {"EIO", false, {}},
    {"EINTR", false, {"read", "write", "copy_file_range", "close", "openat"}},
    {"ENOSPC", false, {"write", "copy_file_range", "openat", "linkat", "rename", "renameat2"}},
    {"EFBIG", false, {"write", "copy_file_range"}},
    {"EPIPE", true, {"write"}},
};
// Calls that only move memory or end the process; failing them tests the C library.
const std::set<std::string> kNotInjected = {"exit_group", "brk", "mmap", "munmap", "mprotect",
                                            "mremap", "madvise"};

struct Output {
  std::string name;
  std::string before;  // empty: a new name
};

class FaultInjection : public testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "strace traces Linux programs";
#elif defined(SFX_EXTRACT_EMULATOR)
    GTEST_SKIP() << "the program runs under " SFX_EXTRACT_EMULATOR ", whose own calls strace would see";
#else
    if (std::system("strace -V > /dev/null 2>&1") != 0) {
      GTEST_SKIP() << "strace is not installed (Debian: strace)";
    }
#endif
  }

  // Writes the inputs and the outputs' earlier contents into a fresh run folder.
  void prepare(const std::string& lines) {
    std::filesystem::remove_all(run_);
    std::filesystem::create_directory(run_);
    test::write_file(run_ + "/Filelist.000", archive_);
    test::write_file(run_ + "/Filelist.txt", test::listing_of(lines));
    for (const Output& output : outputs_) {
      if (!output.before.empty()) test::write_file(run_ + "/" + output.name, output.before);
    }
  }

  // Runs the program under strace with `strace` options.
  test::RunResult run(const std::vector<std::string>& strace, bool stdout_to_pipe) {
    test::BinaryOptions options;
    // LeakSanitizer cannot stop the world under a tracer.
    options.wrapper = {"strace", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0"};
    options.wrapper.insert(options.wrapper.end(), strace.begin(), strace.end());
    options.stdout_to_pipe = stdout_to_pipe;
    options.kill_after = std::chrono::seconds(30);
    return test::run_binary(run_, options);
  }

  std::map<std::string, std::string> outputs_now() const {
    std::map<std::string, std::string> now;
    for (const Output& output : outputs_) now[output.name] = read_file(run_ + "/" + output.name);
    return now;
  }

  test::TempFolder parent_;
  const std::string run_ = parent_.path() + "/run";
  const std::string archive_ = test::test_bytes(300000, 23);
  const std::vector<Output> outputs_ = {
      {"a.sfx", ""}, {"kept.sfx", "an earlier extraction"}, {"big.sfx", ""},
      {"short.sfx", "a good earlier file"}, {"b.sfx", ""}};
};

TEST_F(FaultInjection, EveryFailedCallIsMetSafely) {
  test::write_file(parent_.file("sentinel"), "outside");
  const std::string entries = listing_line("a.sfx", "100", "0") + "\n" +
                              listing_line("d\\kept.sfx", "50", "c8") + "\n" +
                              listing_line("x.wav", "9", "0") + "\n" +
                              listing_line("big.sfx", "200000", "3e8") + "\n" +
                              listing_line("b.sfx", "10", "14") + "\n";
  // Standard output a pipe with a diagnostic in the run (an entry past the archive's end),
  // and a file with none, so that a run that should exit 0 can be told from one that may
  // not.
  struct Workload {
    const char* name;
    bool stdout_to_pipe;
    std::string lines;
  };
  const Workload workloads[] = {
      {"pipe, a diagnostic", true, entries + listing_line("short.sfx", "100", "493c8") + "\n"},
      {"file, no diagnostic", false, entries},
  };
  int calls_covered = 0;
  int runs = 0;
  for (const Workload& workload : workloads) {
    SCOPED_TRACE(workload.name);
    prepare(workload.lines);
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
          const std::string inject = "inject=" + call + ":error=" + fault.error +
                                     (fault.with_sigpipe ? ":signal=SIGPIPE" : "") +
                                     ":when=" + std::to_string(number);
          SCOPED_TRACE(inject);
          prepare(workload.lines);
          const auto result = run({"-o", "/dev/null", "-e", inject},
                                  workload.stdout_to_pipe);
          ++runs;
          ASSERT_FALSE(result.killed) << "hung";
          ASSERT_LT(result.status, 1000) << "ended by signal " << result.status - 1000;
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
          // A listing that cannot be read to its end leaves the entries after that unknown.
          const bool listing_failed = named.count("Filelist.txt") != 0;
          const auto now = outputs_now();
          bool all_as_without_fault = result.out == clean.out;
          for (const Output& output : outputs_) {
            const std::string& bytes = now.at(output.name);
            EXPECT_TRUE(bytes == expected.at(output.name) || bytes == before.at(output.name))
                << output.name << " holds neither its entry nor what it held";
            if (bytes != expected.at(output.name)) {
              all_as_without_fault = false;
              EXPECT_TRUE(named.count(output.name) != 0 || result.status == 1 || listing_failed)
                  << output.name << " not written, and no diagnostic says so";
            }
          }
          if (result.out != clean.out) {
            EXPECT_TRUE(named.count("standard output") != 0 || result.status == 1 ||
                        (listing_failed && clean.out.rfind(result.out, 0) == 0))
                << "report lines lost without a diagnostic";
          }
          // Status 0 exactly when everything came out as without the fault.
          EXPECT_EQ(result.status == 0, clean.status == 0 && all_as_without_fault && named.empty());
          EXPECT_EQ(read_file(run_ + "/Filelist.000"), archive_);
          std::string expected_entries = "Filelist.000 Filelist.txt";
          for (const auto& [name, bytes] : now) {
            if (bytes != "<missing>") expected_entries += " " + name;
          }
          EXPECT_EQ(test::folder_entries(run_), expected_entries) << "a file was left behind";
          EXPECT_EQ(test::folder_entries(parent_.path()), "run sentinel trace");
          EXPECT_EQ(read_file(parent_.file("sentinel")), "outside");
          if (HasFatalFailure() || HasNonfatalFailure()) {
            std::cerr << "status " << result.status << "\nerr:\n" << result.err << "\n";
            return;
          }
        }
      }
    }
  }
  std::cout << "failed " << calls_covered << " calls after start-up in turn, in " << runs
            << " runs\n";
  EXPECT_GT(runs, 100);
}

}  // namespace
}  // namespace sfx
