// The whole run in a temporary folder: report lines, files left behind, diagnostics and
// exit status.
#include "extractor/extraction_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "extractor/entry_names.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::listing_line;
using test::listing_of;
using test::read_file;
using namespace std::string_literals;

class ExtractionRun : public testing::Test {
 protected:
  void SetUp() override { archive_ = test::test_bytes(4096, 7); }

  // Writes the archive and a listing of `lines`, then runs the extraction.
  test::RunResult run(const std::string& lines) {
    test::write_file(folder_.file("Filelist.000"), archive_);
    test::write_file(folder_.file("Filelist.txt"), listing_of(lines));
    return test::run_in(folder_.path());
  }
  // Runs the extraction four ways, each on its own copy of the folder: every entry
  // through the archive stream, every entry copied inside the kernel, every output under a
  // temporary name (as where the file system has no unnamed files), and the program's own
  // way. All must print, report and leave the same; returns the last, which runs in
  // folder_ itself.
  test::RunResult run_each_copy_way(const std::string& lines) {
    namespace fs = std::filesystem;
    test::write_file(folder_.file("Filelist.000"), archive_);
    test::write_file(folder_.file("Filelist.txt"), listing_of(lines));
    test::TempFolder pristine;
    test::copy_folder(folder_.path(), pristine.path());
    const auto result = test::run_in(folder_.path());
    const std::string left = test::tree_snapshot(folder_.path());
    struct Way {
      const char* name;
      RunOptions options;
    };
    for (const Way& way : {Way{"block copy", {std::nullopt}}, Way{"kernel copy", {1}},
                           Way{"temporary names", {kKernelCopyThreshold, false}}}) {
      SCOPED_TRACE(way.name);
      test::TempFolder copy;
      test::copy_folder(pristine.path(), copy.path());
      const auto other = test::run_in(copy.path(), way.options);
      EXPECT_EQ(other.out, result.out);
      EXPECT_EQ(other.err, result.err);
      EXPECT_EQ(other.status, result.status);
      EXPECT_TRUE(test::tree_snapshot(copy.path()) == left);
    }
    return result;
  }
  std::string archive_bytes(std::size_t loc, std::size_t len) const {
    return archive_.substr(loc, len);
  }

  test::TempFolder folder_;
  std::string archive_;
};

TEST_F(ExtractionRun, ReportsAndExtractsSelectedEntriesOnly) {
  const auto result = run(listing_line("data\\snd\\boom.sfx", "512", "3a0") + "\n" +
                          listing_line("data\\x.SFX", "1", "0") + "\n" +
                          listing_line("data\\y.Sfx", "1", "0") + "\n" +
                          listing_line("snd\\boom.sfx.bak", "1", "0") + "\n" +
                          listing_line("snd.sfx\\readme", "1", "0") + "\n" +
                          listing_line("noextension", "1", "0") + "\n" +
                          listing_line("plain.sfx", "0x10", "0x20") + "\n" +
                          listing_line("a\\neg.sfx", "-5", "0") + "\n");
  EXPECT_EQ(result.out,
            "boom.sfx len: 512 loc: 3a0\n"
            "plain.sfx len: 16 loc: 20\n"
            "neg.sfx len: -5 loc: 0\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(test::folder_entries(folder_.path()),
            "Filelist.000 Filelist.txt boom.sfx neg.sfx plain.sfx");
  EXPECT_EQ(read_file(folder_.file("boom.sfx")), archive_bytes(0x3a0, 512));
  EXPECT_EQ(read_file(folder_.file("plain.sfx")), archive_bytes(0x20, 16));
  EXPECT_EQ(read_file(folder_.file("neg.sfx")), "");
}

TEST_F(ExtractionRun, NoSelectedEntryLeavesNoTrace) {
  const auto result = run(listing_line("a\\b.wav", "1", "0") + "\n");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(test::folder_entries(folder_.path()), "Filelist.000 Filelist.txt");
}

