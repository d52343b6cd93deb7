// Every call the real binary makes after start-up, made to fail in turn, one run per call
// and error: on Linux every system call (strace's fault injection); on Windows every Win32
// and C runtime file call (tests/windows_faults.cc, in a copy of the program). Whatever
// fails, the run must end by itself (no signal, no hang), name in a diagnostic every file it
// could not write, exit 0 only when everything came out as without the fault, leave every
// output name holding a complete entry or what it held before, and change nothing else:
// what the look must refuse (a file with another name outside, and on Windows a read-only
// file and a file reached by its 8.3 short name) stays as it is, even where looking fails.
// The same runs with the process killed as each call begins kill the run at every step it
// takes: each name must still hold a complete entry or what it held before. A signal that
// interrupts a call (EINTR), and a kernel that cannot copy between the two files (EXDEV),
// must change nothing at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tests/test_support.h"

namespace sfx {
namespace {

using test::listing_line;
using test::read_file;

// The errors each kind of call gets: the plain I/O error everywhere, and what else it can
// plausibly meet (with the signal the kernel sends along), or no error and the process
// killed as the call begins. A harmless error must change nothing at all.
struct Fault {
  const char* error;  // none: a kill
  const char* signal;
  std::set<std::string> calls;  // empty: every call
  bool harmless = false;
};
#ifdef _WIN32
const std::set<std::string> kWin32Calls = {
    "CreateFileW",      "SetFileInformationByHandle", "GetFileInformationByHandle",
    "GetFileInformationByHandleEx", "GetFinalPathNameByHandleW", "FindFirstFileExW",
    "FindClose",        "GetFileType",                "CloseHandle",
    "GetFullPathNameW", "DeleteFileW",                "WriteConsoleW"};
const std::set<std::string> kRuntimeCalls = {"_write", "_close",  "fread",  "_open_osfhandle",
                                             "_fdopen", "fclose", "fsetpos", "fgetpos"};
const Fault kFaults[] = {
    {"ERROR_IO_DEVICE", nullptr, kWin32Calls},
    {"EIO", nullptr, kRuntimeCalls},
    {"ERROR_DISK_FULL", nullptr, {"CreateFileW", "SetFileInformationByHandle"}},
    {"ENOSPC", nullptr, {"_write", "_close", "fclose"}},
    {"ERROR_ACCESS_DENIED", nullptr,
     {"CreateFileW", "SetFileInformationByHandle", "DeleteFileW", "FindFirstFileExW",
      "GetFileInformationByHandle", "GetFileInformationByHandleEx", "GetFinalPathNameByHandleW"}},
    {"EACCES", nullptr, {"_write", "fread", "_open_osfhandle"}},
    {"ERROR_SHARING_VIOLATION", nullptr, {"CreateFileW", "SetFileInformationByHandle", "DeleteFileW"}},
    {"ERROR_LOCK_VIOLATION", nullptr, {"CreateFileW", "SetFileInformationByHandle"}},
    {"ERROR_NOT_SAME_DEVICE", nullptr, {"SetFileInformationByHandle"}},
    {nullptr, nullptr, {}},
};
// A run takes about a third of a second under Wine, more emulated: each test is split in
// shards that each fit the per-test timeout.
constexpr int kShards = 6;
#else
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
constexpr int kShards = 1;
#endif

// Standard output a pipe with diagnostics in the run (an entry past the archive's end, and
// names the safety rules refuse), and a file with none, so that a run that should exit 0
// can be told from one that may not.
struct Workload {
  const char* name;
  bool stdout_to_pipe;
  bool with_problems;
  int shard = 0;
};
std::vector<Workload> workloads() {
  std::vector<Workload> all;
  for (const Workload& workload : {Workload{"PipeAndADiagnostic", true, true},
                                   Workload{"FileAndNoDiagnostic", false, false}}) {
    for (int shard = 0; shard < kShards; ++shard) {
      all.push_back(workload);
      all.back().shard = shard;
    }
  }
  return all;
}
void PrintTo(const Workload& workload, std::ostream* os) { *os << workload.name; }
std::string name_of(const Workload& workload) {
  return std::string(workload.name) +
         (kShards > 1 ? "_" + std::to_string(workload.shard + 1) + "of" + std::to_string(kShards)
                      : "");
}

// A fault for the run: none (a clean run, its calls counted), or `fault` at the `number`th
// call of `call` after start-up.
struct Injected {
  std::string call;
  const Fault* fault = nullptr;
  int number = 0;
};

class FaultInjection : public testing::TestWithParam<Workload> {
 protected:
  void SetUp() override {
#ifndef _WIN32
    if (const auto why = test::strace_unavailable()) GTEST_SKIP() << *why;
#endif
  }

