#include "listing/text_input.h"

#include <cerrno>
#include <cstring>

#include "listing/char_table.h"

namespace sfx {

TextInput::TextInput(File file)
    : file_(std::move(file)), buffer_(new char[kBufferSize + 1]) {
  buffer_[0] = kEndOfText;
  cursor_ = limit_ = buffer_.get();
}

bool TextInput::refill() {
  if (!buffer_) return false;
  char* data = buffer_.get();
  data[0] = kEndOfText;  // an empty window still ends in the mark
  cursor_ = limit_ = data;
  if (finished_) {
    error_ = pending_error_;
    return false;
  }
  std::size_t size = read_fully(file_.get(), data, kBufferSize);
  if (size < kBufferSize) {
    if (std::ferror(file_.get())) pending_error_ = errno != 0 ? errno : EIO;
    finished_ = true;
  }
  if (const void* end_mark = std::memchr(data, kEndOfText, size)) {
    size = static_cast<std::size_t>(static_cast<const char*>(end_mark) - data);
    finished_ = true;
  }
  data[size] = kEndOfText;
  limit_ = data + size;
  if (size > 0) return true;
  error_ = pending_error_;
  return false;
}

bool TextInput::close() { return file_.close(); }

}  // namespace sfx
