// An entry's output, complete or untouched: begun as a file nobody can take for finished,
// written, then either installed under its name in one step or discarded. At every moment,
// and after the run is killed at any point, the name holds either the whole entry or
// exactly what it held before.
//
// Contract: begin(), write to descriptor(), install(), then close(). Anything else (a failed
// write, a refused or failed install, the object going away) discards the file and leaves
// the name as it was.
//
// Safety rules, checked on the name itself, never through a link, just before it is taken
// (refusal_of() below): a name holding a symbolic link (on Windows any reparse point),
// anything but a regular file, a file with other names (hard links), one of the inputs, or
// the file that receives standard output or error is refused and left exactly as it was; on
// Windows so is a name that reaches a file named otherwise (an 8.3 short name).
// A rename replaces a name; it never writes through it.
//
// output_file_posix.cc and output_file_windows.cc each hold one platform's implementation.
#pragma once

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/diagnostics.h"
#include "common/file.h"
#include "extractor/entry_names.h"

namespace sfx {

// How finished outputs take their names.
enum class Naming {
  automatic,         // an unnamed file where the file system has them, else a temporary name
  unnamed,           // Linux: an unnamed file (O_TMPFILE) linked by descriptor, else via /proc
  unnamed_via_proc,  // Linux: the same, always linked through /proc/self/fd
  temporary_name,    // a file under a temporary name of the tool's own, renamed onto the name
};

// Where outputs go and which files they must never replace.
struct OutputFolder {
  std::string path;  // "" for the current folder
  FileIdentity archive;
  FileIdentity listing;
  FileIdentity standard_output;
  FileIdentity standard_error;
  Naming naming = Naming::automatic;  // how outputs are asked to take their names
#ifdef _WIN32
  std::wstring long_path;        // the folder's full path in the \\?\ form, had once per run
  std::wstring first_temporary;  // the first temporary name in it
#else
  std::optional<Naming> settled_naming;  // the way the first output settled for the run
#endif
};

enum class InstallResult {
  installed,  // the name holds the finished file
  refused,    // the safety rules keep what the name holds; it is left as it was
  failed,     // naming failed; the name holds what it held
};

// An output being written.
class PendingOutput {
 public:
  ~PendingOutput() { discard(); }

  // Begins the output `name` in `folder`: a new empty file, made as `folder.naming` says.
  // False with `why` when it cannot be made.
  bool begin(OutputFolder& folder, const OutputName& name, std::string& why);
  // The descriptor the entry's bytes are written to: binary, empty at first.
  int descriptor() const { return file_.get(); }
  // Gives the finished file its name, replacing a regular file there that the safety rules
  // allow: the new file keeps its permission bits, and its owner and group where the
  // system allows (set-ID bits only with the owner or group they grant). Sets `why` unless
  // installed.
  InstallResult install(std::string& why);
  // Closes the file after install(); false with `why` when closing reports an error (the
  // name then holds what was written).
  bool close(std::string& why) {
    if (!file_ || file_.close()) return true;
    why = "close failed: " + os_error(errno);
    return false;
  }
  // After a failure: discards the file, then tells whether the output's name holds anything,
  // looked at without following a link, to tell a name left as it was from one never
  // written (a file the run made under another name is gone by then).
  bool discard_and_look();

 private:
  void discard();

  OutputFolder* folder_ = nullptr;
  NativeName path_;  // the output's path, as the file calls take it
  Descriptor file_;
  NativeName temporary_;  // the file's temporary name (a path); empty while it has none
#ifdef _WIN32
  // Renames the open file `handle` onto the output's name, looking at the name only when a
  // file stands under it, and again before each try that would replace it.
  InstallResult rename_onto_name(void* handle, std::string& why);
  // After a rename that made a new name: whether the file system gave the open file
  // `handle` the output's name, ignoring case (Wine on a POSIX file system cuts a name of
  // more than 255 bytes). If not, `why` says so, and the file is to be deleted.
  bool named_as_output(void* handle, std::string& why);