TEST_F(ExtractionRun, InputsThatCannotBeOpenedGiveStatusOneSilently) {
  namespace fs = std::filesystem;
  struct Case {
    const char* name;
    bool archive;  // false: missing; a folder of that name when `as_folder`
    bool listing;
    bool as_folder;
  };
  for (const Case c : {Case{"no archive", false, true, false},
                       Case{"neither", false, false, false},
                       Case{"no listing", true, false, false},
                       Case{"archive is a folder", false, true, true},
                       Case{"listing is a folder", true, false, true}}) {
    SCOPED_TRACE(c.name);
    test::TempFolder folder;
    const std::string listing = listing_of(listing_line("a\\b.sfx", "1", "0") + "\n");
    if (c.archive) test::write_file(folder.file("Filelist.000"), "x");
    if (c.listing) test::write_file(folder.file("Filelist.txt"), listing);
    if (c.as_folder) fs::create_directory(folder.file(c.archive ? "Filelist.txt" : "Filelist.000"));
    const auto result = test::run_in(folder.path());
    EXPECT_EQ(result.status, kExitCannotOpen);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(test::exists(folder.file("b.sfx")));
  }
}

TEST_F(ExtractionRun, LaterEntryWithSameNameWins) {
  const auto result = run_each_copy_way(listing_line("a\\x.sfx", "10", "100") + "\n" +
                          listing_line("b\\x.sfx", "20", "50") + "\n");
  EXPECT_EQ(result.out, "x.sfx len: 10 loc: 100\nx.sfx len: 20 loc: 50\n");
  EXPECT_EQ(read_file(folder_.file("x.sfx")), archive_bytes(0x50, 20));
}

TEST_F(ExtractionRun, EntriesOutOfOrderAndOverlapping) {
  const auto result = run_each_copy_way(listing_line("c.sfx", "300", "200") + "\n" +
                          listing_line("a.sfx", "300", "0") + "\n" +
                          listing_line("b.sfx", "300", "100") + "\n");
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(read_file(folder_.file("a.sfx")), archive_bytes(0, 300));
  EXPECT_EQ(read_file(folder_.file("b.sfx")), archive_bytes(0x100, 300));
  EXPECT_EQ(read_file(folder_.file("c.sfx")), archive_bytes(0x200, 300));
}

// Entries stored back to back are read on without a seek; anything else must reposition.
TEST_F(ExtractionRun, BackToBackEntriesAndJumps) {
  const auto result = run_each_copy_way(listing_line("a.sfx", "100", "0") + "\n" +
                          listing_line("b.sfx", "50", "64") + "\n" +
                          listing_line("empty.sfx", "0", "500") + "\n" +
                          listing_line("c.sfx", "10", "96") + "\n" +
                          listing_line("tail.sfx", "0x200", "f00") + "\n" +
                          listing_line("d.sfx", "5", "10") + "\n" +
                          listing_line("e.sfx", "5", "15") + "\n");
  EXPECT_EQ(result.status, kExitProblems);
  EXPECT_EQ(read_file(folder_.file("a.sfx")), archive_bytes(0, 100));
  EXPECT_EQ(read_file(folder_.file("b.sfx")), archive_bytes(100, 50));
  EXPECT_EQ(read_file(folder_.file("c.sfx")), archive_bytes(150, 10));
  EXPECT_FALSE(test::exists(folder_.file("tail.sfx")));
  EXPECT_EQ(read_file(folder_.file("d.sfx")), archive_bytes(0x10, 5));
  EXPECT_EQ(read_file(folder_.file("e.sfx")), archive_bytes(0x15, 5));
}

TEST_F(ExtractionRun, BytesAreCopiedWithoutTranslation) {
  archive_ = std::string("ab\r\n\x1a\ncd\r\0ef", 12);
  const auto result = run_each_copy_way(listing_line("t.sfx", "12", "0") + "\n");
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(read_file(folder_.file("t.sfx")), archive_);
}

// A replaced file keeps its permission bits; a new one gets the usual ones.
TEST_F(ExtractionRun, ExistingFilesAreReplacedOrEmptied) {
  namespace fs = std::filesystem;
  test::write_file(folder_.file("full.sfx"), std::string(10000, 'z'));
  test::write_file(folder_.file("empty.sfx"), "old contents");
  fs::permissions(folder_.file("full.sfx"), fs::perms::owner_read | fs::perms::owner_write |
                                                fs::perms::group_read);
  const auto result = run_each_copy_way(listing_line("full.sfx", "5", "10") + "\n" +
                          listing_line("empty.sfx", "0", "10") + "\n" +
                          listing_line("new.sfx", "3", "10") + "\n");
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(read_file(folder_.file("full.sfx")), archive_bytes(0x10, 5));
  EXPECT_EQ(read_file(folder_.file("empty.sfx")), "");
#ifndef _WIN32
  EXPECT_EQ(fs::status(folder_.file("full.sfx")).permissions(), fs::perms(0640));
  EXPECT_EQ(fs::status(folder_.file("new.sfx")).permissions(),
            fs::status(folder_.file("Filelist.txt")).permissions());
#endif
}

