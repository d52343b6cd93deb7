// The extraction run as a table of scenarios: the listing and what the folder holds
// beforehand, then the report, the diagnostics, the status and the folder afterwards. Every
// scenario runs through every way the run can copy and name its outputs, each way in a
// fresh folder inside a parent that also holds a file outside the run's folder.
#include "extractor/extraction_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "common/diagnostics.h"
#include "common/file.h"
#include "extractor/entry_names.h"
#include "extractor/kernel_copy.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::file;
using test::hard_link;
using test::link_to;
using test::listing_line;
using test::owned;

const test::Archive kArchive = test::archive_of(test::test_bytes(4096, 7));
// Entries over many copy blocks, copied inside the kernel in one call.
const test::Archive kLarge = test::archive_of(test::test_bytes((1u << 20) + 7, 11));
const test::Archive kLimited = test::archive_of(test::test_bytes(300000, 3));
// Sparse, just over 2 GiB: data around offset 2^31 only.
const test::Archive kPast2GiB = {0x80000100, 0x7FFFFE00, test::test_bytes(0x300, 5)};
const char kOutside[] = "outside: must stay as it is";
constexpr unsigned kOwner = 4242;  // owns the files that runs as root or as kUser replace
constexpr unsigned kUser = 4343;

std::string at(std::uint64_t loc, std::uint64_t len) { return kArchive.bytes(loc, len); }
std::string said(const std::string& what, const std::string& why) {
  return "sfx-extract: " + what + ": " + why + "\n";
}
std::string refused(const std::string& name, const std::string& why) {
  return said(name, "cannot create: " + why);
}

struct Scenario {
  const char* name;
  std::string records;  // the listing after its header
  test::Folder before;  // besides the inputs; may replace or remove them
  std::string out, err;
  int status;
  test::Folder after;  // everything but the inputs
  const test::Archive* archive = &kArchive;
  std::optional<test::ChildSetting> child = {};  // runs in a child process set up so
};

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

std::string line(const std::string& path, const std::string& len, const std::string& loc) {
  return listing_line(path, len, loc) + "\n";
}

// A link under an output's name is never followed, removed or replaced, however often
// the name comes up: each name is listed twice, with a plain entry between.
Scenario links_outside() {
  const test::Folder links = {
      hard_link("hard.sfx", "../outside/target"),
#ifndef _WIN32
      link_to("out.sfx", "../outside/target"), link_to("dangling.sfx", "../outside/new"),
      link_to("dir.sfx", "../outside"), link_to("loop.sfx", "loop2.sfx"),
      link_to("loop2.sfx", "loop.sfx"), link_to("inside.sfx", "mine.wav"),
      file("mine.wav", "mine"),
#endif
  };
  Scenario scenario{"LinksAreRefusedAndLeftAsTheyWere", "", links, "", "", kExitProblems, links};
  for (const test::Item& link : links) {
    if (link.name == "loop2.sfx" || link.name == "mine.wav") continue;
    scenario.records += line("a\\" + link.name, "8", "0") + line("ok.sfx", "4", "10");
    scenario.out += link.name + " len: 8 loc: 0\nok.sfx len: 4 loc: 10\n";
    scenario.err += refused(link.name, link.kind == test::Item::hard_link
                                           ? "it has other names (hard links)"
                                           : "it is a symbolic link");
  }
  scenario.err += scenario.err;
  scenario.records += scenario.records;
  scenario.out += scenario.out;
  scenario.after.push_back(file("ok.sfx", at(0x10, 4)));
  return scenario;
}

const std::string kLongName = std::string(300, 'n') + ".sfx";
const std::string kLong(2000, 'p');

