#include "common/file.h"

#include <cerrno>

namespace sfx {

int StreamClosing::close(std::FILE* stream) {
  return std::fclose(stream) == 0 || errno == EINTR ? 0 : EOF;
}

std::size_t write_fully(int fd, const char* data, std::size_t size) {
  std::size_t written = 0;
  while (written < size) {
    const long wrote = write_once(fd, data + written, size - written);
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      break;
    }
    written += static_cast<std::size_t>(wrote);
  }
  return written;
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

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  using Way = FileIdentity::Way;
  const bool identified = a.way == Way::device_and_inode || a.way == Way::volume_and_index ||
                          a.way == Way::volume_and_file_id;
  const bool same_device = a.device == b.device ||
                           (a.way != Way::device_and_inode && (a.device == 0 || b.device == 0));
  return identified && a.way == b.way && same_device && a.inode == b.inode &&
         a.inode_high == b.inode_high;
}

std::string path_in(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder + "/" + name;
}

}  // namespace sfx
