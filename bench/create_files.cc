// The file-creation limit: creates the files a "many" run would, entry000000.sfx onward,
// each holding SIZE bytes already in memory, with open, write and close and nothing else.
// Usage: create_files COUNT SIZE (in the current folder).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: create_files COUNT SIZE\n");
    return 2;
  }
  const long count = std::atol(argv[1]);
  const std::size_t size = std::strtoul(argv[2], nullptr, 10);
  std::vector<char> bytes(size, 'x');
  char name[64];
  for (long i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "entry%06ld.sfx", i);
    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || write(fd, bytes.data(), size) != static_cast<ssize_t>(size) || close(fd) != 0) {
      std::perror(name);
      return 1;
    }
  }
  return 0;
}
