#include "extractor/output_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <utility>

#include "common/diagnostics.h"

namespace sfx {
namespace {

const char kSymbolicLink[] = "cannot create: it is a symbolic link";
const char kHardLinks[] = "cannot create: it has other names (hard links)";
const char kNotRegular[] = "cannot create: not a regular file";
// Tries of temporary names, which only a hostile folder makes collide.
constexpr int kTemporaryNameTries = 100;

// What stands under an output's name, looked at without following a link.
struct Existing {
  bool exists = false;
  std::string look_failure;  // why the name could not be looked at; empty when it could
  std::string refusal;       // why it must not be replaced; empty when it may
#ifndef _WIN32
  unsigned mode = 0;  // its mode bits, owner and group, which its replacement keeps
  uid_t owner = 0;
  gid_t group = 0;
#endif
};

// Why a regular file that is `identity` must not be replaced; empty when it may.
std::string refusal_of(const OutputFolder& folder, const FileIdentity& identity,
                       std::uint64_t names) {
  // The inputs and the standard streams first: that says more, and holds where every file
  // has one name.
  if (same_file(identity, folder.archive) || same_file(identity, folder.listing)) {
    return "cannot create: it is one of the input files";
  }
  if (same_file(identity, folder.standard_output)) return "cannot create: it receives standard output";
  if (same_file(identity, folder.standard_error)) return "cannot create: it receives standard error";
  // Replacing it would leave its other names holding the old bytes.
  if (names > 1) return kHardLinks;
  return "";
}

unsigned long process_id() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

// A name in the output folder that no output can have (outputs end in ".sfx"), for the
// `attempt`th try. The run holds one such name at a time, so the first try is free again
// after each rename, and the same directory entry serves every replacement.
std::string temporary_path(const OutputFolder& folder, int attempt) {
  static const unsigned long process = process_id();
  return path_in(folder.path, ".sfx-extract-" + std::to_string(process) + "-" +
                                  std::to_string(attempt) + ".tmp");
}

#ifdef _WIN32

Existing look_at(const OutputFolder& folder, const std::string& path) {
  Existing existing;
  // The reparse point itself is opened, never what it points to; BACKUP_SEMANTICS lets a
  // folder or junction be opened so that it can be refused like any other.
  const HANDLE handle = CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) existing.look_failure = "cannot create: " + windows_error(error);
    return existing;
  }
  existing.exists = true;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    existing.look_failure = "cannot create: " + windows_error(GetLastError());
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    existing.refusal = kSymbolicLink;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
             GetFileType(handle) != FILE_TYPE_DISK) {
    existing.refusal = kNotRegular;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
    // Windows itself refuses to replace such a file; saying so beats "Access is denied".
    existing.refusal = "cannot create: it is read-only";
  } else {
    existing.refusal = refusal_of(folder, identity_of_information(info), info.nNumberOfLinks);
  }
  CloseHandle(handle);
  return existing;
}

// Marks the open file for deletion when its last handle closes, or takes the mark away.
bool mark_for_deletion(HANDLE handle, bool marked) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = marked ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

#else

Existing look_at(const OutputFolder& folder, const std::string& path) {
  Existing existing;
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) {
    if (errno != ENOENT) existing.look_failure = "cannot create: " + os_error(errno);
    return existing;
  }
  existing.exists = true;
  existing.mode = status.st_mode & 07777;
  existing.owner = status.st_uid;
  existing.group = status.st_gid;
  if (S_ISLNK(status.st_mode)) {
    existing.refusal = kSymbolicLink;
  } else if (!S_ISREG(status.st_mode)) {
    existing.refusal = kNotRegular;
  } else {
    const FileIdentity identity{static_cast<std::uint64_t>(status.st_dev),
                                static_cast<std::uint64_t>(status.st_ino), true};
    existing.refusal = refusal_of(folder, identity, status.st_nlink);
  }
  return existing;
}

// Gives the new file `fd` the owner, group and mode of the file it replaces, as far as they
// can be kept without handing anyone a privilege. Only root may give a file away; others
// keep the group where they belong to it. chown clears the set-ID bits, so the mode comes
// after it, and a set-ID bit is kept only with the owner or group it grants: a replacement
// must never turn bytes from the archive into a set-ID program of whoever runs the tool.
// A file system that keeps none of this still gets the entry's bytes.
void keep_owner_and_mode(int fd, const Existing& existing) {
  struct stat now;
  if (fstat(fd, &now) != 0) return;
  if (now.st_uid != existing.owner || now.st_gid != existing.group) {
    const bool changed = fchown(fd, existing.owner, existing.group) == 0 ||
                         fchown(fd, static_cast<uid_t>(-1), existing.group) == 0;
    if (changed && fstat(fd, &now) != 0) return;
  }
  unsigned mode = existing.mode & ~static_cast<unsigned>(S_ISUID | S_ISGID);
  if (now.st_uid == existing.owner) mode |= existing.mode & S_ISUID;
  if (now.st_gid == existing.group) mode |= existing.mode & S_ISGID;
  if (mode != (now.st_mode & 07777)) fchmod(fd, mode);
}