const Scenario kScenarios[] = {
    {"ReportsAndExtractsSelectedEntriesOnly",
     line("data\\snd\\boom.sfx", "512", "3a0") + line("data\\x.SFX", "1", "0") +
         line("snd.sfx\\readme", "1", "0") + line("noextension", "1", "0") +
         line("plain.sfx", "0x10", "0x20") + line("a\\neg.sfx", "-5", "0") +
         line("a\\n.sfx", "0x80000000", "ffffffff"),
     {},
     "boom.sfx len: 512 loc: 3a0\nplain.sfx len: 16 loc: 20\nneg.sfx len: -5 loc: 0\n"
     "n.sfx len: -2147483648 loc: ffffffff\n",
     "",
     kExitSuccess,
     {file("boom.sfx", at(0x3a0, 512)), file("plain.sfx", at(0x20, 16)), file("neg.sfx", ""),
      file("n.sfx", "")}},
    {"NoSelectedEntryLeavesNoTrace", line("a\\b.wav", "1", "0"), {}, "", "", kExitSuccess, {}},
    {"LaterEntryWithSameNameWins",
     line("a\\x.sfx", "10", "100") + line("b\\x.sfx", "20", "50"),
     {},
     "x.sfx len: 10 loc: 100\nx.sfx len: 20 loc: 50\n",
     "",
     kExitSuccess,
     {file("x.sfx", at(0x50, 20))}},
    // Back to back (read on without a seek), overlapping, out of order, and jumps back;
    // the first entry holds every byte value, CR, LF, 0x1A and NUL untranslated.
    {"EntriesWhereverTheyLie",
     line("all.sfx", "256", "0") + line("b.sfx", "50", "100") + line("empty.sfx", "0", "500") +
         line("c.sfx", "10", "132") + line("d.sfx", "5", "10") + line("e.sfx", "5", "15") +
         line("z.sfx", "300", "200") + line("y.sfx", "300", "100"),
     {},
     "all.sfx len: 256 loc: 0\nb.sfx len: 50 loc: 100\nempty.sfx len: 0 loc: 500\n"
     "c.sfx len: 10 loc: 132\nd.sfx len: 5 loc: 10\ne.sfx len: 5 loc: 15\n"
     "z.sfx len: 300 loc: 200\ny.sfx len: 300 loc: 100\n",
     "",
     kExitSuccess,
     {file("all.sfx", at(0, 256)), file("b.sfx", at(0x100, 50)), file("empty.sfx", ""),
      file("c.sfx", at(0x132, 10)), file("d.sfx", at(0x10, 5)), file("e.sfx", at(0x15, 5)),
      file("z.sfx", at(0x200, 300)), file("y.sfx", at(0x100, 300))}},
    {"LargeEntryIsCopiedByteForByte",
     line("big.sfx", std::to_string(kLarge.size - 3), "3"),
     {},
     "big.sfx len: " + std::to_string(kLarge.size - 3) + " loc: 3\n",
     "",
     kExitSuccess,
     {file("big.sfx", kLarge.data.substr(3))},
     &kLarge},
    // A replacement keeps the old file's permission bits; a new file gets the usual ones.
    {"ExistingFilesAreReplacedOrEmptied",
     line("full.sfx", "5", "10") + line("empty.sfx", "0", "10") + line("new.sfx", "3", "10"),
     {file("full.sfx", std::string(10000, 'z'), 0640), file("empty.sfx", "old contents", 0604)},
     "full.sfx len: 5 loc: 10\nempty.sfx len: 0 loc: 10\nnew.sfx len: 3 loc: 10\n",
     "",
     kExitSuccess,
     {file("full.sfx", at(0x10, 5), 0640), file("empty.sfx", "", 0604),
      file("new.sfx", at(0x10, 3))}},
    {"ArchiveEndsEarlyOrLocationTooHigh",
     line("tail.sfx", "0x200", "f00") + line("past.sfx", "10", "2000") +
         line("high.sfx", "10", "80000000") + line("ok.sfx", "10", "0"),
     {file("tail.sfx", "a good earlier extraction"), file("high.sfx", "another one")},
     "tail.sfx len: 512 loc: f00\npast.sfx len: 10 loc: 2000\nhigh.sfx len: 10 loc: 80000000\n"
     "ok.sfx len: 10 loc: 0\n",
     said("tail.sfx", "archive ends after 256 of 512 bytes; tail.sfx left as it was") +
         said("past.sfx", "archive ends after 0 of 10 bytes; not written") +
         said("high.sfx", "location 0x80000000 is beyond 0x7fffffff; high.sfx left as it was"),
     kExitProblems,
     {file("tail.sfx", "a good earlier extraction"), file("high.sfx", "another one"),
      file("ok.sfx", at(0, 10))}},
    // Before, across and just after offset 2^31, up to the last location, and past the end.
    {"Past2GiB",
     line("before.sfx", "256", "7ffffe00") + line("across.sfx", "512", "7fffff00") +
         line("inside.sfx", "256", "7fffff80") + line("last.sfx", "0x101", "7fffffff") +
         line("past.sfx", "512", "7ffffff0"),
     {},
     "before.sfx len: 256 loc: 7ffffe00\nacross.sfx len: 512 loc: 7fffff00\n"
     "inside.sfx len: 256 loc: 7fffff80\nlast.sfx len: 257 loc: 7fffffff\n"
     "past.sfx len: 512 loc: 7ffffff0\n",
     said("past.sfx", "archive ends after 272 of 512 bytes; not written"),
     kExitProblems,
     {file("before.sfx", kPast2GiB.bytes(0x7FFFFE00, 256)),
      file("across.sfx", kPast2GiB.bytes(0x7FFFFF00, 512)),
      file("inside.sfx", kPast2GiB.bytes(0x7FFFFF80, 256)),
      file("last.sfx", kPast2GiB.bytes(0x7FFFFFFF, 0x101))},
     &kPast2GiB},
    // Records that cannot be used get a diagnostic only when they would have been selected.
    {"UnusableRecordsAreSkipped",
     line("a\\bad.sfx", "many", "0") + line("a\\bad.wav", "many", "0") +
         line("a\\" + kLong + ".sfx", "1", "0") + line("a\\" + kLong + ".wav", "1", "0") +
         line("a\\good.sfx", "3", "0") + "a\\short.sfx 1 2 3\n",
     {},
     "good.sfx len: 3 loc: 0\n",
     said("Filelist.txt line 2", "column 4 does not convert; entry skipped") +
         said("Filelist.txt line 4", "path longer than 1023 bytes; entry skipped") +
         said("Filelist.txt line 7", "listing ends inside the record; entry skipped"),
     kExitProblems,
     {file("good.sfx", at(0, 3))}},
    {"HostileNamesAreReportedButNeverWritten",
     line("x\\../evil.sfx", "4", "0") + line("/abs/path.sfx", "4", "0") +
         line("nul\\a\0b.sfx"s, "4", "0") + line("ok.sfx", "4", "0"),
     {},
     "../evil.sfx len: 4 loc: 0\n/abs/path.sfx len: 4 loc: 0\na\0b.sfx len: 4 loc: 0\n"
     "ok.sfx len: 4 loc: 0\n"s,
     said("../evil.sfx", "not a plain file name; entry not extracted") +
         said("/abs/path.sfx", "not a plain file name; entry not extracted") +
         said("a\\x00b.sfx", "not a plain file name; entry not extracted"),
     kExitProblems,
     {file("ok.sfx", at(0, 4))}},
    // Windows device names and drive letters are ordinary names elsewhere.
    {"PlatformNameRulesDecideWhatIsCreated",
     line("a\\CON.sfx", "4", "0") + line("a\\lpt1.x.sfx", "4", "0") + line("a\\c:x.sfx", "4", "0"),
     {},
     "CON.sfx len: 4 loc: 0\nlpt1.x.sfx len: 4 loc: 0\nc:x.sfx len: 4 loc: 0\n",
#ifdef _WIN32
     said("CON.sfx", "not a plain file name; entry not extracted") +
         said("lpt1.x.sfx", "not a plain file name; entry not extracted") +
         said("c:x.sfx", "not a plain file name; entry not extracted"),
     kExitProblems,
     {}},
#else
     "",
     kExitSuccess,
     {file("CON.sfx", at(0, 4)), file("lpt1.x.sfx", at(0, 4)), file("c:x.sfx", at(0, 4))}},