#ifndef _WIN32
// A replacement keeps the old file's owner and group where the run may give them (as root)
// and always its rwx bits; a set-ID bit survives only with the owner or group it grants, so
// no run turns an entry into a set-ID program of its own user.
TEST(Replacement, NeverGainsPrivilege) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root, to give files another owner and to run as another user";
  }
  constexpr unsigned kOwner = 4242;  // owns the files before the run
  constexpr unsigned kUser = 4343;   // the unprivileged run
  struct Row {
    const char* name;
    std::optional<unsigned> run_as;  // none: root
    unsigned owner, group, mode;     // before
    unsigned owner_after, group_after, mode_after;
  };
  const Row rows[] = {
      {"setuid.sfx", {}, kOwner, kOwner, 04755, kOwner, kOwner, 04755},
      {"setgid.sfx", {}, kOwner, kOwner, 02755, kOwner, kOwner, 02755},
      {"both.sfx", {}, kOwner, kOwner, 06755, kOwner, kOwner, 06755},
      {"private.sfx", {}, kOwner, kOwner, 0640, kOwner, kOwner, 0640},
      {"setuid.sfx", kUser, kOwner, kOwner, 04755, kUser, kUser, 0755},
      {"setgid.sfx", kUser, kOwner, kOwner, 02755, kUser, kUser, 0755},
      {"both.sfx", kUser, kOwner, kOwner, 06755, kUser, kUser, 0755},
      {"own.sfx", kUser, kUser, kOwner, 06755, kUser, kUser, 04755},
  };
  const std::string archive = test::test_bytes(4096, 19);
  for (const bool unnamed : {true, false}) {
    for (const std::optional<unsigned> run_as : {std::optional<unsigned>(), std::optional(kUser)}) {
      SCOPED_TRACE(std::string(unnamed ? "unnamed file" : "temporary name") + ", run as " +
                   std::to_string(run_as.value_or(0)));
      test::TempFolder folder;
      std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
      std::string lines;
      for (const Row& row : rows) {
        if (row.run_as != run_as) continue;
        test::write_file(folder.file(row.name), "old");
        ASSERT_EQ(chown(folder.file(row.name).c_str(), row.owner, row.group), 0);
        ASSERT_EQ(chmod(folder.file(row.name).c_str(), row.mode), 0);
        lines += listing_line(row.name, "100", "20") + "\n";
      }
      test::write_file(folder.file("Filelist.000"), archive);
      test::write_file(folder.file("Filelist.txt"), listing_of(lines));
      const auto result = test::run_in_child(folder.path(), {kKernelCopyThreshold, unnamed},
                                             {0, run_as});
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.status, kExitSuccess);
      for (const Row& row : rows) {
        if (row.run_as != run_as) continue;
        SCOPED_TRACE(row.name);
        struct stat status {};
        ASSERT_EQ(stat(folder.file(row.name).c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, row.owner_after);
        EXPECT_EQ(status.st_gid, row.group_after);
        EXPECT_EQ(status.st_mode & 07777, row.mode_after);
        EXPECT_TRUE(read_file(folder.file(row.name)) == archive.substr(0x20, 100));
      }
    }
  }
}
#endif

// Records that cannot be used get a diagnostic only when they would have been selected.
TEST_F(ExtractionRun, UnusableRecordsAreSkipped) {
  const std::string long_path(2000, 'p');
  const auto result = run(listing_line("a\\bad.sfx", "many", "0") + "\n" +
                          listing_line("a\\bad.wav", "many", "0") + "\n" +
                          listing_line("a\\" + long_path + ".sfx", "1", "0") + "\n" +
                          listing_line("a\\" + long_path + ".wav", "1", "0") + "\n" +
                          listing_line("a\\good.sfx", "3", "0") + "\n" +
                          "a\\short.sfx 1 2 3\n");
  EXPECT_EQ(result.out, "good.sfx len: 3 loc: 0\n");
  EXPECT_EQ(result.err,
            "sfx-extract: Filelist.txt line 2: column 4 does not convert; entry skipped\n"
            "sfx-extract: Filelist.txt line 4: path longer than 1023 bytes; entry skipped\n"
            "sfx-extract: Filelist.txt line 7: column 5 does not convert; entry skipped\n");
  EXPECT_EQ(result.status, kExitProblems);
  EXPECT_EQ(test::folder_entries(folder_.path()), "Filelist.000 Filelist.txt good.sfx");
}

