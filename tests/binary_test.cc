// The real binary, run as a user runs it: in the folder of its inputs, with its standard
// streams wherever they go, its limits and signals, inputs it cannot use, and kills at any
// point of its progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>

#include "common/diagnostics.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Destination;
using test::file;
using test::listing_line;

const Destination kOwnFile;
const Destination kGoneReader{Destination::gone_reader, ""};
const Destination kTerminal{Destination::terminal, ""};
const Destination kClosed{Destination::closed, ""};
const Destination kWithOutput{Destination::standard_output, ""};

// Standard output and error are text streams: on Windows every line ends in CR LF.
#ifdef _WIN32
const std::string kEnd = "\r\n";
constexpr bool kEmptyStrayPossible = true;  // see KilledRun
#else
const std::string kEnd = "\n";
constexpr bool kEmptyStrayPossible = false;
#endif

const std::string kArchive = test::test_bytes(1000, 17);
// A listing with CR LF line ends, in which short.sfx fails and the others do not.
const std::string kRecords = listing_line("a\\boom.sfx", "4", "0") + "\r\n" +
                             listing_line("short.sfx", "100", "3e0") + "\r\n" +
                             listing_line("click.sfx", "5", "10") + "\r\n";
const std::string kCleanRecords = listing_line("a\\boom.sfx", "4", "0") + "\r\n" +
                                  listing_line("click.sfx", "5", "10") + "\r\n";
const std::string kBoomLine = "boom.sfx len: 4 loc: 0" + kEnd;
const std::string kShortLine = "short.sfx len: 100 loc: 3e0" + kEnd;
const std::string kClickLine = "click.sfx len: 5 loc: 10" + kEnd;
const std::string kReport = kBoomLine + kShortLine + kClickLine;
const std::string kShortSaid =
    "sfx-extract: short.sfx: archive ends after 8 of 100 bytes; short.sfx left as it was" + kEnd;
#ifndef _WIN32
// Names that would drive a terminal: a title and a colour (ESC), CSI as a UTF-8 C1 and as
// one raw byte (8-bit terminals), a byte that is no UTF-8; shown escaped on a terminal only.
const std::string kHostileNames[] = {"\x1b]0;pwned\x07\x1b[31mred.sfx", "a\xc2\x9b" "1m.sfx",
                                     "a\x9b" "1m.sfx", "caf\xc3\xa9\xe9.sfx"};
const std::string kHostileShown[] = {"\\x1b]0;pwned\\x07\\x1b[31mred.sfx", "a\\xc2\\x9b1m.sfx",
                                     "a\\x9b1m.sfx", "caf\xc3\xa9\\xe9.sfx"};
std::string hostile_records() {
  std::string records;
  for (const std::string& name : kHostileNames) records += listing_line(name, "4", "0") + "\n";
  return records;
}
std::string hostile_report(const std::string (&names)[4]) {
  std::string report;
  for (const std::string& name : names) report += name + " len: 4 loc: 0" + kEnd;
  return report;
}
test::Folder hostile_files() {
  test::Folder files;
  for (const std::string& name : kHostileNames) files.push_back(file(name, kArchive.substr(0, 4)));
  return files;
}
#endif

const test::Item kBoom = file("boom.sfx", kArchive.substr(0, 4));
const test::Item kClick = file("click.sfx", kArchive.substr(16, 5));
const test::Item kShort = file("short.sfx", "good old");

struct ProgramCase {
  const char* name;
  std::string records;
  test::Folder before;  // besides the inputs; may replace or remove them
  test::Destination out_to;
  test::Destination err_to;
  std::string out, err;  // what standard output and error received, where they are read back
  int status;
  test::Folder after;  // everything but the inputs
  bool input_closed = false;
};

void PrintTo(const ProgramCase& program_case, std::ostream* os) { *os << program_case.name; }