#endif
    {"FolderUnderAnOutputName",
     line("dir.sfx", "4", "0") + line("next.sfx", "4", "8"),
     {test::folder("dir.sfx")},
     "dir.sfx len: 4 loc: 0\nnext.sfx len: 4 loc: 8\n",
     refused("dir.sfx", "not a regular file"),
     kExitProblems,
     {test::folder("dir.sfx"), file("next.sfx", at(8, 4))}},
    // The inputs under an output's name are never written: hard links on every platform
    // (Windows tells files apart by volume and file index), a symbolic link where one can
    // be made.
    {"InputsAreNeverWritten",
     line("hard.sfx", "4", "0") + line("listing.sfx", "4", "0") + line("archive.sfx", "4", "0"),
     {hard_link("hard.sfx", "Filelist.000"), hard_link("listing.sfx", "Filelist.txt"),
#ifndef _WIN32
      link_to("archive.sfx", "Filelist.000")
#endif
     },
     "hard.sfx len: 4 loc: 0\nlisting.sfx len: 4 loc: 0\narchive.sfx len: 4 loc: 0\n",
     refused("hard.sfx", "it is one of the input files") +
         refused("listing.sfx", "it is one of the input files") +
#ifdef _WIN32
         "",
     kExitProblems,
     {hard_link("hard.sfx", "Filelist.000"), hard_link("listing.sfx", "Filelist.txt"),
      file("archive.sfx", at(0, 4))}},
