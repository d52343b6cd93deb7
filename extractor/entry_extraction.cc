#include "extractor/entry_extraction.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace sfx {
namespace {

// 64 KiB blocks copy at close to the speed of cp; larger buffers were no faster and less
// steady. One buffer serves every entry: the tool is single-threaded.
constexpr std::size_t kCopyBufferSize = 64 * 1024;
constexpr std::uint32_t kHighestLocation = 0x7FFFFFFF;

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  return text;
}

std::string bytes_of(std::int64_t copied, std::int32_t expected) {
  return std::to_string(copied) + " of " + std::to_string(expected) + " bytes";
}

}  // namespace

bool extract_entry(ArchiveStream& archive, const ListingRecord& record,
                   const std::string& output_name, const OutputFolder& folder,
                   Diagnostics& diagnostics) {
  const std::string shown_name = printable(output_name);
  std::string why;
  File output = create_output_file(folder, output_name, why);
  if (!output) {
    diagnostics.report(shown_name, why);
    return false;
  }

  std::int64_t copied = 0;
  if (record.len > 0) {
    if (record.loc > kHighestLocation) {
      diagnostics.report(shown_name, "location 0x" + hex(record.loc) +
                                         " is beyond 0x7fffffff; file left empty");
      output.close();
      return false;
    }
    const bool at_location = archive.position == std::int64_t{record.loc};
    archive.position.reset();  // known again only once the copy succeeds
    if (!at_location) {
      std::clearerr(archive.stream);
      if (!seek_absolute(archive.stream, record.loc)) {
        diagnostics.report(shown_name, "cannot seek to 0x" + hex(record.loc) + ": " +
                                           os_error(errno) + "; file left empty");
        output.close();
        return false;
      }
    }
    static char buffer[kCopyBufferSize];
    while (copied < record.len) {
      const auto wanted = static_cast<std::size_t>(
          std::min<std::int64_t>(record.len - copied, kCopyBufferSize));
      errno = 0;
      const std::size_t got = std::fread(buffer, 1, wanted, archive.stream);
      const int read_errno = errno;
      const std::size_t written = got > 0 ? std::fwrite(buffer, 1, got, output.get()) : 0;
      copied += static_cast<std::int64_t>(written);
      if (written < got) {
        diagnostics.report(shown_name, "write failed after " + bytes_of(copied, record.len) +
                                           ": " + os_error(errno));
        output.close();
        return false;
      }
      if (got < wanted) {
        if (std::ferror(archive.stream)) {
          diagnostics.report(shown_name, "archive read failed after " +
                                             bytes_of(copied, record.len) + ": " +
                                             os_error(read_errno != 0 ? read_errno : EIO));
        } else {
          diagnostics.report(shown_name, "archive ends after " + bytes_of(copied, record.len));
        }
        output.close();
        return false;
      }
    }
    archive.position = std::int64_t{record.loc} + record.len;
  }

  if (!output.close()) {
    diagnostics.report(shown_name, "write failed at close after " +
                                       bytes_of(copied, record.len) + ": " + os_error(errno));
    return false;
  }
  return true;
}

}  // namespace sfx
