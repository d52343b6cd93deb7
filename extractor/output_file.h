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
  FileIdentity standard_output;  // files the report lines and diagnostics go to
  FileIdentity standard_error;

  enum class Naming {
    unknown,         // no output made yet
    unnamed,         // files without a name (Linux O_TMPFILE), linked to their name
    temporary_name,  // files under a temporary name of the tool's own, renamed
  };
  Naming naming = Naming::unknown;
  bool empty_path_refused = false;  // linkat(AT_EMPTY_PATH) refused: name through /proc
};

enum class InstallResult {
  installed,  // the name holds the finished file
  refused,    // the name holds something that must not be replaced (see install())
  failed,     // naming failed; the name holds what it held
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

  // The descriptor the entry's bytes are written to: binary, empty at first.
  int descriptor() const { return file_.get(); }
  // Gives the finished file its name, replacing a regular file of that name, whose
  // permission bits it takes, and its owner and group where the system allows (set-ID
  // bits only with the owner or group they belong to). Refused, and never followed or replaced: a symbolic link
  // (dangling or not; on Windows any reparse point), a file with other names (hard
  // links), one of the inputs, anything that is not a regular file. The name is looked at
  // without following links just before the rename, and a rename replaces a name, never
  // writes through it. Sets `why` unless installed.
  InstallResult install(std::string& why);
  // Closes the file after install(); false with `why` when closing reports an error (the
  // name then holds what was written).
  bool close(std::string& why);

 private:
  friend std::optional<PendingOutput> begin_output(OutputFolder& folder,
                                                   const std::string& name, std::string& why);
  PendingOutput(OutputFolder& folder, std::string final_path, Descriptor file,
                std::string temporary);
  bool link_to(const std::string& path);
  void discard();

  OutputFolder* folder_;
  std::string final_path_;
  Descriptor file_;
  std::string temporary_;  // the file's temporary name; empty while it has none
};

// Starts the output `name` in `folder`: a new empty file, unnamed where the system allows,
// else under a temporary name of the tool's own. Returns nullopt with `why` when it cannot
// be made.
std::optional<PendingOutput> begin_output(OutputFolder& folder, const std::string& name,
                                          std::string& why);

// Whether `name` in `folder` holds anything now (a file, a link, a folder), looked at
// without following a link.
bool name_taken(const OutputFolder& folder, const std::string& name);

}  // namespace sfx