#ifdef O_TMPFILE
std::string proc_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Whether /proc names the open file `fd`, so that an unnamed file can always be linked.
bool proc_names(int fd) {
  struct stat via_proc;
  struct stat direct;
  return stat(proc_path(fd).c_str(), &via_proc) == 0 && fstat(fd, &direct) == 0 &&
         via_proc.st_dev == direct.st_dev && via_proc.st_ino == direct.st_ino;
}
#endif

// Renames `from` to `to` unless `to` exists (EEXIST); EINVAL where the file system or the
// system cannot tell.
bool rename_without_replacing(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == ENOSYS) errno = EINVAL;  // a kernel older than the call
  return false;
#else
  errno = EINVAL;
  return false;
#endif
}

// Opens a new empty file for an output: without a name where the file system can make one
// (and it can later be named), else under a fresh temporary name. -1 (errno) on failure.
int open_unfinished(OutputFolder& folder, std::string& temporary) {
  using Naming = OutputFolder::Naming;
#ifdef O_TMPFILE
  if (folder.naming != Naming::temporary_name) {
    const std::string directory = folder.path.empty() ? "." : folder.path;
    const int fd = ::open(directory.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR) return -1;
    if (fd >= 0 && folder.naming == Naming::unknown) {
      folder.naming = proc_names(fd) ? Naming::unnamed : Naming::temporary_name;
    }
    if (fd >= 0 && folder.naming == Naming::unnamed) return fd;
    if (fd >= 0) ::close(fd);
  }
#endif
  folder.naming = Naming::temporary_name;
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    temporary = temporary_path(folder, attempt);
    const int fd = ::open(temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0 || errno != EEXIST) {
      if (fd < 0) temporary.clear();
      return fd;
    }
  }
  temporary.clear();
  return -1;
}

#endif

}  // namespace

PendingOutput::PendingOutput(OutputFolder& folder, std::string final_path, Descriptor file,
                             std::string temporary)
    : folder_(&folder),
      final_path_(std::move(final_path)),
      file_(std::move(file)),
      temporary_(std::move(temporary)) {}

PendingOutput::PendingOutput(PendingOutput&& other) noexcept
    : folder_(other.folder_),
      final_path_(std::move(other.final_path_)),
      file_(std::move(other.file_)),
      temporary_(std::move(other.temporary_)) {
  other.temporary_.clear();
}

PendingOutput::~PendingOutput() { discard(); }

void PendingOutput::discard() {
  file_.close();
  if (temporary_.empty()) return;
#ifdef _WIN32
  DeleteFileA(temporary_.c_str());  // already gone where the deletion mark took effect
#else
  unlink(temporary_.c_str());
#endif
  temporary_.clear();
}

bool name_taken(const OutputFolder& folder, const std::string& name) {
  return look_at(folder, path_in(folder.path, name)).exists;
}

bool PendingOutput::close(std::string& why) {
  if (!file_ || file_.close()) return true;
  why = "close failed: " + os_error(errno);
  return false;
}

#ifdef _WIN32

std::optional<PendingOutput> begin_output(OutputFolder& folder, const std::string& name,
                                          std::string& why) {
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    std::string temporary = temporary_path(folder, attempt);
    // The reparse point flag: a link planted under the temporary name is never followed.
    const HANDLE handle = CreateFileA(temporary.c_str(), GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      why = "cannot create: " + windows_error(error);
      return std::nullopt;
    }
    // From here the file is owned: a failure below closes it, and the mark or the name
    // deletes it.
    const bool marked = mark_for_deletion(handle, true);
    const DWORD mark_error = GetLastError();
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) CloseHandle(handle);
    PendingOutput output(folder, path_in(folder.path, name), Descriptor(fd), std::move(temporary));
    if (!marked) {
      why = "cannot create: " + windows_error(mark_error);
      return std::nullopt;
    }
    if (fd < 0) {
      why = "cannot create: " + os_error(errno);
      return std::nullopt;
    }
    return output;
  }
  why = "cannot create: no free temporary name";
  return std::nullopt;
}

