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

#include "common/diagnostics.h"

namespace sfx {
namespace {

const char kSymbolicLink[] = "cannot create: it is a symbolic link";
const char kHardLinks[] = "cannot create: it has other names (hard links)";
const char kNotRegular[] = "cannot create: not a regular file";

}  // namespace

#ifdef _WIN32

File create_output_file(const OutputFolder& folder, const std::string& name, std::string& why) {
  const std::string path = path_in(folder.path, name);
  // CREATE_NEW fails on any existing name, a link included; only an existing name needs
  // the checks.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      why = "cannot create: " + windows_error(error);
      return File();
    }
    // The reparse point itself is opened, never what it points to.
    handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      why = "cannot create: " + windows_error(GetLastError());
      return File();
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
      why = "cannot create: " + windows_error(GetLastError());
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      why = kSymbolicLink;
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
               GetFileType(handle) != FILE_TYPE_DISK) {
      why = kNotRegular;
    } else if (info.nNumberOfLinks > 1) {
      why = kHardLinks;
    } else if (!SetEndOfFile(handle)) {
      why = "cannot empty: " + windows_error(GetLastError());
    } else {
      why.clear();
    }
    if (!why.empty()) {
      CloseHandle(handle);
      return File();
    }
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    why = "cannot create: " + os_error(errno);
    return File();
  }
  std::FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) {
    why = "cannot create: " + os_error(errno);
    _close(fd);
    return File();
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return File(stream);
}

#else

File create_output_file(const OutputFolder& folder, const std::string& name, std::string& why) {
  const std::string path = path_in(folder.path, name);
  // An exclusive create fails on any existing name, a dangling link included, so a file
  // made this way cannot be a link, an input or anything but a regular file: the usual
  // case is one system call.
  if (std::FILE* created = std::fopen(path.c_str(), "wbx")) {
    std::setvbuf(created, nullptr, _IONBF, 0);
    return File(created);
  }
  if (errno != EEXIST) {
    why = "cannot create: " + os_error(errno);
    return File();
  }
  // O_NOFOLLOW refuses a link instead of following it; no O_TRUNC, so that nothing is lost
  // before the descriptor has been checked.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    why = errno == ELOOP ? kSymbolicLink : "cannot create: " + os_error(errno);
    return File();
  }
  struct stat status;
  if (fstat(fd, &status) != 0) {
    why = "cannot create: " + os_error(errno);
  } else if (!S_ISREG(status.st_mode)) {
    why = kNotRegular;
  } else {
    const FileIdentity identity{static_cast<std::uint64_t>(status.st_dev),
                                static_cast<std::uint64_t>(status.st_ino), true};
    if (same_file(identity, folder.archive) || same_file(identity, folder.listing)) {
      why = "cannot create: it is one of the input files";
    } else if (status.st_nlink > 1) {
      // Emptying it would change the file under its other names too.
      why = kHardLinks;
    } else if (status.st_size > 0 && ftruncate(fd, 0) != 0) {
      why = "cannot empty: " + os_error(errno);
    } else if (std::FILE* stream = fdopen(fd, "wb")) {
      std::setvbuf(stream, nullptr, _IONBF, 0);
      return File(stream);
    } else {
      why = "cannot create: " + os_error(errno);
    }
  }
  ::close(fd);
  return File();
}

#endif

}  // namespace sfx
