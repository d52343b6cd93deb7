// The real binary, run as a user would run it: in the folder of its inputs, with the
// process's own standard streams and limits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

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

#ifndef _WIN32
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