InstallResult PendingOutput::install(std::string& why) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file_.get()));
  // Unmarked first: a file marked for deletion cannot be renamed. A run killed between the
  // two steps leaves the finished file under its temporary name, never a partial output.
  if (!mark_for_deletion(handle, false)) {
    why = "cannot create: " + windows_error(GetLastError());
    return InstallResult::failed;
  }
  if (MoveFileExA(temporary_.c_str(), final_path_.c_str(), 0)) {
    temporary_.clear();
    return InstallResult::installed;
  }
  // Whatever the error, a name that holds something is looked at: a folder or a junction
  // there may give "access denied" rather than "exists".
  const DWORD error = GetLastError();
  const Existing existing = look_at(*folder_, final_path_);
  InstallResult result = InstallResult::failed;
  if (!existing.exists) {
    why = "cannot create: " + windows_error(error);
  } else if (!existing.look_failure.empty()) {
    why = existing.look_failure;
  } else if (!existing.refusal.empty()) {
    why = existing.refusal;
    result = InstallResult::refused;
  } else if (MoveFileExA(temporary_.c_str(), final_path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    temporary_.clear();
    return InstallResult::installed;
  } else {
    why = "cannot replace: " + windows_error(GetLastError());
  }
  mark_for_deletion(handle, true);
  return result;
}

#else

std::optional<PendingOutput> begin_output(OutputFolder& folder, const std::string& name,
                                          std::string& why) {
  std::string temporary;
  const int fd = open_unfinished(folder, temporary);
  if (fd < 0) {
    why = "cannot create: " + os_error(errno);
    return std::nullopt;
  }
  return PendingOutput(folder, path_in(folder.path, name), Descriptor(fd), std::move(temporary));
}

bool PendingOutput::link_to(const std::string& path) {
  if (!temporary_.empty()) {
    return linkat(AT_FDCWD, temporary_.c_str(), AT_FDCWD, path.c_str(), 0) == 0;
  }
#ifdef O_TMPFILE
  const int fd = file_.get();
  if (!folder_->empty_path_refused) {
    if (linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return true;
    // Refused without the capability to name any open file; /proc names it instead.
    if (errno != ENOENT) return false;
    folder_->empty_path_refused = true;
  }
  return linkat(AT_FDCWD, proc_path(fd).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
#else
  errno = ENOSYS;
  return false;
#endif
}

InstallResult PendingOutput::install(std::string& why) {
  const bool named = !temporary_.empty();
  // An unnamed file is linked to a new name in one step; a link never replaces, so a name
  // that exists is looked at first.
  if (!named) {
    if (link_to(final_path_)) return InstallResult::installed;
    if (errno != EEXIST) {
      why = "cannot create: " + os_error(errno);
      return InstallResult::failed;
    }
  }
  const Existing existing = look_at(*folder_, final_path_);
  if (!existing.look_failure.empty()) {
    why = existing.look_failure;
    return InstallResult::failed;
  }
  if (!existing.refusal.empty()) {
    why = existing.refusal;
    return InstallResult::refused;
  }
  if (existing.exists) keep_owner_and_mode(file_.get(), existing);
  if (named) {
    // Closing is where a network file system reports a failed write: a named file is
    // closed before it takes the output's name.
    if (!file_.close()) {
      why = "write failed at close: " + os_error(errno);
      return InstallResult::failed;
    }
    if (!existing.exists) {
      if (rename_without_replacing(temporary_, final_path_)) {
        temporary_.clear();
        return InstallResult::installed;
      }
      // The name was free a moment ago; only a file system that cannot tell goes on.
      if (errno != EINVAL) {
        why = "cannot create: " + os_error(errno);
        return InstallResult::failed;
      }
    }
  } else {
    // Linux cannot link a file over an existing name: it gets a temporary name of its own
    // first, which the rename then moves over the output's.
    for (int attempt = 0; temporary_.empty() && attempt < kTemporaryNameTries; ++attempt) {
      std::string temporary = temporary_path(*folder_, attempt);
      if (link_to(temporary)) {
        temporary_ = std::move(temporary);
      } else if (errno != EEXIST) {
        why = "cannot replace: " + os_error(errno);
        return InstallResult::failed;
      }
    }
    if (temporary_.empty()) {
      why = "cannot replace: no free temporary name";
      return InstallResult::failed;
    }
  }
  if (rename(temporary_.c_str(), final_path_.c_str()) != 0) {
    why = "cannot replace: " + os_error(errno);
    return InstallResult::failed;
  }
  temporary_.clear();
  return InstallResult::installed;
}

#endif

}  // namespace sfx