  bool closing_deletes_ = false;  // the deletion mark removes the file with its handle
#endif
};

// What both platforms' implementations share.
namespace output_detail {

// What stands under an output's name, looked at without following a link.
struct Existing {
  bool exists = false;
  std::string look_failure;  // why the name could not be looked at; empty when it could
  std::string refusal;       // why the safety rules keep it; empty when it may be replaced
  unsigned mode = 0;         // POSIX: its mode bits, owner and group, which a replacement keeps
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
};

// How a look ends the install: failed when the name could not be looked at, refused when
// the safety rules keep what it holds (`why` says which); none when the name may take the
// file.
inline std::optional<InstallResult> stopped_by(const Existing& existing, std::string& why) {
  if (!existing.look_failure.empty()) {
    why = existing.look_failure;
    return InstallResult::failed;
  }
  if (!existing.refusal.empty()) {
    why = existing.refusal;
    return InstallResult::refused;
  }
  return std::nullopt;
}

constexpr char kSymbolicLink[] = "cannot create: it is a symbolic link";
constexpr char kNotRegular[] = "cannot create: not a regular file";

// The safety rules for a regular file with `names` names: why it must not be replaced, or ""
// when it may. `identity_taken_as(way)` gives its identity taken the way the folder's
// identity it is held against was taken, since identities compare only like with like.
template <typename IdentityTakenAs>
std::string refusal_of(const OutputFolder& folder, IdentityTakenAs identity_taken_as,
                       std::uint64_t names) {
  const auto is = [&](const FileIdentity& other) {
    return same_file(identity_taken_as(other.way), other);
  };
  const auto cannot_tell = [](const FileIdentity& other) {
    return other.way == FileIdentity::Way::cannot_tell;
  };
  // The inputs and the standard streams first: that says more, and holds where every file
  // has one name.
  if (is(folder.archive) || is(folder.listing)) {
    return "cannot create: it is one of the input files";
  }
  if (is(folder.standard_output)) return "cannot create: it receives standard output";
  if (is(folder.standard_error)) return "cannot create: it receives standard error";
  // A file the run cannot tell apart from an input or a stream may be it.
  if (cannot_tell(folder.archive) || cannot_tell(folder.listing)) {
    return "cannot create: it may be one of the input files";
  }
  if (cannot_tell(folder.standard_output)) return "cannot create: it may receive standard output";
  if (cannot_tell(folder.standard_error)) return "cannot create: it may receive standard error";
  // Replacing it would leave its other names holding the old bytes.
  if (names > 1) return "cannot create: it has other names (hard links)";
  return "";
}

// What the system gives the run's first output on POSIX, which settles how every output of
// the run takes its name.
struct NamingProbe {
  bool unnamed_file = false;         // the folder makes unnamed files (O_TMPFILE)
  bool links_by_descriptor = false;  // one links by its descriptor (AT_EMPTY_PATH)
  bool proc_names = false;           // /proc/self/fd names it
};

// The way outputs take their names, from the way `asked` and what `probe` found: linked by
// descriptor where the run may, else through /proc where /proc names the file, else a file
// under a temporary name from the start. A way asked for is kept as far as the system
// allows: unnamed_via_proc always links through /proc, and unnamed does where its
// descriptor is refused.
constexpr Naming settled_naming(Naming asked, const NamingProbe& probe) {
  if (!probe.unnamed_file || asked == Naming::temporary_name) return Naming::temporary_name;
  if (asked == Naming::unnamed_via_proc) return Naming::unnamed_via_proc;
  if (probe.links_by_descriptor) return Naming::unnamed;
  if (asked == Naming::unnamed || probe.proc_names) return Naming::unnamed_via_proc;
  return Naming::temporary_name;
}

// Temporary names are tried in turn; only a hostile folder makes them all collide.
constexpr int kTemporaryNameTries = 100;
// A name in the output folder that no output can have (outputs end in ".sfx"), for the
// `attempt`th try. The run holds one at a time, so the first is free again after each
// rename, and one directory entry serves every replacement.
inline std::string temporary_name(int attempt) {
  return ".sfx-extract-" + std::to_string(process_id()) + "-" + std::to_string(attempt) + ".tmp";
}

}  // namespace output_detail
}  // namespace sfx
