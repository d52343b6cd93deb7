// The listing as text: a window of bytes over a binary stream, ending at the first 0x1A,
// with nothing translated (CR is white space to the reader, so CR LF needs no folding).
// The same on every platform.
#pragma once

#include <cstddef>
#include <memory>

#include "common/file.h"

namespace sfx {

class TextInput {
 public:
  static constexpr int kEnd = -1;

  TextInput() = default;
  explicit TextInput(File file);

  // The characters available now, [cursor(), limit()); *limit() is always kEndOfText, so
  // a scan that stops at a character class stops there too. Empty only before a refill().
  const char* cursor() const { return cursor_; }
  const char* limit() const { return limit_; }
  // Marks the characters up to `to` (within the window) as read.
  void consume_to(const char* to) { cursor_ = to; }

  // Makes more characters available after the window is used up; false at the end of the
  // text or on a read error (see failed()).
  bool refill();

  // The next character without reading it, or kEnd.
  int peek() {
    if (cursor_ == limit_ && !refill()) return kEnd;
    return static_cast<unsigned char>(*cursor_);
  }
  void advance() { ++cursor_; }

  // Whether the text ended because reading failed.
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }
  // Closes the stream; false when closing failed.
  bool close();
  // Which file the text is read from (identity_of).
  FileIdentity identity(std::string& why, bool by_file_id) const {
    return identity_of(file_.get(), why, by_file_id);
  }

 private:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  File file_;
  std::unique_ptr<char[]> buffer_;  // kBufferSize characters and the end mark
  const char* cursor_ = nullptr;
  const char* limit_ = nullptr;
  bool finished_ = false;  // no more bytes will be read (end of file, 0x1A or an error)
  int pending_error_ = 0;  // a read failed; it counts once the bytes before it are used up
  int error_ = 0;
};

}  // namespace sfx
