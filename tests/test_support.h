// Temporary folders, folder contents as data, and ways to run the extraction for the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "extractor/extraction_run.h"

namespace sfx::test {

// A fresh empty folder, removed with everything in it when the object goes away; throws
// when none can be made.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Makes `path` hold `bytes`; throws when it cannot.
void write_file(const std::string& path, const std::string& bytes);
// The file's bytes; "<missing>" when it cannot be read.
std::string read_file(const std::string& path);
// `names` in their order, joined by spaces.
std::string joined(const std::set<std::string>& names);
// Names of the entries in `folder`, sorted, joined by spaces.
std::string folder_entries(const std::string& folder);
// A pseudo-random byte string of `size` bytes; its first 256 bytes are 0 to 255.
std::string test_bytes(std::size_t size, std::uint32_t seed);

// One thing in a folder, as a test puts it there beforehand or expects it afterwards.
struct Item {
  enum Kind { file, folder, symlink, hard_link, fifo, absent };
  std::string name;
  Kind kind = file;
  std::string bytes;  // a file's bytes; a link's target (a hard link's: a path from the folder)
  unsigned mode = 0;  // a file's permission bits (POSIX); 0: those new files get
  std::optional<unsigned> owner;  // a file's uid and gid (POSIX, as root); none: the runner's
  std::optional<unsigned> group;
};
using Folder = std::vector<Item>;
Item file(std::string name, std::string bytes, unsigned mode = 0);
Item owned(Item item, unsigned owner, unsigned group);
Item link_to(std::string name, std::string target);
Item hard_link(std::string name, std::string other);
Item folder(std::string name);
Item fifo(std::string name);
Item absent(std::string name);  // removes the name (an input, say)

// Makes `items` in the existing `folder`, replacing what stands under their names.
void make_items(const std::string& folder, const Folder& items);
// How `folder` differs from `expected`, one line per name: every name in it but the two
// inputs must be expected, and every expected item must be there as it is described.
// Empty when nothing differs.
std::string differences(const std::string& folder, const Folder& expected);

// An archive of `size` bytes holding `data` at `data_at` and zeros elsewhere.
struct Archive {
  std::uint64_t size;
  std::uint64_t data_at;
  std::string data;
  // Its bytes from `loc` on, `len` of them or as many as it holds.
  std::string bytes(std::uint64_t loc, std::uint64_t len) const;
};
Archive archive_of(std::string data);
// Writes `archive` to `path`, as a sparse file where its data is a small part; false when
// the file system cannot hold it so.
bool write_archive(const std::string& path, const Archive& archive);

// One listing line with the 16 columns of a real listing: path, len in column 4, loc in 16.
std::string listing_line(const std::string& path, const std::string& len,
                         const std::string& loc);
// A listing: a header line, then `lines`.
std::string listing_of(const std::string& lines);

struct RunResult {
  int status = 0;       // the exit status; 1000 + the signal for a run a signal ended
  bool killed = false;  // ended by BinaryOptions::kill_when
  std::string out, err;
};
// How a child process runs the extraction (POSIX only).
struct ChildSetting {
  long file_size_limit = 0;  // above 0: caps the size of every file it writes (SIGXFSZ ignored)
  std::optional<unsigned> user;  // runs as this uid, with the same gid and no other groups
};
// Runs the extraction on `folder`, capturing both streams: in-process, or in a child process
// set up as `child` says.
RunResult run_in(const std::string& folder, const RunOptions& options = {},
                 const std::optional<ChildSetting>& child = std::nullopt);

// Where the real binary's standard output or error goes.
struct Destination {
  enum Kind {
    own_file,         // a file of the harness's own, read back
    pipe,             // a pipe, read back once the run has ended (a run that fills it waits
                      // until it is killed)
    gone_reader,      // a pipe whose reader has gone (| head that has finished)
    terminal,         // a pseudo-terminal, read back once the run has ended (POSIX only)
    closed,           // not open at all (POSIX only)
    standard_output,  // standard error only: where standard output goes (2>&1)
    folder_file,      // the file `name` in the run's folder, not read back
  };
  Kind kind = own_file;
  std::string name;
};
Destination in_folder(std::string name);

struct BinaryOptions {
  Destination out;
  Destination err;
  bool input_closed = false;  // standard input not open at all (POSIX only)
  std::vector<std::string> wrapper;  // POSIX: a command that starts the program (strace ...)
  std::string program = SFX_EXTRACT_BINARY;  // the program to run: the real one, or a copy
  // Variables set in the program's environment, besides the harness's own.
  std::vector<std::pair<std::string, std::string>> environment;
  // Asked again and again while the run goes on; once it says so, the run is killed
  // (SIGKILL; on Windows TerminateProcess).
  std::function<bool()> kill_when;
};
// Runs the real sfx-extract binary in `folder`, behind its emulator if any.
RunResult run_binary(const std::string& folder, const BinaryOptions& options = {});
#ifdef _WIN32
// Whether the tests run under Wine, which differs from Windows where a test says so.
bool under_wine();
#endif

// Why strace cannot trace the real binary here (Windows, an emulator, not installed); none
// when it can, as BinaryOptions::wrapper.
std::optional<std::string> strace_unavailable();

}  // namespace sfx::test