const ProgramCase kCases[] = {
    {"Files", kRecords, {kShort}, kOwnFile, kOwnFile, kReport, kShortSaid, 2,
     {kBoom, kShort, kClick}},
    // A reader that has gone (| head): reported once, and the extraction goes on.
    {"StdoutReaderGone", kRecords, {kShort}, kGoneReader, kOwnFile, "",
     "sfx-extract: standard output: " + os_error(EPIPE) + kEnd + kShortSaid, 2,
     {kBoom, kShort, kClick}},
    {"StderrReaderGone", kRecords, {kShort}, kOwnFile, kGoneReader, kReport, "", 2,
     {kBoom, kShort, kClick}},
    // Both into one file: each diagnostic after its own entry's report line.
    {"OneFile", kRecords, {kShort}, kOwnFile, kWithOutput,
     kBoomLine + kShortLine + kShortSaid + kClickLine, "", 2, {kBoom, kShort, kClick}},
    // Into a file that is also an output name, which is then refused and receives what
    // it was sent.
    {"StdoutIntoAnOutput", kRecords, {kShort}, test::in_folder("boom.sfx"), kOwnFile, "",
     "sfx-extract: boom.sfx: cannot create: it receives standard output" + kEnd + kShortSaid, 2,
     {file("boom.sfx", kReport), kShort, kClick}},
    {"StderrIntoAnOutput", kRecords, {kShort}, kOwnFile, test::in_folder("click.sfx"), kReport,
     "", 2, {kBoom, kShort,
      file("click.sfx", kShortSaid +
                            "sfx-extract: click.sfx: cannot create: it receives standard error" +
                            kEnd)}},
    // Inputs it cannot use: status 1 at once, nothing printed or written.
    {"NoArchive", kRecords, {test::absent("Filelist.000")}, kOwnFile, kOwnFile, "", "", 1, {}},
    {"NoListing", kRecords, {test::absent("Filelist.txt")}, kOwnFile, kOwnFile, "", "", 1, {}},
    {"ArchiveIsAFolder", kRecords, {test::folder("Filelist.000")}, kOwnFile, kOwnFile, "", "", 1,
     {}},
    {"ListingIsAFolder", kRecords, {test::folder("Filelist.txt")}, kOwnFile, kOwnFile, "", "", 1,
     {}},
#ifndef _WIN32
    // A FIFO must not make the run wait for a writer that never comes.
    {"ArchiveIsAFifo", kRecords, {test::fifo("Filelist.000")}, kOwnFile, kOwnFile, "", "", 1, {}},
    {"ListingIsAFifo", kRecords, {test::fifo("Filelist.txt")}, kOwnFile, kOwnFile, "", "", 1, {}},
    // Started with its standard streams closed, it must open none of its files in their
    // place: a clean run stays clean, and no diagnostic lands in an output.
    {"ClosedStandardStreams", kCleanRecords, {}, kClosed, kClosed, "", "", 0, {kBoom, kClick},
     true},
    // A name reaches a terminal escaped, and a file or a pipe as listed.
    {"HostileNamesOnATerminal", hostile_records(), {}, kTerminal, kOwnFile,
     hostile_report(kHostileShown), "", 0, hostile_files()},
    {"HostileNamesIntoAFile", hostile_records(), {}, kOwnFile, kOwnFile,
     hostile_report(kHostileNames), "", 0, hostile_files()},
#endif
};

class Program : public testing::TestWithParam<ProgramCase> {};

