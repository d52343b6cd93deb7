#include "extractor/entry_extraction.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "extractor/kernel_copy.h"

namespace sfx {
namespace {

// 64 KiB blocks copy at close to the speed of cp; larger buffers were no faster and less
// steady. One buffer serves every entry: the tool is single-threaded.
constexpr std::size_t kCopyBufferSize = 64 * 1024;
constexpr std::uint32_t kHighestLocation = 0x7FFFFFFF;

std::string bytes_of(std::int64_t copied, std::int32_t expected) {
  return std::to_string(copied) + " of " + std::to_string(expected) + " bytes";
}

// Copies the entry's bytes from `start` of the archive on through the streams until
// `copied` reaches `len`. Returns why it stopped early: the archive ended first, or
// reading, seeking or writing failed.
std::optional<std::string> copy_through_stream(ArchiveStream& archive, std::int64_t start,
                                               std::int32_t len, std::int64_t& copied,
                                               int output) {
  const std::int64_t copied_before = copied;
  const bool at_start = archive.position == start;
  archive.position.reset();  // known again only once the copy succeeds
  if (!at_start) {
    std::clearerr(archive.stream);
    if (!seek_absolute(archive.stream, start)) {
      return "cannot seek to 0x" + hex(static_cast<std::uint32_t>(start)) + ": " +
             os_error(errno);
    }
  }
  static char buffer[kCopyBufferSize];
  while (copied < len) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(len - copied, kCopyBufferSize));
    const std::size_t got = read_fully(archive.stream, buffer, wanted);
    const int read_errno = errno;
    const std::size_t written = got > 0 ? write_fully(output, buffer, got) : 0;
    copied += static_cast<std::int64_t>(written);
    if (written < got) {
      return "write failed after " + bytes_of(copied, len) + ": " + os_error(errno);
    }
    if (got < wanted) {
      if (std::ferror(archive.stream)) {
        return "archive read failed after " + bytes_of(copied, len) + ": " +
               os_error(read_errno != 0 ? read_errno : EIO);
      }
      return "archive ends after " + bytes_of(copied, len);
    }
  }
  archive.position = start + (len - copied_before);
  return std::nullopt;
}

// Copies the record's bytes into `output`: inside the kernel where it can, the rest
// through the stream. Returns why it could not copy them all.
std::optional<std::string> copy_entry(ArchiveStream& archive, const ListingRecord& record,
                                      int output) {
  if (record.len <= 0) return std::nullopt;
  if (record.loc > kHighestLocation) {
    return "location 0x" + hex(record.loc) + " is beyond 0x" + hex(kHighestLocation);
  }
  std::int64_t copied = 0;
  if (archive.kernel_copy_from && record.len >= *archive.kernel_copy_from) {
    // Leaves the archive stream where it stands; whatever is left goes on below.
    const KernelCopyResult kernel = copy_in_kernel(archive.stream, record.loc, output,
                                                   record.len);
    copied = kernel.copied;
    if (kernel.stop == KernelCopyStop::unsupported) archive.kernel_copy_from.reset();
  }
  // The rest through the stream: all of it, or what the kernel left. A complete kernel
  // copy leaves the stream, and what the run knows of its position, as they were.
  if (copied == record.len) return std::nullopt;
  return copy_through_stream(archive, std::int64_t{record.loc} + copied, record.len, copied,
                             output);
}

}  // namespace

void extract_entry(ArchiveStream& archive, const ListingRecord& record,
                   const OutputName& output_name, OutputFolder& folder,
                   Diagnostics& diagnostics) {
  std::string why;
  PendingOutput output;
  InstallResult result = InstallResult::failed;
  if (output.begin(folder, output_name, why)) {
    const std::optional<std::string> failure = copy_entry(archive, record, output.descriptor());
    if (failure) {
      why = *failure;
    } else {
      result = output.install(why);
    }
  }
  if (result == InstallResult::failed) {
    // Nothing was installed: say what the name holds.
    why += output.discard_and_look() ? "; " + printable(output_name.listed) + " left as it was"
                                     : "; not written";
  }
  if (result != InstallResult::installed || !output.close(why)) {
    diagnostics.report(printable(output_name.listed), why);
  }
}

}  // namespace sfx