  // Writes the inputs and the outputs' earlier contents into a fresh run folder, with
  // what the look must refuse.
  void prepare(const std::string& lines) {
#ifdef _WIN32
    SetFileAttributesA((run_ + "/ro.sfx").c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
    std::filesystem::remove_all(run_);
    std::filesystem::create_directory(run_);
    // A hard link to a file outside: refused, and kept even where looking at it fails.
    std::filesystem::create_hard_link(parent_.file("sentinel"), run_ + "/linked.sfx");
#ifdef _WIN32
    test::write_file(run_ + "/ro.sfx", "read-only");
    SetFileAttributesA((run_ + "/ro.sfx").c_str(), FILE_ATTRIBUTE_READONLY);
    test::write_file(run_ + "/x.sfxbackup", "backup");
#endif
    test::write_file(run_ + "/Filelist.000", archive_);
    test::write_file(run_ + "/Filelist.txt", test::listing_of(lines));
    for (const auto& [name, before] : outputs_) {
      if (!before.empty()) test::write_file(run_ + "/" + name, before);
    }
  }

  // What the look must refuse, listed (an empty list where the workload has none).
  std::string refused_lines() {
    std::string lines = listing_line("linked.sfx", "10", "0") + "\n";
#ifdef _WIN32
    lines += listing_line("ro.sfx", "10", "0") + "\n";
    prepare("");
    wchar_t short_path[MAX_PATH];
    const DWORD length = GetShortPathNameW(
        std::filesystem::path(run_ + "/x.sfxbackup").wstring().c_str(), short_path, MAX_PATH);
    std::string name = std::filesystem::path(std::wstring(short_path, length)).filename().string();
    if (length > 0 && name.size() > 4 && name.substr(name.size() - 4) == ".SFX") {
      name.replace(name.size() - 4, 4, ".sfx");
      lines += listing_line("snd\\" + name, "10", "0") + "\n";
    }
#endif
    return lines;
  }

  // Runs the program with `injected` (a clean run, its calls counted into `trace_path`,
  // when it names no call).
  test::RunResult run(const Injected& injected, bool stdout_to_pipe) {
    test::BinaryOptions options;
#ifdef _WIN32
    options.program = SFX_EXTRACT_FAULTS_BINARY;
    std::string setting = "trace=" + trace_path_;
    if (injected.fault != nullptr && injected.fault->error != nullptr) {
      setting = "fail=" + injected.call + ":" + injected.fault->error + ":" +
             std::to_string(injected.number);
    } else if (injected.fault != nullptr) {
      setting = "kill=" + injected.call + ":" + std::to_string(injected.number);
    }
    options.environment = {{"SFX_FAULTS", setting}};
#else
    // LeakSanitizer cannot stop the world under a tracer.
    options.wrapper = {"strace", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0", "-o",
                       injected.fault == nullptr ? trace_path_ : "/dev/null"};
    if (injected.fault != nullptr) {
      const Fault& fault = *injected.fault;
      options.wrapper.push_back("-e");
      options.wrapper.push_back(
          "inject=" + injected.call + (fault.error ? std::string(":error=") + fault.error : "") +
          (fault.signal ? std::string(":signal=") + fault.signal : "") +
          ":when=" + std::to_string(injected.number));
    }
#endif
    options.out.kind = stdout_to_pipe ? test::Destination::pipe : test::Destination::own_file;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    options.kill_when = [deadline] { return std::chrono::steady_clock::now() > deadline; };
    return test::run_binary(run_, options);
  }

  // For each kind of call the clean run made after start-up, which begins with opening the
  // archive, the numbers to fail in turn: [first, last], counted from the process's first
  // call of that kind.
  std::map<std::string, std::pair<int, int>> calls_after_start_up() const {
    std::map<std::string, std::pair<int, int>> numbers;
    std::istringstream trace(read_file(trace_path_));
#ifdef _WIN32
    std::string call;
    int count = 0;
    while (trace >> call >> count) numbers[call] = {1, count};
#else
    bool started = false;
    for (std::string line; std::getline(trace, line);) {
      const std::size_t paren = line.find('(');
      if (paren == std::string::npos || line[0] == '+' || line[0] == '-') continue;
      const std::string call = line.substr(0, paren);
      started = started || line.find("Filelist.000") != std::string::npos;
      auto& range = numbers.emplace(call, std::make_pair(1, 0)).first->second;
      ++range.second;
      if (!started) range.first = range.second + 1;
    }
    for (const std::string& call : kNotInjected) numbers.erase(call);
#endif
    return numbers;
  }

  std::map<std::string, std::string> outputs_now() const {
    std::map<std::string, std::string> now;
    for (const auto& output : outputs_) now[output.first] = read_file(run_ + "/" + output.first);
    return now;
  }

  std::string lines(const Workload& workload) {
    return listing_line("a.sfx", "100", "0") + "\n" + listing_line("d\\kept.sfx", "50", "c8") +
           "\n" + listing_line("x.wav", "9", "0") + "\n" +
           listing_line("big.sfx", "200000", "3e8") + "\n" + listing_line("b.sfx", "10", "14") +
           "\n" +
           (workload.with_problems
                ? listing_line("short.sfx", "100", "493c8") + "\n" + refused_lines()
                : std::string());
  }

  // Whatever the look must refuse is as it was.
  void expect_refused_kept() {
    EXPECT_TRUE(std::filesystem::equivalent(run_ + "/linked.sfx", parent_.file("sentinel")))
        << "a refused name was replaced";
    EXPECT_EQ(read_file(parent_.file("sentinel")), "outside");
#ifdef _WIN32
    EXPECT_EQ(read_file(run_ + "/ro.sfx"), "read-only") << "a read-only file was replaced";
    EXPECT_EQ(read_file(run_ + "/x.sfxbackup"), "backup") << "a short name's file was replaced";
#endif
  }

  test::TempFolder parent_;
  const std::string run_ = parent_.path() + "/run";
  const std::string trace_path_ = parent_.file("trace");
  const std::string archive_ = test::test_bytes(300000, 23);
  // The outputs' names, with what each holds before the run (empty: a new name).
  const std::map<std::string, std::string> outputs_ = {
      {"a.sfx", ""}, {"kept.sfx", "an earlier extraction"}, {"big.sfx", ""},
      {"short.sfx", "a good earlier file"}, {"b.sfx", ""}};
#ifdef _WIN32
  const std::set<std::string> kept_ = {"linked.sfx", "ro.sfx", "x.sfxbackup"};
  static constexpr bool kEmptyStrayPossible = true;  // killed between making and marking
  static constexpr bool kRefusedStrayPossible = true;  // killed looking at a name that exists
#else
  const std::set<std::string> kept_ = {"linked.sfx"};
  static constexpr bool kEmptyStrayPossible = false;
  static constexpr bool kRefusedStrayPossible = false;
#endif
};

TEST_P(FaultInjection, EveryFailedCallIsMetSafely) {
  const Workload workload = GetParam();
  test::write_file(parent_.file("sentinel"), "outside");
  const std::string lines = this->lines(workload);
  int calls_covered = 0;
  int runs = 0;
  int kills = 0;
  prepare(lines);
  const auto before = outputs_now();
  const auto clean = run({}, workload.stdout_to_pipe);
  ASSERT_FALSE(clean.killed);
  const auto expected = outputs_now();
  const auto numbers = calls_after_start_up();
  ASSERT_FALSE(numbers.empty()) << "no call after start-up was seen";
  int index = 0;  // of the injection; each shard makes every kShards-th
  for (const auto& [call, range] : numbers) {
    calls_covered += range.second - range.first + 1;
    for (const Fault& fault : kFaults) {
      if (!fault.calls.empty() && fault.calls.count(call) == 0) continue;
      for (int number = range.first; number <= range.second; ++number) {
        if (index++ % kShards != workload.shard) continue;
        const Injected injected{call, &fault, number};
        SCOPED_TRACE(call + " #" + std::to_string(number) + ": " +
                     (fault.error ? fault.error : "killed"));
        prepare(lines);
        const auto result = run(injected, workload.stdout_to_pipe);
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
        std::set<std::string> expected_entries = kept_;
        expected_entries.insert({"Filelist.000", "Filelist.txt"});
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
        // a temporary name of the tool's own (on Windows also one of a name then refused,
        // killed while the name is looked at); on Windows one between making the file and
        // marking it for deletion, an empty one.
        std::string left = test::folder_entries(run_);
        if (killed && left.rfind(".sfx-extract-", 0) == 0) {
          const std::string stray = read_file(run_ + "/" + left.substr(0, left.find(' ')));
          EXPECT_TRUE(std::any_of(expected.begin(), expected.end(),
                                  [&](const auto& entry) { return entry.second == stray; }) ||
                      (kRefusedStrayPossible && stray == archive_.substr(0, 10)) ||
                      (kEmptyStrayPossible && stray.empty()))
              << left << ": a stray file holds no complete entry";
          left.erase(0, left.find(' ') + 1);
        }
        EXPECT_EQ(left, test::joined(expected_entries)) << "a file was left behind";
        expect_refused_kept();
        EXPECT_EQ(test::folder_entries(parent_.path()), "run sentinel trace");
        if (HasFailure()) {
          std::cerr << "status " << result.status << "\nerr:\n" << result.err << "\n";
          return;
        }
      }
    }
  }
  std::cout << "failed " << calls_covered << " calls after start-up in turn, in " << runs
            << " runs" << (kShards > 1 ? " of this shard" : "") << ", " << kills
            << " of them killed\n";
  EXPECT_GT(runs, 50 / kShards);
  EXPECT_GT(kills, calls_covered / 2 / kShards);
}

INSTANTIATE_TEST_SUITE_P(Workloads, FaultInjection, testing::ValuesIn(workloads()),
                         [](const auto& info) { return name_of(info.param); });

#ifdef _WIN32
// A failed entry's temporary file goes with its handle, by its deletion mark; deleting it
// by name after that could delete what another program has put there since. Here such a
// program puts a file under the temporary name as each descriptor of it closes.
TEST(FaultInjectionOnWindows, AFileOfAnotherProgramUnderTheTemporaryNameStays) {
  test::TempFolder folder;
  test::write_file(folder.file("Filelist.000"), test::test_bytes(1000, 3));
  test::write_file(folder.file("Filelist.txt"),
                   test::listing_of(listing_line("short.sfx", "100", "3e0") + "\n" +
                                    listing_line("ok.sfx", "4", "0") + "\n"));
  test::BinaryOptions options;
  options.program = SFX_EXTRACT_FAULTS_BINARY;
  options.environment = {{"SFX_FAULTS", "plant"}};
  const auto result = test::run_binary(folder.path(), options);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(read_file(folder.file("ok.sfx")), test::test_bytes(1000, 3).substr(0, 4));
  std::set<std::string> planted;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".sfx-extract-", 0) != 0) continue;
    planted.insert(name);
    EXPECT_EQ(read_file(entry.path().string()), "planted") << name;
  }
  EXPECT_EQ(planted.size(), 1u) << "the other program's file is gone";
}
#endif

}  // namespace
}  // namespace sfx
