// Temporary folders, file helpers and ways to run the extraction for the tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "extractor/extraction_run.h"

namespace sfx::test {

// A fresh empty folder, removed with everything in it when the object goes away.
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

void write_file(const std::string& path, const std::string& bytes);
// The file's bytes; "<missing>" when it cannot be read.
std::string read_file(const std::string& path);
bool exists(const std::string& path);
// Names of the entries in `folder`, sorted, joined by spaces.
std::string folder_entries(const std::string& folder);
// Everything below `folder`, links not followed: one line per entry with its kind and
// its bytes, names and permission bits, or its link target, for checking that nothing
// there changed.
std::string tree_snapshot(const std::string& folder);

// Copies the files, folders and links in `from` into the existing folder `to`, entry by
// entry (Windows' own folder copy refuses an existing target).
void copy_folder(const std::string& from, const std::string& to);

// One listing line with the 16 columns of a real listing: path, len in column 4, loc in 16.
std::string listing_line(const std::string& path, const std::string& len,
                         const std::string& loc);
// A listing: a header line, then `lines` ended by LF.
std::string listing_of(const std::string& lines);

struct RunResult {
  int status = 0;  // the exit status; 1000 + the signal for a run a signal ended
  bool killed = false;  // ended by BinaryOptions::kill_after
  std::string out;
  std::string err;
};
// Runs the extraction in-process on `folder`, capturing both streams.
RunResult run_in(const std::string& folder, const RunOptions& options = {});
// How a child process runs the extraction (POSIX only).
struct ChildSetting {
  long file_size_limit = 0;  // above 0: caps the size of every file it writes (SIGXFSZ ignored)
  std::optional<unsigned> user;  // runs as this uid, with the same gid and no other groups
};
// The same in a child process set up as `setting` says.
RunResult run_in_child(const std::string& folder, const RunOptions& options,
                       const ChildSetting& setting);

struct BinaryOptions {
  // Where standard output and error go: a file, or a device such as /dev/full that is not
  // read back; empty: a file of the harness's own, read back.
  std::string stdout_path;
  std::string stderr_path;
  bool stderr_to_stdout = false;  // 2>&1
  // A pipe whose reader has gone instead (| head that has finished).
  bool stdout_to_closed_pipe = false;
  bool stderr_to_closed_pipe = false;
  long file_size_limit = 0;  // above 0: caps the size of every file the process writes
  // Starts with descriptors 0, 1 and 2 closed instead (POSIX only); nothing is captured.
  bool closed_streams = false;
  // Kills the run (SIGKILL; on Windows TerminateProcess) if it is still going then.
  std::optional<std::chrono::microseconds> kill_after;
  // POSIX only: standard output into a pipe read back after the run (small reports only),
  // and a command that starts the program (its arguments come first: strace ...).
  bool stdout_to_pipe = false;
  std::vector<std::string> wrapper;
};
// Runs the real sfx-extract binary in `folder`, behind its emulator if any; its standard
// error is captured.
RunResult run_binary(const std::string& folder, const BinaryOptions& options = {});

// A pseudo-random byte string of `size` bytes holding every byte value, 0x0D 0x0A 0x1A among them.
std::string test_bytes(std::size_t size, std::uint32_t seed);

}  // namespace sfx::test
