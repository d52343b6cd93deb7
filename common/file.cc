#include "common/file.h"

#include <cerrno>

namespace sfx {

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

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

std::string path_in(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder + "/" + name;
}

}  // namespace sfx
