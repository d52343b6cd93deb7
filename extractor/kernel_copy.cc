#include "extractor/kernel_copy.h"

#ifdef __linux__
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace sfx {

#ifdef __linux__

KernelCopyResult copy_in_kernel(std::FILE* archive, std::int64_t from, int out,
                                std::int64_t len) {
  const int in = fileno(archive);
  KernelCopyResult result;
  // One call per gigabyte at most: a single call may copy less than asked anyway.
  constexpr std::int64_t kMaxCall = std::int64_t{1} << 30;
  while (result.copied < len) {
    off_t offset = static_cast<off_t>(from + result.copied);
    const auto wanted = static_cast<std::size_t>(
        len - result.copied < kMaxCall ? len - result.copied : kMaxCall);
    const ssize_t got = copy_file_range(in, &offset, out, nullptr, wanted, 0);
    if (got > 0) {
      result.copied += got;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) {
      // The archive's end, or a file system that copies nothing: only the size tells.
      struct stat status;
      const bool at_end = fstat(in, &status) == 0 && from + result.copied >= status.st_size;
      result.stop = at_end ? KernelCopyStop::unsure : KernelCopyStop::unsupported;
      return result;
    }
    switch (errno) {
      case EFBIG:   // a file-size limit
      case ENOSPC:
      case EDQUOT:
      case EIO:
        result.stop = KernelCopyStop::unsure;
        break;
      default:  // EXDEV, EINVAL, ENOSYS, EOPNOTSUPP, ETXTBSY, EBADF, EPERM ...: not here
        result.stop = KernelCopyStop::unsupported;
    }
    return result;
  }
  return result;
}

#else

KernelCopyResult copy_in_kernel(std::FILE*, std::int64_t, int, std::int64_t) {
  return {0, KernelCopyStop::unsupported};
}

#endif

}  // namespace sfx
