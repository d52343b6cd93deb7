// The real binary, run as a user would run it: in the folder of its inputs, with the
// process's own standard streams and limits.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/diagnostics.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

// Standard output and error are text streams: on Windows every line ends in CR LF.
#ifdef _WIN32
const char kLineEnd[] = "\r\n";
#else
const char kLineEnd[] = "\n";
#endif

using test::listing_line;
using test::listing_of;
using test::read_file;

class Binary : public testing::Test {
 protected:
  void write_inputs(const std::string& archive, const std::string& lines) {
    test::write_file(folder_.file("Filelist.000"), archive);
    test::write_file(folder_.file("Filelist.txt"), listing_of(lines));
  }

  test::TempFolder folder_;
};

TEST_F(Binary, ReportsAndExtractsInItsWorkingFolder) {
  write_inputs("0123456789", listing_line("data\\snd\\boom.sfx", "4", "3") + "\r\n");
  const auto result = test::run_binary(folder_.path());
  EXPECT_EQ(result.out, std::string("boom.sfx len: 4 loc: 3") + kLineEnd);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_file(folder_.file("boom.sfx")), "3456");
}

TEST_F(Binary, MissingInputsGiveStatusOneAndNoOutput) {
  const auto result = test::run_binary(folder_.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

// A run killed at any moment leaves every output name holding a complete entry or what it
// held before. The kills fall at even steps over the time a whole run takes, most of them
// inside the large entries. The one file a kill may leave beside them is a finished entry
// under a temporary name, killed between the two steps of a replacement.
TEST_F(Binary, KilledRunLeavesEveryNameCompleteOrAsItWas) {
  const std::string archive = test::test_bytes(48u << 20, 13);
  struct Entry {
    std::string name;
    std::size_t loc;
    std::size_t len;
    std::string before;  // what the name holds before the run; empty: it is new
  };
  const Entry entries[] = {
      {"small.sfx", 100, 1000, ""},
      {"kept.sfx", 5000, 3u << 20, "a good earlier extraction"},
      {"big.sfx", 4u << 20, 24u << 20, ""},
      {"large.sfx", 20u << 20, 24u << 20, "another good one"},
      {"last.sfx", 50, 200, "old last"},
  };
  std::string lines;
  for (const Entry& entry : entries) {
    char loc[16];
    std::snprintf(loc, sizeof loc, "%zx", entry.loc);
    lines += listing_line(entry.name, std::to_string(entry.len), loc) + "\n";
    if (!entry.before.empty()) test::write_file(folder_.file(entry.name), entry.before);
  }
  write_inputs(archive, lines);
  test::TempFolder pristine;
  test::copy_folder(folder_.path(), pristine.path());

  const auto start = std::chrono::steady_clock::now();
  const auto whole = test::run_binary(folder_.path());
  const auto duration = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_EQ(whole.status, 0) << whole.err;
  const auto is_entry = [&](const std::string& bytes) {
    for (const Entry& entry : entries) {
      if (bytes.size() == entry.len && bytes == archive.substr(entry.loc, entry.len)) return true;
    }
    return false;
  };

  constexpr int kRuns = 8;
  int killed = 0;
  int strays = 0;
  for (int run = 0; run < kRuns; ++run) {
    test::TempFolder copy;
    test::copy_folder(pristine.path(), copy.path());
    test::BinaryOptions options;
    options.kill_after = duration * run / kRuns;
    killed += test::run_binary(copy.path(), options).killed ? 1 : 0;
    for (const Entry& entry : entries) {
      SCOPED_TRACE("run " + std::to_string(run) + ", " + entry.name);
      const std::string now = read_file(copy.file(entry.name));
      EXPECT_TRUE(now == archive.substr(entry.loc, entry.len) ||
                  now == (entry.before.empty() ? "<missing>" : entry.before));
    }
    for (const std::string& name : {std::string("Filelist.000"), std::string("Filelist.txt")}) {
      std::remove(copy.file(name).c_str());
    }
    for (const Entry& entry : entries) std::remove(copy.file(entry.name).c_str());
    const std::string left = test::folder_entries(copy.path());
    if (left.empty()) continue;
    ++strays;
    EXPECT_EQ(left.rfind(".sfx-extract-", 0), 0u) << left;
    EXPECT_EQ(left.find(' '), std::string::npos) << left;
    EXPECT_TRUE(is_entry(read_file(copy.file(left)))) << left;
  }
  EXPECT_GE(killed, kRuns / 2);
  EXPECT_LE(strays, 1);
}

// Wherever the standard streams go, the same entries are extracted: to a reader that has
// gone (| head), both into one file (each diagnostic after its own report line), or into a
// file that is also an output name, which is then refused and receives what it was sent.
TEST_F(Binary, StandardStreamsWhereverTheyGo) {
  const std::string archive = test::test_bytes(1000, 17);
  write_inputs(archive, listing_line("a\\boom.sfx", "4", "0") + "\n" +
                            listing_line("short.sfx", "100", "3e0") + "\n" +
                            listing_line("click.sfx", "5", "10") + "\n");
  const std::string end = kLineEnd;
  const std::string boom_line = "boom.sfx len: 4 loc: 0" + end;
  const std::string short_line = "short.sfx len: 100 loc: 3e0" + end;
  const std::string click_line = "click.sfx len: 5 loc: 10" + end;
  const std::string report = boom_line + short_line + click_line;
  const std::string short_said =
      "sfx-extract: short.sfx: archive ends after 8 of 100 bytes; short.sfx left as it was" + end;
  const std::string boom = archive.substr(0, 4);
  const std::string click = archive.substr(16, 5);
  const std::string broken_pipe = os_error(EPIPE);
  struct Case {
    const char* name;
    const char* out_to;  // "": a file of the harness; "|": a pipe without reader; a name
    const char* err_to;  // the same, or "&1": into standard output's file
    std::string out;     // what standard output's file holds, unless it is an output
    std::string err;
    std::string boom;    // what boom.sfx and click.sfx hold afterwards
    std::string click;
  };
  const Case cases[] = {
      {"files", "", "", report, short_said, boom, click},
      {"stdout reader gone", "|", "", "", "sfx-extract: standard output: " + broken_pipe + end + short_said,
       boom, click},
      {"stderr reader gone", "", "|", report, "", boom, click},
      {"one file", "", "&1", boom_line + short_line + short_said + click_line, "", boom, click},
      {"stdout into boom.sfx", "boom.sfx", "", "",
       "sfx-extract: boom.sfx: cannot create: it receives standard output" + end + short_said,
       report, click},
      {"stderr into click.sfx", "", "click.sfx", report, "", boom,
       short_said + "sfx-extract: click.sfx: cannot create: it receives standard error" + end},
  };
  test::TempFolder pristine;
  test::write_file(folder_.file("short.sfx"), "good old");
  test::copy_folder(folder_.path(), pristine.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFolder run;
    test::copy_folder(pristine.path(), run.path());
    test::BinaryOptions options;
    const std::string out_to = c.out_to;
    const std::string err_to = c.err_to;
    options.stdout_to_closed_pipe = out_to == "|";
    options.stderr_to_closed_pipe = err_to == "|";
    options.stderr_to_stdout = err_to == "&1";
    if (out_to.size() > 1) options.stdout_path = run.file(out_to);
    if (err_to.size() > 2) options.stderr_path = run.file(err_to);
    auto result = test::run_binary(run.path(), options);
#ifdef _WIN32
    // Windows' C library has words of its own for a pipe without a reader (under Wine
    // "Invalid argument"): only that it is reported, once and first, is compared.
    const std::string output_failure = "sfx-extract: standard output: ";
    if (options.stdout_to_closed_pipe && result.err.rfind(output_failure, 0) == 0) {
      const std::size_t why = output_failure.size();
      result.err.replace(why, result.err.find(end) - why, broken_pipe);
    }
#endif
    EXPECT_EQ(result.status, 2);
    if (out_to.size() <= 1) {
      EXPECT_EQ(result.out, c.out);
    }
    if (err_to.size() <= 2) {
      EXPECT_EQ(result.err, c.err);
    }
    EXPECT_EQ(read_file(run.file("boom.sfx")), c.boom);
    EXPECT_EQ(read_file(run.file("click.sfx")), c.click);
    EXPECT_EQ(read_file(run.file("short.sfx")), "good old");
  }
}

#ifndef _WIN32
// A FIFO in place of an input is refused like any file that is not regular, at once:
// opening it must not wait for a writer that never comes.
TEST_F(Binary, FifoAsAnInputEndsTheRunAtOnce) {
  for (const std::string input : {"Filelist.000", "Filelist.txt"}) {
    SCOPED_TRACE(input);
    test::TempFolder run;
    test::write_file(run.file("Filelist.000"), "0123456789");
    test::write_file(run.file("Filelist.txt"), listing_of(listing_line("a.sfx", "4", "0") + "\n"));
    std::remove(run.file(input).c_str());
    ASSERT_EQ(mkfifo(run.file(input).c_str(), 0666), 0);
    test::BinaryOptions options;
    options.kill_after = std::chrono::seconds(5);
    const auto start = std::chrono::steady_clock::now();
    const auto result = test::run_binary(run.path(), options);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(result.killed);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(test::exists(run.file("a.sfx")));
  }
}

TEST_F(Binary, UnwritableStandardOutputIsAFailure) {
  std::string lines;
  for (int i = 0; i < 2000; ++i) {
    lines += listing_line("e" + std::to_string(i) + ".sfx", "2", std::to_string(i % 8)) + "\n";
  }
  write_inputs("0123456789", lines);
  test::BinaryOptions options;
  options.stdout_path = "/dev/full";
  const auto result = test::run_binary(folder_.path(), options);
  EXPECT_EQ(result.err, "sfx-extract: standard output: No space left on device\n");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(read_file(folder_.file("e1999.sfx")), "78");
}

TEST_F(Binary, FileSizeLimitFailsOneEntryAndTheRestGoOn) {
  const std::string archive = test::test_bytes(100000, 3);
  write_inputs(archive, listing_line("big.sfx", "100000", "0") + "\n" +
                            listing_line("small.sfx", "100", "10") + "\n");
  test::BinaryOptions options;
  options.file_size_limit = 50000;
  const auto result = test::run_binary(folder_.path(), options);
  EXPECT_EQ(result.out, "big.sfx len: 100000 loc: 0\nsmall.sfx len: 100 loc: 10\n");
  EXPECT_EQ(result.err, "sfx-extract: big.sfx: write failed after 50000 of 100000 bytes: File too large; not written\n");
  EXPECT_EQ(result.status, 2);
  EXPECT_FALSE(test::exists(folder_.file("big.sfx")));
  EXPECT_TRUE(read_file(folder_.file("small.sfx")) == archive.substr(16, 100));
}

// With its standard streams closed the run must not open a file in their place: its
// diagnostics would then be written into an extracted file.
TEST_F(Binary, ClosedStandardStreamsLeaveOutputsUntouched) {
  const std::string archive = test::test_bytes(60000, 5);
  write_inputs(archive, listing_line("short.sfx", "5000", "ea00") + "\n" +
                            listing_line("big.sfx", "100000", "0") + "\n" +
                            listing_line("ok.sfx", "100", "10") + "\n");
  test::BinaryOptions options;
  options.file_size_limit = 50000;
  options.closed_streams = true;
  const auto result = test::run_binary(folder_.path(), options);
  EXPECT_EQ(result.status, 2);
  EXPECT_TRUE(read_file(folder_.file("ok.sfx")) == archive.substr(16, 100));
  EXPECT_EQ(test::folder_entries(folder_.path()), "Filelist.000 Filelist.txt ok.sfx");
}
#endif

}  // namespace
}  // namespace sfx
