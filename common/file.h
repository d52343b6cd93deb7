// Owned C stdio streams and the few file operations the tool needs on every platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace sfx {

// A stream that is closed when its owner goes away; close() reports whether closing worked.
class File {
 public:
  File() = default;
  explicit File(std::FILE* stream) : stream_(stream) {}
  File(File&& other) noexcept : stream_(other.release()) {}
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  std::FILE* get() const { return stream_; }
  explicit operator bool() const { return stream_ != nullptr; }
  // Closes the stream; false when it was not open or closing failed (errno tells why).
  bool close();
  // Gives up ownership without closing.
  std::FILE* release();

 private:
  std::FILE* stream_ = nullptr;
};

// Which file a stream refers to, for telling whether two names lead to the same file.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool known = false;
};

// Opens an existing regular file for binary reading; an empty File when it is missing,
// unreadable or not a regular file (a folder, a device, a pipe).
File open_regular_for_reading(const std::string& path);

// The identity of the file behind an open stream; `known` is false where the platform
// cannot tell (Windows).
FileIdentity identity_of(std::FILE* stream);
bool same_file(const FileIdentity& a, const FileIdentity& b);

// Positions a stream at an absolute 64-bit byte offset; false when that fails.
bool seek_absolute(std::FILE* stream, std::int64_t offset);

// Makes sure descriptors 0, 1 and 2 are open, opening the null device for any that is
// closed, so that no file the run opens can take the place of a standard stream (and
// receive its report lines or diagnostics). False when the null device cannot be opened.
bool open_standard_descriptors();

// Joins a folder ("" for the current one) and a file name.
std::string path_in(const std::string& folder, const std::string& name);

}  // namespace sfx