TEST_P(Program, RunsAsAUserWouldRunIt) {
  const ProgramCase& program_case = GetParam();
  test::TempFolder folder;
  test::write_file(folder.file("Filelist.000"), kArchive);
  test::write_file(folder.file("Filelist.txt"), test::listing_of(program_case.records));
  test::make_items(folder.path(), program_case.before);
  test::BinaryOptions options;
  options.out = program_case.out_to;
  options.err = program_case.err_to;
  options.input_closed = program_case.input_closed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  options.kill_when = [deadline] { return std::chrono::steady_clock::now() > deadline; };
  auto result = test::run_binary(folder.path(), options);
#ifdef _WIN32
  // Windows' C library has words of its own for a pipe without a reader (under Wine
  // "Invalid argument"): only that it is reported, once and first, is compared.
  const std::string output_failure = "sfx-extract: standard output: ";
  if (program_case.out_to.kind == Destination::gone_reader &&
      result.err.rfind(output_failure, 0) == 0) {
    const std::size_t why = output_failure.size();
    result.err.replace(why, result.err.find(kEnd) - why, os_error(EPIPE));
  }
#endif
  EXPECT_FALSE(result.killed) << "hung";
  EXPECT_EQ(result.status, program_case.status);
  EXPECT_EQ(result.out, program_case.out);
  EXPECT_EQ(result.err, program_case.err);
  EXPECT_EQ(test::differences(folder.path(), program_case.after), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, Program, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// On a terminal the report lines are the run's progress: each is written as its entry
// begins. Into a file they are held, many to a write, until a diagnostic follows. strace
// counts the writes, descriptor by descriptor in their order, for a terminal and a file in
// every combination. (A Windows console cannot be had under Wine.)
TEST(ReportLines, OnATerminalEachIsWrittenAsItsEntryBegins) {
  if (const auto why = test::strace_unavailable()) GTEST_SKIP() << *why;
  struct Case {
    const char* streams;
    Destination out, err;
    std::string writes;  // the standard stream of each write to one, in order
  };
  for (const Case& c : {Case{"terminal, file", kTerminal, kOwnFile, "1 1 2 1"},
                        Case{"file, file", kOwnFile, kOwnFile, "1 2 1"},
                        Case{"file, terminal", kOwnFile, kTerminal, "1 2 1"},
                        Case{"terminal, terminal", kTerminal, kTerminal, "1 1 2 1"}}) {
    SCOPED_TRACE(std::string("standard output and error: ") + c.streams);
    test::TempFolder folder;
    test::TempFolder traces;
    test::write_file(folder.file("Filelist.000"), kArchive);
    test::write_file(folder.file("Filelist.txt"), test::listing_of(kRecords));
    test::make_items(folder.path(), {kShort});
    test::BinaryOptions options;
    options.out = c.out;
    options.err = c.err;
    // LeakSanitizer cannot stop the world under a tracer.
    options.wrapper = {"strace", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0", "-e", "trace=write",
                       "-o", traces.file("trace")};
    const auto result = test::run_binary(folder.path(), options);
    std::string writes;
    std::istringstream trace(test::read_file(traces.file("trace")));
    for (std::string line; std::getline(trace, line);) {
      if (line.rfind("write(1,", 0) == 0 || line.rfind("write(2,", 0) == 0) {
        writes += (writes.empty() ? "" : " ") + line.substr(6, 1);
      }
    }
    EXPECT_EQ(writes, c.writes);
    EXPECT_EQ(result.out, kReport);
    EXPECT_EQ(result.err, kShortSaid);
    EXPECT_EQ(result.status, 2);
  }
}

// A run killed at any point leaves every output name holding a complete entry or what it
// held before; the one file a kill may leave beside them is a finished entry under a
// temporary name, killed between the two steps of a replacement, or on Windows an empty
// one, killed between making the file and marking it for deletion. Kills fall where the
// run's own progress marks: once the k-th output name holds its entry, for every k. The
// run cannot end before its kill, however fast or loaded the machine: its standard output
// is a pipe nobody reads, and the listing ends in records that each send a report line and
// a diagnostic, so the run waits there for good once the pipe is full.
TEST(KilledRun, LeavesEveryNameCompleteOrAsItWas) {
  const std::string archive = test::test_bytes(16u << 20, 13);
  struct Entry {
    std::string name;
    std::size_t loc;
    std::size_t len;
    std::string before;  // what the name holds before the run; empty: it is new
  };
  const Entry entries[] = {
      {"small.sfx", 100, 1000, ""},
      {"kept.sfx", 5000, 2u << 20, "a good earlier extraction"},
      {"big.sfx", 3u << 20, 6u << 20, ""},
      {"large.sfx", 9u << 20, 6u << 20, "another good one"},
      {"last.sfx", 50, 200, "old last"},
  };
  std::string records;
  test::Folder before;
  for (const Entry& entry : entries) {
    char loc[16];
    std::snprintf(loc, sizeof loc, "%zx", entry.loc);
    records += listing_line(entry.name, std::to_string(entry.len), loc) + "\n";
    if (!entry.before.empty()) before.push_back(file(entry.name, entry.before));
  }
  for (int i = 0; i < 5000; ++i) {
    records += listing_line("x/" + std::to_string(i) + ".sfx", "1", "0") + "\n";
  }
  for (std::size_t mark = 0; mark <= std::size(entries); ++mark) {
    SCOPED_TRACE("killed once " + std::to_string(mark) + " names hold their entries");
    test::TempFolder folder;
    test::write_file(folder.file("Filelist.000"), archive);
    test::write_file(folder.file("Filelist.txt"), test::listing_of(records));
    test::make_items(folder.path(), before);
    test::BinaryOptions options;
    options.out.kind = Destination::pipe;
    options.kill_when = [&] {
      std::size_t done = 0;
      std::error_code ignored;
      for (const Entry& e : entries) {
        done += std::filesystem::file_size(folder.file(e.name), ignored) == e.len;
      }
      return done >= mark;
    };
    EXPECT_TRUE(test::run_binary(folder.path(), options).killed);
    for (const Entry& entry : entries) {
      const std::string now = test::read_file(folder.file(entry.name));
      EXPECT_TRUE(now == archive.substr(entry.loc, entry.len) ||
                  now == (entry.before.empty() ? "<missing>" : entry.before))
          << entry.name;
      std::filesystem::remove(folder.file(entry.name));
    }
    for (const char* input : {"Filelist.000", "Filelist.txt"}) {
      std::filesystem::remove(folder.file(input));
    }
    const std::string left = test::folder_entries(folder.path());
    if (left.empty()) continue;
    EXPECT_EQ(left.rfind(".sfx-extract-", 0), 0u) << left;
    const std::string stray = test::read_file(folder.file(left));
    EXPECT_TRUE(std::any_of(std::begin(entries), std::end(entries), [&](const Entry& entry) {
      return stray == archive.substr(entry.loc, entry.len);
    }) || (kEmptyStrayPossible && stray.empty())) << left << ": " << stray.size() << " bytes";
  }
}

}  // namespace
}  // namespace sfx
