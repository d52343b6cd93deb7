// The real binary, run as a user would run it: in the folder of its inputs, with the
// process's own standard streams and limits.
#include <gtest/gtest.h>

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
  std::string out_path() const { return streams_.file("out"); }

  test::TempFolder folder_;
  test::TempFolder streams_;
};

TEST_F(Binary, ReportsAndExtractsInItsWorkingFolder) {
  write_inputs("0123456789", listing_line("data\\snd\\boom.sfx", "4", "3") + "\r\n");
  const auto result = test::run_binary(folder_.path(), out_path());
  EXPECT_EQ(result.out, std::string("boom.sfx len: 4 loc: 3") + kLineEnd);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_file(folder_.file("boom.sfx")), "3456");
}

TEST_F(Binary, MissingInputsGiveStatusOneAndNoOutput) {
  const auto result = test::run_binary(folder_.path(), out_path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

#ifndef _WIN32
TEST_F(Binary, UnwritableStandardOutputIsAFailure) {
  std::string lines;
  for (int i = 0; i < 2000; ++i) {
    lines += listing_line("e" + std::to_string(i) + ".sfx", "2", std::to_string(i % 8)) + "\n";
  }
  write_inputs("0123456789", lines);
  const auto result = test::run_binary(folder_.path(), "/dev/full");
  EXPECT_EQ(result.err, "sfx-extract: standard output: No space left on device\n");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(read_file(folder_.file("e1999.sfx")), "78");
}

TEST_F(Binary, FileSizeLimitFailsOneEntryAndTheRestGoOn) {
  const std::string archive = test::test_bytes(100000, 3);
  write_inputs(archive, listing_line("big.sfx", "100000", "0") + "\n" +
                            listing_line("small.sfx", "100", "10") + "\n");
  const auto result = test::run_binary(folder_.path(), out_path(), 50000);
  EXPECT_EQ(result.out, "big.sfx len: 100000 loc: 0\nsmall.sfx len: 100 loc: 10\n");
  EXPECT_EQ(result.err, "sfx-extract: big.sfx: write failed after 50000 of 100000 bytes: File too large\n");
  EXPECT_EQ(result.status, 2);
  EXPECT_TRUE(read_file(folder_.file("big.sfx")) == archive.substr(0, 50000));
  EXPECT_TRUE(read_file(folder_.file("small.sfx")) == archive.substr(16, 100));
}

// With its standard streams closed the run must not open a file in their place: its
// diagnostics would then be written into an extracted file.
TEST_F(Binary, ClosedStandardStreamsLeaveOutputsUntouched) {
  const std::string archive = test::test_bytes(60000, 5);
  write_inputs(archive, listing_line("short.sfx", "5000", "ea00") + "\n" +
                            listing_line("big.sfx", "100000", "0") + "\n" +
                            listing_line("ok.sfx", "100", "10") + "\n");
  const auto result = test::run_binary(folder_.path(), out_path(), 50000, true);
  EXPECT_EQ(result.status, 2);
  EXPECT_TRUE(read_file(folder_.file("short.sfx")) == archive.substr(0xea00));
  EXPECT_TRUE(read_file(folder_.file("big.sfx")) == archive.substr(0, 50000));
  EXPECT_TRUE(read_file(folder_.file("ok.sfx")) == archive.substr(16, 100));
  EXPECT_EQ(test::folder_entries(folder_.path()),
            "Filelist.000 Filelist.txt big.sfx ok.sfx short.sfx");
}
#endif

}  // namespace
}  // namespace sfx
