#include "extractor/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/diagnostics.h"

namespace sfx {

#ifdef _WIN32

File create_output_file(const OutputFolder& folder, const std::string& name, std::string& why) {
  File file(std::fopen(path_in(folder.path, name).c_str(), "wb"));
  if (!file) {
    why = "cannot create: " + os_error(errno);
    return file;
  }
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  return file;
}

#else

File create_output_file(const OutputFolder& folder, const std::string& name, std::string& why) {
  const std::string path = path_in(folder.path, name);
  // A file that did not exist before cannot be an input or anything but a regular file, so
  // the usual case is one exclusive create and no further system call.
  if (std::FILE* created = std::fopen(path.c_str(), "wbx")) {
    std::setvbuf(created, nullptr, _IONBF, 0);
    return File(created);
  }
  if (errno != EEXIST) {
    why = "cannot create: " + os_error(errno);
    return File();
  }
  // Opened without truncation so that the file can be checked before anything is lost.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    why = "cannot create: " + os_error(errno);
    return File();
  }
  struct stat status;
  if (fstat(fd, &status) != 0) {
    why = "cannot create: " + os_error(errno);
  } else if (!S_ISREG(status.st_mode)) {
    why = "cannot create: not a regular file";
  } else {
    const FileIdentity identity{static_cast<std::uint64_t>(status.st_dev),
                                static_cast<std::uint64_t>(status.st_ino), true};
    if (same_file(identity, folder.archive) || same_file(identity, folder.listing)) {
      why = "cannot create: it is one of the input files";
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
