#include "common/file.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>

namespace sfx {

int DescriptorClosing::close(int fd) {
#ifdef _WIN32
  return _close(fd);
#else
  return ::close(fd) == 0 || errno == EINTR ? 0 : -1;
#endif
}

int StreamClosing::close(std::FILE* stream) {
  return std::fclose(stream) == 0 || errno == EINTR ? 0 : EOF;
}

std::size_t read_fully(std::FILE* stream, char* data, std::size_t size) {
  std::size_t got = 0;
  for (;;) {
    errno = 0;
    got += std::fread(data + got, 1, size - got, stream);
    if (got == size || !std::ferror(stream) || errno != EINTR) return got;
    std::clearerr(stream);
  }
}

#ifndef _WIN32
int open_retrying(const char* path, int flags, unsigned mode) {
  for (;;) {
    const int fd = ::open(path, flags, static_cast<mode_t>(mode));
    if (fd >= 0 || errno != EINTR) return fd;
  }
}
#endif

std::size_t write_fully(int fd, const char* data, std::size_t size) {
  std::size_t written = 0;
  while (written < size) {
#ifdef _WIN32
    const int wrote = _write(fd, data + written, static_cast<unsigned>(size - written));
#else
    const ssize_t wrote = ::write(fd, data + written, size - written);
    if (wrote < 0 && errno == EINTR) continue;
#endif
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      break;
    }
    written += static_cast<std::size_t>(wrote);
  }
  return written;
}

#ifdef _WIN32

File open_regular_for_reading(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  struct stat status;
  if (file && (fstat(fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode))) {
    file.close();
  }
  return file;
}

#else

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

#endif

#ifdef _WIN32

FileIdentity identity_of_information(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, true};
}

FileIdentity identity_of(std::FILE* stream) {
  BY_HANDLE_FILE_INFORMATION info;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(handle, &info)) {
    return {};
  }
  return identity_of_information(info);
}

#else

FileIdentity identity_of(std::FILE* stream) {
  FileIdentity identity;
  struct stat status;
  if (stream != nullptr && fstat(fileno(stream), &status) == 0) {
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.known = true;
  }
  return identity;
}

#endif

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

bool seek_absolute(std::FILE* stream, std::int64_t offset) {
#ifdef _WIN32
  return _fseeki64(stream, offset, SEEK_SET) == 0;
#else
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

#ifdef _WIN32

bool open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (_get_osfhandle(fd) != -1) continue;
    const int null_device = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (null_device < 0) return false;
    if (null_device != fd) {
      const bool moved = _dup2(null_device, fd) == 0;
      _close(null_device);
      if (!moved) return false;
    }
  }
  return true;
}

#else

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

#endif

unsigned long process_id() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

std::string path_in(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder + "/" + name;
}

}  // namespace sfx
