#include "common/file.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>

namespace sfx {

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    stream_ = other.release();
  }
  return *this;
}

File::~File() { close(); }

bool File::close() {
  if (stream_ == nullptr) return false;
  std::FILE* stream = release();
  return std::fclose(stream) == 0;
}

std::FILE* File::release() {
  std::FILE* stream = stream_;
  stream_ = nullptr;
  return stream;
}

File open_regular_for_reading(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return file;
  struct stat status;
  if (fstat(fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode)) {
    file.close();
    errno = EISDIR;
    return File();
  }
  return file;
}

FileIdentity identity_of(std::FILE* stream) {
  FileIdentity identity;
#ifndef _WIN32
  struct stat status;
  if (stream != nullptr && fstat(fileno(stream), &status) == 0) {
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.known = true;
  }
#else
  (void)stream;
#endif
  return identity;
}

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
    const int null_device = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null_device != fd) {
      if (null_device >= 0) ::close(null_device);
      return false;
    }
  }
  return true;
}

#endif

std::string path_in(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder + "/" + name;
}

}  // namespace sfx