#else
         refused("archive.sfx", "it is a symbolic link"),
     kExitProblems,
     {hard_link("hard.sfx", "Filelist.000"), hard_link("listing.sfx", "Filelist.txt"),
      link_to("archive.sfx", "Filelist.000")}},
#endif
    links_outside(),
#ifndef _WIN32
    {"NameTooLong",
     line(kLongName, "4", "0"),
     {},
     kLongName + " len: 4 loc: 0\n",
     said(kLongName, "cannot create: " + os_error(ENAMETOOLONG) + "; not written"),
     kExitProblems,
     {}},
    // Under a file-size limit an entry that cannot be written whole installs nothing, with
    // the same diagnostic whichever way it was copied, and the entries after it go on.
    {"FileSizeLimitFailsOneEntry",
     line("big.sfx", "300000", "0") + line("small.sfx", "100", "10") +
         line("next.sfx", "200000", "100"),
     {file("next.sfx", "good")},
     "big.sfx len: 300000 loc: 0\nsmall.sfx len: 100 loc: 10\nnext.sfx len: 200000 loc: 100\n",
     said("big.sfx", "write failed after 150000 of 300000 bytes: File too large; not written") +
         said("next.sfx",
              "write failed after 150000 of 200000 bytes: File too large; next.sfx left as it was"),
     kExitProblems,
     {file("small.sfx", kLimited.bytes(0x10, 100)), file("next.sfx", "good")},
     &kLimited,
     test::ChildSetting{150000, std::nullopt}},
    // A replacement keeps the owner and group where the run may give them (as root), and
    // a set-ID bit only with the owner or group it grants.
    {"ReplacedAsRoot",
     line("setuid.sfx", "4", "0") + line("setgid.sfx", "4", "0") + line("both.sfx", "4", "0") +
         line("private.sfx", "4", "0"),
     {owned(file("setuid.sfx", "old", 04755), kOwner, kOwner),
      owned(file("setgid.sfx", "old", 02755), kOwner, kOwner),
      owned(file("both.sfx", "old", 06755), kOwner, kOwner),
      owned(file("private.sfx", "old", 0640), kOwner, kOwner)},
     "setuid.sfx len: 4 loc: 0\nsetgid.sfx len: 4 loc: 0\nboth.sfx len: 4 loc: 0\n"
     "private.sfx len: 4 loc: 0\n",
     "",
     kExitSuccess,
     {owned(file("setuid.sfx", at(0, 4), 04755), kOwner, kOwner),
      owned(file("setgid.sfx", at(0, 4), 02755), kOwner, kOwner),
      owned(file("both.sfx", at(0, 4), 06755), kOwner, kOwner),
      owned(file("private.sfx", at(0, 4), 0640), kOwner, kOwner)}},
    {"ReplacedByAnotherUser",
     line("setuid.sfx", "4", "0") + line("setgid.sfx", "4", "0") + line("both.sfx", "4", "0") +
         line("own.sfx", "4", "0"),
     {owned(file("setuid.sfx", "old", 04755), kOwner, kOwner),
      owned(file("setgid.sfx", "old", 02755), kOwner, kOwner),
      owned(file("both.sfx", "old", 06755), kOwner, kOwner),
      owned(file("own.sfx", "old", 06755), kUser, kOwner)},
     "setuid.sfx len: 4 loc: 0\nsetgid.sfx len: 4 loc: 0\nboth.sfx len: 4 loc: 0\n"
     "own.sfx len: 4 loc: 0\n",
     "",
     kExitSuccess,
     {owned(file("setuid.sfx", at(0, 4), 0755), kUser, kUser),
      owned(file("setgid.sfx", at(0, 4), 0755), kUser, kUser),
      owned(file("both.sfx", at(0, 4), 0755), kUser, kUser),
      owned(file("own.sfx", at(0, 4), 04755), kUser, kUser)},
     &kArchive,
     test::ChildSetting{0, kUser}},
