#include "listing/text_input.h"

#include <cerrno>
#include <cstring>

namespace sfx {
namespace {

constexpr char kEndOfText = 0x1A;

// Drops every CR that directly precedes an LF in data[0, size); returns the new size.
std::size_t fold_crlf(char* data, std::size_t size) {
  const char* const end = data + size;
  char* out = static_cast<char*>(std::memchr(data, '\r', size));
  if (out == nullptr) return size;
  const char* in = out;
  // Moves the text between CR LF pairs down in whole runs, one memchr per CR.
  while (in < end) {
    const char* cr = static_cast<const char*>(std::memchr(in, '\r', static_cast<std::size_t>(end - in)));
    if (cr == nullptr) cr = end;
    const bool pair = cr + 1 < end && cr[1] == '\n';
    const char* run_end = pair ? cr : (cr < end ? cr + 1 : end);
    const auto run = static_cast<std::size_t>(run_end - in);
    if (out != in) std::memmove(out, in, run);
    out += run;
    in = pair ? cr + 1 : run_end;
  }
  return static_cast<std::size_t>(out - data);
}

}  // namespace

TextInput::TextInput(File file)
    : file_(std::move(file)), buffer_(new char[kBufferSize]) {
  cursor_ = limit_ = buffer_.get();
}

bool TextInput::refill() {
  if (!buffer_) return false;
  window_start_ = position();
  char* data = buffer_.get();
  cursor_ = limit_ = data;
  while (!finished_) {
    std::size_t size = 0;
    if (carried_cr_) {
      data[size++] = '\r';
      carried_cr_ = false;
    }
    const std::size_t wanted = kBufferSize - size;
    errno = 0;
    const std::size_t got = std::fread(data + size, 1, wanted, file_.get());
    if (got < wanted) {
      if (std::ferror(file_.get())) pending_error_ = errno != 0 ? errno : EIO;
      finished_ = true;
    }
    size += got;
    if (const void* end_mark = std::memchr(data, kEndOfText, size)) {
      size = static_cast<std::size_t>(static_cast<const char*>(end_mark) - data);
      finished_ = true;
    }
    if (!finished_ && size > 0 && data[size - 1] == '\r') {
      carried_cr_ = true;
      --size;
    }
    size = fold_crlf(data, size);
    limit_ = data + size;
    if (size > 0) return true;
  }
  error_ = pending_error_;
  return false;
}

bool TextInput::close() { return file_.close(); }

}  // namespace sfx
