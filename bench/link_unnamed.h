// Linking an unnamed file (O_TMPFILE) to a name by the two spellings sfx-extract knows: by
// its descriptor (AT_EMPTY_PATH), or through /proc where that is refused. sfx-extract settles
// on one for the run; this tries them in turn for every file, which costs a failed call per
// file only where the descriptor is refused (not for root, the benchmarks' user).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

// Links the unnamed file `fd` to `name` in the current folder; false (errno) on failure.
inline bool link_unnamed(int fd, const char* name) {
  return linkat(fd, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0 ||
         linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), AT_FDCWD, name,
                AT_SYMLINK_FOLLOW) == 0;
}