#endif
};

// Every way the run can copy and name its outputs, and where its folder lies.
struct Way {
  const char* name;
  RunOptions options;
  std::string folder = "run";  // the run's folder, in the parent folder
};
const Way kWays[] = {
    {"stream, temporary name", {std::nullopt, Naming::temporary_name}},
#ifdef _WIN32
    // The folder's path with an output's name is longer than MAX_PATH (260), which only the
    // wide calls on the \\?\ form reach. Wine sets no such limit: this guards the wide path.
    {"stream, temporary name, folder past MAX_PATH",
     {std::nullopt, Naming::temporary_name},
     "run" + std::string(240, 'd')},
#else
    {"kernel copy, temporary name", {1, Naming::temporary_name}},
    {"stream, unnamed file", {std::nullopt, Naming::unnamed}},
    {"kernel copy, unnamed file", {1, Naming::unnamed}},
    {"stream, unnamed file via /proc", {std::nullopt, Naming::unnamed_via_proc}},
    {"kernel copy, unnamed file via /proc", {1, Naming::unnamed_via_proc}},
#endif
};

class ExtractionRun : public testing::TestWithParam<Scenario> {};

TEST_P(ExtractionRun, EveryWayGivesTheSameOutcome) {
  const Scenario& scenario = GetParam();
  const bool owners = std::any_of(scenario.before.begin(), scenario.before.end(),
                                  [](const test::Item& item) { return item.owner.has_value(); });
#ifndef _WIN32
  if (owners && geteuid() != 0) GTEST_SKIP() << "needs root, to give files another owner";
#endif
  const std::string listing = test::listing_of(scenario.records);
  for (const Way& way : kWays) {
    SCOPED_TRACE(way.name);
    test::TempFolder parent;
    const std::string run = parent.file(way.folder);
    fs::create_directory(run);
    fs::create_directory(parent.file("outside"));
    test::write_file(parent.file("outside/target"), kOutside);
    if (!test::write_archive(run + "/Filelist.000", *scenario.archive)) {
      GTEST_SKIP() << "the file system of " << run << " cannot hold a sparse file";
    }
    test::write_file(run + "/Filelist.txt", listing);
    test::make_items(run, scenario.before);
    // A run as another user must be able to replace files in its folder.
    if (owners) fs::permissions(run, fs::perms::all);
    const test::RunResult result = test::run_in(run, way.options, scenario.child);
    EXPECT_EQ(result.out, scenario.out);
    EXPECT_EQ(result.err, scenario.err);
    EXPECT_EQ(result.status, scenario.status);
    EXPECT_EQ(test::differences(run, scenario.after), "");
    EXPECT_EQ(test::read_file(run + "/Filelist.txt"), listing);
    if (scenario.archive->data.size() == scenario.archive->size) {
      EXPECT_TRUE(test::read_file(run + "/Filelist.000") == scenario.archive->data);
    }
    EXPECT_EQ(test::folder_entries(parent.path()), "outside " + way.folder);
    EXPECT_EQ(test::folder_entries(parent.file("outside")), "target");
    EXPECT_EQ(test::read_file(parent.file("outside/target")), kOutside);
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ExtractionRun, testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

#ifdef _WIN32
// Refused on Windows alone: a file with the read-only attribute, which Windows itself would
// not replace, and symbolic links to a file and to a folder (reparse points, like a
// junction), where the system can make them (Wine cannot).
TEST(ExtractionRunOnWindows, ReadOnlyFilesAndReparsePointsAreRefused) {
  test::TempFolder folder;
  fs::create_directory(folder.file("folder"));
  test::write_file(folder.file("target.wav"), "target");
  test::write_file(folder.file("kept.sfx"), "read-only");
  ASSERT_TRUE(SetFileAttributesA(folder.file("kept.sfx").c_str(), FILE_ATTRIBUTE_READONLY));
  bool links = CreateSymbolicLinkA(folder.file("file.sfx").c_str(), "target.wav", 0) &&
               CreateSymbolicLinkA(folder.file("dir.sfx").c_str(), "folder",
                                   SYMBOLIC_LINK_FLAG_DIRECTORY);
  for (const char* name : {"file.sfx", "dir.sfx"}) {
    const DWORD attributes = GetFileAttributesA(folder.file(name).c_str());
    links = links && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }
  test::write_file(folder.file("Filelist.000"), kArchive.data);
  const std::string link_lines = line("file.sfx", "4", "0") + line("dir.sfx", "4", "0");
  test::write_file(folder.file("Filelist.txt"),
                   test::listing_of(line("kept.sfx", "4", "0") + (links ? link_lines : "")));
  const auto result = test::run_in(folder.path());
  SetFileAttributesA(folder.file("kept.sfx").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(result.err, refused("kept.sfx", "it is read-only") +
                            (links ? refused("file.sfx", "it is a symbolic link") +
                                         refused("dir.sfx", "it is a symbolic link")
                                   : ""));
  EXPECT_EQ(test::read_file(folder.file("kept.sfx")), "read-only");
  EXPECT_EQ(test::read_file(folder.file("target.wav")), "target");
  EXPECT_EQ(test::folder_entries(folder.file("folder")), "");
  EXPECT_EQ(result.status, kExitProblems);
  if (!links) GTEST_SKIP() << "this system makes no symbolic links; only read-only was tried";
}

// An output name can reach a file named otherwise through its 8.3 short name (NTFS makes
// them on system drives, FAT32 always, Wine its own). Each planted item is listed under its
// short name, extension in lower case as selection wants it: refused with the name it
// reaches, and left as it was. The long name itself, and a name differing only in case, are
// the same file's names and replace it; a plain entry after them is extracted.
TEST(ExtractionRunOnWindows, ShortNamesReachNoOtherFile) {
  test::TempFolder folder;
  const test::Folder planted = {file("x.sfxbackup", "backup"), file("longname_music.sfx", "music"),
                                test::folder("folder.sfxdir"), file("case.sfx", "case")};
  test::make_items(folder.path(), planted);
  std::string records;
  std::string err;
  for (const test::Item& item : planted) {
    if (item.name == "case.sfx") continue;
    wchar_t short_path[MAX_PATH];
    const DWORD length = GetShortPathNameW(fs::path(folder.file(item.name)).wstring().c_str(),
                                           short_path, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH) << item.name;
    std::string name = fs::path(short_path).filename().string();
    if (CompareStringOrdinal(fs::path(name).wstring().c_str(), -1,
                             fs::path(item.name).wstring().c_str(), -1, TRUE) == CSTR_EQUAL) {
      GTEST_SKIP() << "the volume of " << folder.path() << " makes no short names";
    }
    ASSERT_EQ(name.substr(name.size() - 4), ".SFX") << name;
    name.replace(name.size() - 4, 4, ".sfx");
    records += line("snd\\" + name, "4", "0");
    err += refused(name, "the name reaches " + item.name);
  }
  test::write_file(folder.file("Filelist.000"), kArchive.data);
  test::write_file(folder.file("Filelist.txt"),
                   test::listing_of(records + line("longname_music.sfx", "4", "20") +
                                    line("CASE.sfx", "4", "30") + line("ok.sfx", "4", "8")));
  const auto result = test::run_in(folder.path());
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.status, kExitProblems);
  EXPECT_EQ(test::read_file(folder.file("x.sfxbackup")), "backup");
  EXPECT_EQ(test::read_file(folder.file("longname_music.sfx")), at(0x20, 4));
  EXPECT_EQ(test::folder_entries(folder.file("folder.sfxdir")), "");
  EXPECT_EQ(test::read_file(folder.file("case.sfx")), at(0x30, 4));
  EXPECT_EQ(test::read_file(folder.file("ok.sfx")), at(8, 4));
  // One file for case.sfx and CASE.sfx, whichever spelling the system gave it.
  const std::string entries = test::folder_entries(folder.path());
  EXPECT_TRUE(entries.find("case.sfx") == std::string::npos ||
              entries.find("CASE.sfx") == std::string::npos)
      << entries;
}

// Another program (a virus scanner, an indexer) that holds an output's name for a moment
// delays its replacement, and loses nothing; one that holds it past the retries fails that
// entry only, and the name is left as it was.
TEST(ExtractionRunOnWindows, NameHeldByAnotherProgram) {
  for (const DWORD held_for : {300, 5000}) {
    SCOPED_TRACE(held_for);
    test::TempFolder folder;
    test::write_file(folder.file("Filelist.000"), kArchive.data);
    test::write_file(folder.file("Filelist.txt"),
                     test::listing_of(line("held.sfx", "4", "0") + line("next.sfx", "4", "8")));
    test::write_file(folder.file("held.sfx"), "held");
    const HANDLE held = CreateFileA(folder.file("held.sfx").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread holder([&] {
      Sleep(held_for);
      CloseHandle(held);
    });
    const auto result = test::run_in(folder.path());
    holder.join();
    const bool waited_out = held_for < 1000;
    EXPECT_EQ(result.status, waited_out ? kExitSuccess : kExitProblems);
    EXPECT_EQ(test::read_file(folder.file("held.sfx")), waited_out ? at(0, 4) : "held");
    EXPECT_EQ(test::read_file(folder.file("next.sfx")), at(8, 4));
    if (!waited_out) {
      EXPECT_EQ(result.err.rfind("sfx-extract: held.sfx: cannot replace: ", 0), 0u) << result.err;
      EXPECT_NE(result.err.find("; held.sfx left as it was\n"), std::string::npos) << result.err;
    }
  }
}

// The name must be the file's name: a file system that gives a new file another one (Wine
// on a POSIX file system cuts a name to 255 bytes of UTF-8, here to end in "setup.exe")
// gets no file at all, and the entry fails. Windows itself takes the name whole.
TEST(ExtractionRunOnWindows, NoFileIsLeftUnderAnotherName) {
  const std::wstring wide = std::wstring(123, L'\u00e9') + L"setup.exe\u00e9.sfx";
  char bytes[512];
  BOOL defaulted = FALSE;
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                       static_cast<int>(wide.size()), bytes, sizeof bytes,
                                       nullptr, &defaulted);
  if (size <= 0 || defaulted) GTEST_SKIP() << "the ANSI code page " << GetACP() << " has no \u00e9";
  const std::string name(bytes, static_cast<std::size_t>(size));
  test::TempFolder folder;
  test::write_file(folder.file("Filelist.000"), kArchive.data);
  test::write_file(folder.file("Filelist.txt"),
                   test::listing_of(line("snd\\" + name, "4", "0") + line("ok.sfx", "4", "8")));
  const auto result = test::run_in(folder.path());
  EXPECT_EQ(test::read_file(folder.file("ok.sfx")), at(8, 4));
  if (test::under_wine()) {
    const std::string cut = name.substr(0, name.find("setup.exe") + 9);
    EXPECT_EQ(result.err, said(name, "the file system named it " + cut + "; not written"));
    EXPECT_EQ(result.status, kExitProblems);
    EXPECT_EQ(test::differences(folder.path(), {file("ok.sfx", at(8, 4))}), "");
  } else {
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(test::differences(folder.path(), {file("ok.sfx", at(8, 4)), file(name, at(0, 4))}),
              "");
  }
}

// A replacement that another program delays looks at the name again before each try: a
// file with other names put there meanwhile is refused, not replaced.
TEST(ExtractionRunOnWindows, EachRetriedReplacementLooksAgain) {
  test::TempFolder parent;
  const std::string run = parent.file("run");
  fs::create_directory(run);
  test::write_file(run + "/Filelist.000", kArchive.data);
  test::write_file(run + "/Filelist.txt",
                   test::listing_of(line("held.sfx", "4", "0") + line("next.sfx", "4", "8")));
  test::write_file(run + "/held.sfx", "held");
  test::write_file(parent.file("outside"), kOutside);
  fs::create_hard_link(parent.file("outside"), run + "/swap.wav");
  const HANDLE held = CreateFileA((run + "/held.sfx").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  // The file under the name is swapped for one with two names while the run waits to try
  // again: tries come 10, 30, 70, 150, 310, 630 and 1270 ms after the first, which comes at
  // once, so 450 ms falls well inside a wait.
  std::thread swapper([&] {
    Sleep(450);
    CloseHandle(held);
    MoveFileExA((run + "/swap.wav").c_str(), (run + "/held.sfx").c_str(), MOVEFILE_REPLACE_EXISTING);
  });
  const auto result = test::run_in(run);
  swapper.join();
  EXPECT_EQ(result.err, refused("held.sfx", "it has other names (hard links)"));
  EXPECT_EQ(result.status, kExitProblems);
  EXPECT_TRUE(fs::equivalent(run + "/held.sfx", parent.file("outside")));
  EXPECT_EQ(test::read_file(parent.file("outside")), kOutside);
  EXPECT_EQ(test::read_file(run + "/next.sfx"), at(8, 4));
}
#endif

#ifdef __linux__
// An archive on another kind of file system (tmpfs) cannot be copied from inside the
// kernel into this folder (since Linux 5.19): the entry goes on through the stream, and so
// do later ones. The kernel's refusal is asked first, so that the test cannot pass without it.
TEST(ExtractionRunOnLinux, KernelRefusalFallsBackToTheStream) {
  const std::string shm_archive = "/dev/shm/sfx-test-archive-" + std::to_string(getpid());
  const std::string archive = test::test_bytes(1 << 20, 5);
  bool written = true;
  try {
    test::write_file(shm_archive, archive);
  } catch (const std::runtime_error&) {
    written = false;
  }
  if (!written || test::read_file(shm_archive) != archive) {
    std::error_code ignored;
    fs::remove(shm_archive, ignored);
    GTEST_SKIP() << "cannot write " << shm_archive << "; the test needs a writable tmpfs there";
  }
  test::TempFolder folder;
  {
    const File from(std::fopen(shm_archive.c_str(), "rb"));
    const Descriptor to(::open(folder.file("probe").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    const KernelCopyResult refused = copy_in_kernel(from.get(), 0, to.get(), 4096);
    fs::remove(folder.file("probe"));
    if (refused.stop != KernelCopyStop::unsupported || refused.copied != 0) {
      fs::remove(shm_archive);
      GTEST_SKIP() << "this kernel copies from " << shm_archive << " into " << folder.path();
    }
  }
  fs::create_symlink(shm_archive, folder.file("Filelist.000"));
  test::write_file(folder.file("Filelist.txt"),
                   test::listing_of(line("a.sfx", "600000", "0") +
                                    line("b.sfx", "300000", "927c0") +
                                    line("c.sfx", "500000", "10")));
  const auto result = test::run_in(folder.path(), RunOptions{1});
  fs::remove(shm_archive);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_TRUE(test::read_file(folder.file("a.sfx")) == archive.substr(0, 600000));
  EXPECT_TRUE(test::read_file(folder.file("b.sfx")) == archive.substr(600000, 300000));
  EXPECT_TRUE(test::read_file(folder.file("c.sfx")) == archive.substr(16, 500000));
}
#endif

}  // namespace
}  // namespace sfx
