// Linking an unnamed file (O_TMPFILE) to a name, as sfx-extract does: AT_EMPTY_PATH, or
// /proc where that is refused.
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
