// Copying a range of the archive into an output inside the kernel, where the platform can
// (Linux copy_file_range): each byte is copied once, page cache to page cache, instead of
// through a buffer of the program's.
#pragma once

#include <cstdint>
#include <cstdio>

namespace sfx {

enum class KernelCopyStop {
  done,         // all `len` bytes copied
  unsure,       // stopped early at the archive's end or on a read or write error; the
                // ordinary copy goes on from there and meets (and reports) the cause
  unsupported,  // the kernel cannot copy between these files; the ordinary copy goes on,
                // and later entries should not try again
};

struct KernelCopyResult {
  std::int64_t copied = 0;
  KernelCopyStop stop = KernelCopyStop::done;
};

// Copies `len` bytes from offset `from` of `archive` to the write position of the
// descriptor `output`: neither the stream's buffer nor the archive's file position is used
// or moved, and the output's file position ends behind the bytes copied.
KernelCopyResult copy_in_kernel(std::FILE* archive, std::int64_t from, int output,
                                std::int64_t len);

}  // namespace sfx
