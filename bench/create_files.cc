// The file-creation limit: writes the files a "many" run would, entry000000.sfx onward,
// each holding SIZE bytes already in memory, with nothing but the system calls that the
// way of writing needs:
//   unnamed  an unnamed file (O_TMPFILE) linked to its name when complete: the job
//            sfx-extract does for a new name, which never shows a partial file;
//   replace  an unnamed file linked under a temporary name and renamed over the existing
//            name: the same job for a name that holds a file;
//   plain    open with O_CREAT | O_TRUNC, write, close: no such guarantee (a name is
//            empty or partial while it is written, and emptied before it is filled).
// Usage: create_files COUNT SIZE unnamed|replace|plain (in the current folder; Linux).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/link_unnamed.h"

int main(int argc, char** argv) {
  const std::string mode = argc == 4 ? argv[3] : "";
  if (mode != "unnamed" && mode != "replace" && mode != "plain") {
    std::fprintf(stderr, "usage: create_files COUNT SIZE unnamed|replace|plain\n");
    return 2;
  }
  const long count = std::atol(argv[1]);
  const std::size_t size = std::strtoul(argv[2], nullptr, 10);
  std::vector<char> bytes(size, 'x');
  char name[64];
  for (long i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "entry%06ld.sfx", i);
    const int fd = mode == "plain" ? open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666)
                                   : open(".", O_WRONLY | O_TMPFILE, 0666);
    bool done = fd >= 0 && write(fd, bytes.data(), size) == static_cast<ssize_t>(size);
    if (done && mode == "unnamed") done = link_unnamed(fd, name);
    if (done && mode == "replace") {
      done = link_unnamed(fd, ".replacing.tmp") && rename(".replacing.tmp", name) == 0;
    }
    if (!done || close(fd) != 0) {
      std::perror(name);
      return 1;
    }
  }
  return 0;
}
