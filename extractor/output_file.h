// An entry's output: written where nobody can take it for finished, and given its name
// only once complete, so that at every moment, and after the run is killed at any point,
// the name holds either the whole entry or exactly what it held before.
#pragma once

#include <optional>
#include <string>

#include "common/file.h"

namespace sfx {

// Where output files go, which files they must never replace, and how finished files are
// named there (learnt on the first output).
struct OutputFolder {
  std::string path;        // "" for the current folder
  FileIdentity archive;    // the inputs, which an output name may reach through a link
  FileIdentity listing;

  enum class Naming {
    unknown,         // no output made yet
    unnamed,         // files without a name (Linux O_TMPFILE), linked to their name
    temporary_name,  // files under a temporary name of the tool's own, renamed
  };
  Naming naming = Naming::unknown;
  bool empty_path_refused = false;  // linkat(AT_EMPTY_PATH) refused: name through /proc
};

// An output being written. Unless install() succeeds, the file is discarded when this goes
// away (on Windows it is marked for deletion while written, so even a killed run leaves
// nothing behind).
class PendingOutput {
 public:
  PendingOutput(PendingOutput&& other) noexcept;
  PendingOutput& operator=(PendingOutput&&) = delete;
  PendingOutput(const PendingOutput&) = delete;
  ~PendingOutput();

  // Where the entry's bytes go: unbuffered, binary, empty at first.
  std::FILE* stream() const { return file_.get(); }
  // Whether the output's name held a file when it was last looked at.
  bool replaces() const { return replaces_; }
  // Gives the finished file its name, replacing what the name holds. False with `why` when
  // the name is refused (see begin_output) or naming fails; the name is then left as it was.
  bool install(std::string& why);
  // Closes the file after install(); false with `why` when closing reports an error (the
  // name then holds what was written).
  bool close(std::string& why);

 private:
  friend std::optional<PendingOutput> begin_output(OutputFolder& folder,
                                                   const std::string& name, std::string& why);
  PendingOutput(OutputFolder& folder, std::string final_path, File file, std::string temporary,
                bool replaces, unsigned mode);
  bool link_to(const std::string& path);
  void keep_mode();
  void discard();

  OutputFolder* folder_;
  std::string final_path_;
  File file_;
  std::string temporary_;  // the file's temporary name; empty while it has none
  bool replaces_;
  unsigned mode_;  // the replaced file's permission bits (POSIX)
};

// Starts the output `name` in `folder`. Returns nullopt with `why` when the name is refused
// or the file cannot be made. Refused, and never followed or replaced: a symbolic link
// (dangling or not; on Windows any reparse point), a file with other names (hard links),
// one of the inputs, anything that is not a regular file. Names are looked at without
// following links, here and again before a replacing rename; a rename replaces a name and
// never writes through it.
std::optional<PendingOutput> begin_output(OutputFolder& folder, const std::string& name,
                                          std::string& why);

}  // namespace sfx
