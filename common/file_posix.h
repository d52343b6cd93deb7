// What the POSIX code shares beyond common/file.h. POSIX only.
#pragma once

namespace sfx {

// open(2), going on where a signal interrupted it; -1 when it failed (errno tells why).
int open_retrying(const char* path, int flags, unsigned mode = 0);

}  // namespace sfx