TEST_F(ExtractionRun, UnselectedUnusableRecordsAreSilent) {
  const auto result = run(listing_line("a\\bad.wav", "many", "0") + "\n" +
                          listing_line(std::string(5000, 'q') + ".wav", "1", "0") + "\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, kExitSuccess);
}

TEST_F(ExtractionRun, HostileNamesAreReportedButNeverWritten) {
  namespace fs = std::filesystem;
  fs::create_directory(folder_.file("inner"));
  const std::string inner = folder_.path() + "/inner";
  test::write_file(inner + "/Filelist.000", archive_);
  test::write_file(inner + "/Filelist.txt",
                   listing_of(listing_line("x\\../evil.sfx", "4", "0") + "\n" +
                              listing_line("/abs/path.sfx", "4", "0") + "\n" +
                              listing_line(std::string("nul\\a\0b.sfx", 11), "4", "0") + "\n" +
                              listing_line("ok.sfx", "4", "0") + "\n"));
  const auto result = test::run_in(inner);
  EXPECT_EQ(result.out, "../evil.sfx len: 4 loc: 0\n/abs/path.sfx len: 4 loc: 0\n"
                        "a\0b.sfx len: 4 loc: 0\nok.sfx len: 4 loc: 0\n"s);
  EXPECT_EQ(result.err,
            "sfx-extract: ../evil.sfx: not a plain file name; entry not extracted\n"
            "sfx-extract: /abs/path.sfx: not a plain file name; entry not extracted\n"
            "sfx-extract: a\\x00b.sfx: not a plain file name; entry not extracted\n");
  EXPECT_EQ(result.status, kExitProblems);
  EXPECT_EQ(test::folder_entries(folder_.path()), "inner");
  EXPECT_EQ(test::folder_entries(inner), "Filelist.000 Filelist.txt ok.sfx");
}

// Windows device names and drive letters are ordinary names elsewhere.
TEST_F(ExtractionRun, PlatformNameRulesDecideWhatIsCreated) {
  const bool windows = kHostNameRules == NameRules::windows;
  const auto result = run(listing_line("a\\CON.sfx", "4", "0") + "\n" +
                          listing_line("a\\lpt1.x.sfx", "4", "0") + "\n" +
                          listing_line("a\\c:x.sfx", "4", "0") + "\n");
  EXPECT_EQ(result.out, "CON.sfx len: 4 loc: 0\nlpt1.x.sfx len: 4 loc: 0\nc:x.sfx len: 4 loc: 0\n");
  EXPECT_EQ(result.status, windows ? kExitProblems : kExitSuccess);
  EXPECT_EQ(test::folder_entries(folder_.path()),
            windows ? "Filelist.000 Filelist.txt"
                    : "CON.sfx Filelist.000 Filelist.txt c:x.sfx lpt1.x.sfx");
  if (windows) {
    EXPECT_EQ(result.err,
              "sfx-extract: CON.sfx: not a plain file name; entry not extracted\n"
              "sfx-extract: lpt1.x.sfx: not a plain file name; entry not extracted\n"
              "sfx-extract: c:x.sfx: not a plain file name; entry not extracted\n");
  }
}

TEST_F(ExtractionRun, OutputThatCannotBeCreatedDoesNotStopTheRun) {
  std::filesystem::create_directory(folder_.file("dir.sfx"));
  const auto result = run_each_copy_way(listing_line("dir.sfx", "4", "0") + "\n" +
                          listing_line(std::string(300, 'n') + ".sfx", "4", "0") + "\n" +
                          listing_line("next.sfx", "4", "8") + "\n");
  EXPECT_EQ(result.out.substr(0, 24), "dir.sfx len: 4 loc: 0\n" + std::string(2, 'n'));
  EXPECT_EQ(result.err.rfind("sfx-extract: dir.sfx: cannot create: not a regular file\n", 0), 0u);
  // Whatever the system says of the name, it was not written, in every way of naming.
  EXPECT_NE(result.err.find("nnnn.sfx: cannot create: "), std::string::npos);
  const std::string not_written = "; not written\n";
  EXPECT_EQ(result.err.substr(result.err.size() - not_written.size()), not_written);
  EXPECT_EQ(result.status, kExitProblems);
  EXPECT_EQ(read_file(folder_.file("next.sfx")), archive_bytes(8, 4));
}

// An entry that cannot be completed installs nothing: a good file under its name stays as
// it was, and a new name is not created.
TEST_F(ExtractionRun, ShortArchiveInstallsNothing) {
  test::write_file(folder_.file("tail.sfx"), "a good earlier extraction");
  test::write_file(folder_.file("high.sfx"), "another one");
  const auto result = run_each_copy_way(listing_line("tail.sfx", "0x200", "f00") + "\n" +
                          listing_line("past.sfx", "10", "2000") + "\n" +
                          listing_line("high.sfx", "10", "80000000") + "\n" +
                          listing_line("ok.sfx", "10", "0") + "\n");
  EXPECT_EQ(result.err,
            "sfx-extract: tail.sfx: archive ends after 256 of 512 bytes; tail.sfx left as it was\n"
            "sfx-extract: past.sfx: archive ends after 0 of 10 bytes; not written\n"
            "sfx-extract: high.sfx: location 0x80000000 is beyond 0x7fffffff; high.sfx left as it was\n");
  EXPECT_EQ(result.status, kExitProblems);
  EXPECT_EQ(read_file(folder_.file("tail.sfx")), "a good earlier extraction");
  EXPECT_EQ(read_file(folder_.file("high.sfx")), "another one");
  EXPECT_EQ(read_file(folder_.file("ok.sfx")), archive_bytes(0, 10));
  EXPECT_EQ(test::folder_entries(folder_.path()),
            "Filelist.000 Filelist.txt high.sfx ok.sfx tail.sfx");
}

// An input reached under an output's name is never replaced: by a hard link on every
// platform (Windows tells files apart by volume and file index), and by a symbolic link
// where one can be made.
TEST_F(ExtractionRun, LinksToTheInputsAreNeverWritten) {
  namespace fs = std::filesystem;
  test::write_file(folder_.file("Filelist.000"), archive_);
  test::write_file(folder_.file("Filelist.txt"), listing_of(listing_line("hard.sfx", "4", "0") + "\n" +
                                                            listing_line("listing.sfx", "4", "0") + "\n" +
                                                            listing_line("archive.sfx", "4", "0") + "\n"));
  fs::create_hard_link(folder_.file("Filelist.000"), folder_.file("hard.sfx"));
  fs::create_hard_link(folder_.file("Filelist.txt"), folder_.file("listing.sfx"));
  std::string expected =
      "sfx-extract: hard.sfx: cannot create: it is one of the input files\n"
      "sfx-extract: listing.sfx: cannot create: it is one of the input files\n";
#ifndef _WIN32
  fs::create_symlink("Filelist.000", folder_.file("archive.sfx"));
  expected += "sfx-extract: archive.sfx: cannot create: it is a symbolic link\n";
#endif
  const std::string listing = read_file(folder_.file("Filelist.txt"));
  const auto result = test::run_in(folder_.path());
  EXPECT_EQ(result.err, expected);
  EXPECT_EQ(read_file(folder_.file("Filelist.000")), archive_);
  EXPECT_EQ(read_file(folder_.file("Filelist.txt")), listing);
  EXPECT_EQ(read_file(folder_.file("hard.sfx")), archive_);
  EXPECT_EQ(read_file(folder_.file("listing.sfx")), listing);
  EXPECT_EQ(result.status, kExitProblems);
}

// A link under an output's name is never written through, never removed and never
// replaced, however often the name comes up; the rest of the run goes on.
TEST(OutputLinks, AreRefusedAndLeftAsTheyWere) {
  namespace fs = std::filesystem;
  // boom.sfx is a symbolic link to `target` or, without one, a hard link to outside/target.
  // loop.sfx links back to boom.sfx; mine.wav is a file in the folder.
  struct Case {
    const char* target;
    const char* why;
  };
  const Case cases[] = {
      {nullptr, "it has other names (hard links)"},
#ifndef _WIN32
      {"../outside/target", "it is a symbolic link"},
      {"../outside/new", "it is a symbolic link"},  // dangling
      {"../outside", "it is a symbolic link"},      // a folder
      {"loop.sfx", "it is a symbolic link"},
      {"mine.wav", "it is a symbolic link"},
#endif
  };
  const std::string archive = test::test_bytes(256, 9);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target ? c.target : "hard link");
    test::TempFolder parent;
    const std::string run = parent.file("run");
    const std::string outside = parent.file("outside");
    fs::create_directory(run);
    fs::create_directory(outside);
    test::write_file(outside + "/target", "outside: must stay as it is");
    test::write_file(run + "/Filelist.000", archive);
    test::write_file(run + "/Filelist.txt",
                     listing_of(listing_line("a\\boom.sfx", "8", "0") + "\n" +
                                listing_line("ok.sfx", "4", "10") + "\n" +
                                listing_line("b\\boom.sfx", "0", "0") + "\n"));
    test::write_file(run + "/mine.wav", "mine");
    if (c.target == nullptr) {
      fs::create_hard_link(outside + "/target", run + "/boom.sfx");
    } else {
      fs::create_symlink(c.target, run + "/boom.sfx");
      fs::create_symlink("boom.sfx", run + "/loop.sfx");
    }
    const std::string before = test::tree_snapshot(parent.path());
    const auto result = test::run_in(run);
    EXPECT_EQ(result.out, "boom.sfx len: 8 loc: 0\nok.sfx len: 4 loc: 10\nboom.sfx len: 0 loc: 0\n");
    const std::string diagnostic = std::string("sfx-extract: boom.sfx: cannot create: ") + c.why + "\n";
    EXPECT_EQ(result.err, diagnostic + diagnostic);
    EXPECT_EQ(result.status, kExitProblems);
    EXPECT_TRUE(read_file(run + "/ok.sfx") == archive.substr(16, 4));
    fs::remove(run + "/ok.sfx");
    EXPECT_EQ(test::tree_snapshot(parent.path()), before);
  }
}

