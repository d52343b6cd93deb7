// Owned C stdio streams and the few file operations the tool needs on every platform.
// file.cc holds what every platform shares; file_posix.cc and file_windows.cc each hold one
// platform's side (file_windows.h: what only the Windows code uses besides).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace sfx {

// An open stream or descriptor that is closed when its owner goes away; close() reports
// whether closing worked. `Closing` names the empty handle (kNone) and closes one (0 when
// that worked).
template <typename Handle, typename Closing>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  Owned(Owned&& other) noexcept : handle_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.release();
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { close(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Closing::kNone; }
  // Closes the handle; false when it was not open or closing failed (errno tells why).
  bool close() { return handle_ != Closing::kNone && Closing::close(release()) == 0; }
  // Gives up ownership without closing.
  Handle release() {
    const Handle handle = handle_;
    handle_ = Closing::kNone;
    return handle;
  }

 private:
  Handle handle_ = Closing::kNone;
};

// Closing counts as done when a signal interrupts it: the handle is gone either way, and
// a second close could close another file.
struct StreamClosing {
  static constexpr std::FILE* kNone = nullptr;
  static int close(std::FILE* stream);
};
struct DescriptorClosing {
  static constexpr int kNone = -1;
  static int close(int fd);
};

// A C stdio stream of the owner's.
using File = Owned<std::FILE*, StreamClosing>;
// A file descriptor of the owner's.
using Descriptor = Owned<int, DescriptorClosing>;

// Every read, write and open below goes on where a signal interrupted it (EINTR), as the
// kernel copy does: an interruption is never a failure.

// Writes `size` bytes to `fd`, going on after short writes; returns how many were written,
// fewer than `size` only when a write failed (errno tells why).
std::size_t write_fully(int fd, const char* data, std::size_t size);
// One write of up to `size` bytes to `fd` (write(2), _write): how many were written, or -1
// when it failed (errno tells why). write_fully goes on from it.
long write_once(int fd, const char* data, std::size_t size);
// Reads up to `size` bytes from `stream`; fewer only at its end or when reading failed
// (ferror; errno tells why).
std::size_t read_fully(std::FILE* stream, char* data, std::size_t size);

// Which file a stream or a name refers to, for telling whether two names lead to the same
// file. Identities are compared only with identities taken the same way.
struct FileIdentity {
  enum class Way : unsigned char {
    none,                // no file: a pipe, a terminal, a device, a closed stream
    cannot_tell,         // a file whose identity the system does not give: it may be any
    device_and_inode,    // POSIX: st_dev and st_ino
    volume_and_index,    // Windows: GetFileInformationByHandle
    volume_and_file_id,  // Windows: GetFileInformationByHandleEx(FileIdInfo), 128 bits
  };
  Way way = Way::none;
  // On Windows 0 when the volume has no serial number (Wine gives none for a stream that a
  // POSIX shell opened): the file IDs alone decide, and a false match only refuses.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t inode_high = 0;  // the high half of a 128-bit file ID
};

// Opens an existing regular file for binary reading; an empty File when it is missing,
// unreadable or not a regular file (a folder, a device, a FIFO: never waited for). On
// Windows `path` is in the ANSI code page and opened through the wide calls, past MAX_PATH.
File open_regular_for_reading(const std::string& path);

// The identity of the file behind an open stream (device and inode; on Windows volume
// serial number and file index, else, or where `by_file_id` asks for it, the 128-bit file
// ID); Way::none when it is no file, and Way::cannot_tell with `why` when it is a file the
// system gives no identity for.
FileIdentity identity_of(std::FILE* stream, std::string& why, bool by_file_id = false);
// Whether `a` and `b`, taken the same way, are the same file.
bool same_file(const FileIdentity& a, const FileIdentity& b);

// Positions a stream at an absolute 64-bit byte offset; false when that fails.
bool seek_absolute(std::FILE* stream, std::int64_t offset);

// Makes sure descriptors 0, 1 and 2 are open, opening the null device for any that is
// closed, so that no file the run opens can take the place of a standard stream (and
// receive its report lines or diagnostics). False when the null device cannot be opened.
bool open_standard_descriptors();

// Whether `fd` is a terminal: on Windows a console (GetConsoleMode), not the null device or
// a serial port, which _isatty reports too, nor a terminal that is a pipe (mintty).
bool is_terminal(int fd);
// Writes `text` to the terminal `fd`: on Windows to the console in UTF-16 (WriteConsoleW),
// decoded from the ANSI code page, so that a console reading another code page (chcp)
// shows the same characters. False when it failed (errno tells why).
bool write_to_terminal(int fd, std::string_view text);

// The running process's id.
unsigned long process_id();

// Joins a folder ("" for the current one) and a file name.
std::string path_in(const std::string& folder, const std::string& name);

}  // namespace sfx
