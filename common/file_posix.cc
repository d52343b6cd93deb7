// The file helpers on Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/diagnostics.h"
#include "common/file.h"
#include "common/file_posix.h"

namespace sfx {

int DescriptorClosing::close(int fd) { return ::close(fd) == 0 || errno == EINTR ? 0 : -1; }

int open_retrying(const char* path, int flags, unsigned mode) {
  for (;;) {
    const int fd = ::open(path, flags, static_cast<mode_t>(mode));
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

long write_once(int fd, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t wrote = ::write(fd, data, size);
    if (wrote >= 0 || errno != EINTR) return static_cast<long>(wrote);
  }
}

File open_regular_for_reading(const std::string& path) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait forever, before the
  // check could refuse it. Reads of a regular file never block, so it is cleared after.
  Descriptor fd(open_retrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat status;
  if (!fd || fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return File();
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return File();
  File file(fdopen(fd.get(), "rb"));
  if (file) fd.release();
  return file;
}

FileIdentity identity_of(std::FILE* stream, std::string& why, bool) {
  FileIdentity identity;
  struct stat status;
  if (stream == nullptr) return identity;
  if (fstat(fileno(stream), &status) != 0) {
    why = os_error(errno);
    identity.way = FileIdentity::Way::cannot_tell;
    return identity;
  }
  identity.way = FileIdentity::Way::device_and_inode;
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.inode = static_cast<std::uint64_t>(status.st_ino);
  return identity;
}

bool seek_absolute(std::FILE* stream, std::int64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Every lower descriptor is open by now, so the null device gets `fd` itself.
    const int null_device = open_retrying("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null_device != fd) {
      if (null_device >= 0) ::close(null_device);
      return false;
    }
  }
  return true;
}

bool is_terminal(int fd) { return isatty(fd) == 1; }

bool write_to_terminal(int fd, std::string_view text) {
  return write_fully(fd, text.data(), text.size()) == text.size();
}

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }

}  // namespace sfx