#ifdef _WIN32
// A symbolic link is a reparse point on Windows; where the system can make one (Wine may
// not), it must be refused like a link on POSIX.
TEST_F(ExtractionRun, ReparsePointIsRefused) {
  std::filesystem::create_directory(folder_.file("folder"));
  test::write_file(folder_.file("target.wav"), "target");
  // A link to a file, and one to a folder (a directory reparse point, like a junction).
  const bool made = CreateSymbolicLinkA(folder_.file("file.sfx").c_str(), "target.wav", 0) &&
                    CreateSymbolicLinkA(folder_.file("dir.sfx").c_str(), "folder",
                                        SYMBOLIC_LINK_FLAG_DIRECTORY);
  for (const char* name : {"file.sfx", "dir.sfx"}) {
    const DWORD attributes = GetFileAttributesA(folder_.file(name).c_str());
    if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      GTEST_SKIP() << "this system makes no symbolic links";
    }
  }
  const auto result = run(listing_line("file.sfx", "4", "0") + "\n" + listing_line("dir.sfx", "4", "0") + "\n");
  EXPECT_EQ(result.err, "sfx-extract: file.sfx: cannot create: it is a symbolic link\n"
                        "sfx-extract: dir.sfx: cannot create: it is a symbolic link\n");
  EXPECT_EQ(read_file(folder_.file("target.wav")), "target");
  EXPECT_EQ(test::folder_entries(folder_.file("folder")), "");
  EXPECT_EQ(result.status, kExitProblems);
}
// A file with the read-only attribute is not replaced, as Windows itself would not.
TEST_F(ExtractionRun, ReadOnlyFileIsRefused) {
  test::write_file(folder_.file("kept.sfx"), "read-only");
  ASSERT_TRUE(SetFileAttributesA(folder_.file("kept.sfx").c_str(), FILE_ATTRIBUTE_READONLY));
  const auto result = run(listing_line("kept.sfx", "4", "0") + "\n");
  SetFileAttributesA(folder_.file("kept.sfx").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(result.err, "sfx-extract: kept.sfx: cannot create: it is read-only\n");
  EXPECT_EQ(read_file(folder_.file("kept.sfx")), "read-only");
  EXPECT_EQ(result.status, kExitProblems);
}
#endif

TEST_F(ExtractionRun, LargeEntryIsCopiedByteForByte) {
  archive_ = test::test_bytes(40u << 20, 11);
  const auto result = run_each_copy_way(listing_line("big.sfx", std::to_string((40u << 20) - 3), "3") + "\n");
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_TRUE(read_file(folder_.file("big.sfx")) == archive_.substr(3));
}

#ifdef __linux__
// Under a file-size limit an entry that cannot be written whole installs nothing, with the
// same diagnostic whichever way it was copied, and the entries after it are still extracted.
TEST_F(ExtractionRun, FileSizeLimitFailsOneEntryEitherWay) {
  archive_ = test::test_bytes(300000, 3);
  test::write_file(folder_.file("Filelist.000"), archive_);
  test::write_file(folder_.file("Filelist.txt"),
                   listing_of(listing_line("big.sfx", "300000", "0") + "\n" +
                              listing_line("small.sfx", "100", "10") + "\n" +
                              listing_line("next.sfx", "200000", "100") + "\n"));
  test::write_file(folder_.file("next.sfx"), "good");
  for (const RunOptions options : {RunOptions{std::nullopt}, RunOptions{1}, RunOptions{}}) {
    SCOPED_TRACE(options.kernel_copy_from ? std::to_string(*options.kernel_copy_from) : "none");
    const auto result = test::run_in_child(folder_.path(), options, {150000, std::nullopt});
    EXPECT_EQ(result.err,
              "sfx-extract: big.sfx: write failed after 150000 of 300000 bytes: File too large; not written\n"
              "sfx-extract: next.sfx: write failed after 150000 of 200000 bytes: File too large; next.sfx left as it was\n");
    EXPECT_EQ(result.status, kExitProblems);
    EXPECT_TRUE(read_file(folder_.file("small.sfx")) == archive_.substr(16, 100));
    EXPECT_EQ(read_file(folder_.file("next.sfx")), "good");
    EXPECT_EQ(test::folder_entries(folder_.path()),
              "Filelist.000 Filelist.txt next.sfx small.sfx");
  }
}

// An archive on another kind of file system (tmpfs) cannot be copied from inside the
// kernel into this folder: the entry goes on through the stream, and so do later ones.
TEST_F(ExtractionRun, KernelRefusalFallsBackToTheStream) {
  const std::string shm_archive = "/dev/shm/sfx-test-archive-" + std::to_string(getpid());
  archive_ = test::test_bytes(1 << 20, 5);
  test::write_file(shm_archive, archive_);
  if (read_file(shm_archive) != archive_) {
    std::error_code ignored;
    std::filesystem::remove(shm_archive, ignored);
    GTEST_SKIP() << "cannot write " << shm_archive << "; the test needs a writable tmpfs there";
  }
  std::filesystem::create_symlink(shm_archive, folder_.file("Filelist.000"));
  test::write_file(folder_.file("Filelist.txt"),
                   listing_of(listing_line("a.sfx", "600000", "0") + "\n" +
                              listing_line("b.sfx", "300000", "927c0") + "\n" +
                              listing_line("c.sfx", "500000", "10") + "\n"));
  const auto result = test::run_in(folder_.path(), RunOptions{1});
  std::filesystem::remove(shm_archive);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_TRUE(read_file(folder_.file("a.sfx")) == archive_bytes(0, 600000));
  EXPECT_TRUE(read_file(folder_.file("b.sfx")) == archive_bytes(600000, 300000));
  EXPECT_TRUE(read_file(folder_.file("c.sfx")) == archive_bytes(16, 500000));
}
#endif

TEST(ReportLine, FormatsAsTheListingShowsIt) {
  EXPECT_EQ(report_line("boom.sfx", 512, 0x3A0), "boom.sfx len: 512 loc: 3a0\n");
  EXPECT_EQ(report_line("n.sfx", -2147483647 - 1, 0xFFFFFFFF),
            "n.sfx len: -2147483648 loc: ffffffff\n");
  EXPECT_EQ(report_line("z.sfx", 0, 0), "z.sfx len: 0 loc: 0\n");
}

}  // namespace
}  // namespace sfx
