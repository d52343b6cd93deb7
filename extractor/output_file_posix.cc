// Outputs on Linux and other POSIX systems. Two ways to make and name an output, each one
// needed by a kind of file system:
// - An unnamed file (O_TMPFILE: Linux on ext4, XFS, btrfs, tmpfs) takes a new name in one
//   link, by its descriptor (AT_EMPTY_PATH) or, where the run may not link that way,
//   through /proc/self/fd: two spellings of one way, which the first output settles for
//   the run (settle_naming). Linux links no file over an existing name, so a replacement is
//   linked under a temporary name first and renamed over the name. A killed run leaves
//   nothing behind, but in the instant between the two.
// - A file created under a temporary name and renamed onto its name: file systems without
//   unnamed files (exFAT and NTFS through FUSE, NFS) and systems without O_TMPFILE. It is
//   closed before it takes the name, since a network file system reports failed writes at
//   close. A killed run leaves it behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/diagnostics.h"
#include "common/file_posix.h"
#include "extractor/output_file.h"

namespace sfx {

using namespace output_detail;

namespace {

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
    const FileIdentity identity{FileIdentity::Way::device_and_inode,
                                static_cast<std::uint64_t>(status.st_dev),
                                static_cast<std::uint64_t>(status.st_ino), 0};
    existing.refusal =
        refusal_of(folder, [&](FileIdentity::Way) { return identity; }, status.st_nlink);
  }
  return existing;
}

std::string proc_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Whether /proc names the open file `fd`, so that an unnamed file can be linked through it.
bool proc_names(int fd) {
  struct stat via_proc;
  struct stat direct;
  return stat(proc_path(fd).c_str(), &via_proc) == 0 && fstat(fd, &direct) == 0 &&
         via_proc.st_dev == direct.st_dev && via_proc.st_ino == direct.st_ino;
}

const char* folder_path(const OutputFolder& folder) {
  return folder.path.empty() ? "." : folder.path.c_str();
}

// A new unnamed file in the folder; -1 with errno, EOPNOTSUPP where the system or the file
// system makes none.
int open_unnamed(const OutputFolder& folder) {
#ifdef O_TMPFILE
  const int fd = open_retrying(folder_path(folder), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
  // A kernel older than O_TMPFILE (3.11) opens the folder itself, which refuses writing.
  if (fd < 0 && errno == EISDIR) errno = EOPNOTSUPP;
  return fd;
#else
  (void)folder;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// Whether the run may link the unnamed file `fd` by its descriptor (AT_EMPTY_PATH: with
// CAP_DAC_READ_SEARCH, or since Linux 6.10 as the file's own opener). Asked of a name that
// exists, the folder's own, the link fails either way and makes nothing: with EEXIST once
// the descriptor is accepted, with ENOENT when it is not.
bool links_by_descriptor(int fd, const OutputFolder& folder) {
#ifdef AT_EMPTY_PATH
  return linkat(fd, "", AT_FDCWD, folder_path(folder), AT_EMPTY_PATH) != 0 && errno == EEXIST;
#else
  (void)fd;
  (void)folder;
  return false;
#endif
}

// How every output of the run takes its name, settled by its first unnamed file `fd` (-1:
// the folder makes none).
Naming settle_naming(const OutputFolder& folder, int fd) {
  NamingProbe probe;
  probe.unnamed_file = fd >= 0;
  probe.links_by_descriptor = fd >= 0 && links_by_descriptor(fd, folder);
  probe.proc_names = fd >= 0 && proc_names(fd);
  return settled_naming(folder.naming, probe);
}

// Tries `take` on temporary names in turn; the first it takes, or "" (errno tells why).
template <typename Take>
std::string take_temporary_name(const OutputFolder& folder, Take take) {
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    std::string temporary = path_in(folder.path, temporary_name(attempt));
    if (take(temporary)) return temporary;
    if (errno != EEXIST) break;
  }
  return "";
}

// Links the unnamed file `fd` to `path`, as the way settled for the run says.
bool link_unnamed(int fd, const OutputFolder& folder, const std::string& path) {
#ifdef AT_EMPTY_PATH
  if (folder.settled_naming == Naming::unnamed) {
    return linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
  }
#endif
  return linkat(AT_FDCWD, proc_path(fd).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
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

}  // namespace

bool PendingOutput::discard_and_look() {
  discard();
  return look_at(*folder_, path_).exists;
}

bool PendingOutput::begin(OutputFolder& folder, const OutputName& name, std::string& why) {
  folder_ = &folder;
  path_ = path_in(folder.path, name.native);
  if (folder.settled_naming.value_or(folder.naming) != Naming::temporary_name) {
    file_ = Descriptor(open_unnamed(folder));
    if (!file_ && errno != EOPNOTSUPP) {
      why = "cannot create: " + os_error(errno);
      return false;
    }
    if (!folder.settled_naming) folder.settled_naming = settle_naming(folder, file_.get());
    if (file_ && folder.settled_naming != Naming::temporary_name) return true;
    file_.close();
  }
  temporary_ = take_temporary_name(folder, [&](const std::string& path) {
    file_ = Descriptor(open_retrying(
        path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666));
    return static_cast<bool>(file_);
  });
  if (temporary_.empty()) why = "cannot create: " + os_error(errno);
  return !temporary_.empty();
}

InstallResult PendingOutput::install(std::string& why) {
  const bool unnamed = temporary_.empty();
  // An unnamed file takes a new name in one step; a link never replaces, so a name that
  // exists is looked at first.
  if (unnamed) {
    if (link_unnamed(file_.get(), *folder_, path_)) return InstallResult::installed;
    if (errno != EEXIST) {
      why = "cannot create: " + os_error(errno);
      return InstallResult::failed;
    }
  }
  const Existing existing = look_at(*folder_, path_);
  if (const std::optional<InstallResult> stop = stopped_by(existing, why)) return *stop;
  if (existing.exists) keep_owner_and_mode(file_.get(), existing);
  const std::string failed_to = existing.exists ? "cannot replace: " : "cannot create: ";
  if (unnamed) {
    temporary_ = take_temporary_name(*folder_, [&](const std::string& temporary) {
      return link_unnamed(file_.get(), *folder_, temporary);
    });
    if (temporary_.empty()) {
      why = failed_to + os_error(errno);
      return InstallResult::failed;
    }
  } else if (!file_.close()) {
    why = "write failed at close: " + os_error(errno);
    return InstallResult::failed;
  }
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    why = failed_to + os_error(errno);
    return InstallResult::failed;
  }
  temporary_.clear();
  return InstallResult::installed;
}

void PendingOutput::discard() {
  file_.close();
  if (temporary_.empty()) return;
  unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace sfx
