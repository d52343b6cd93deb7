#include "common/diagnostics.h"

#include <cstring>

namespace sfx {

void Diagnostics::report(std::string_view what, std::string_view why) {
  any_ = true;
  std::string line = "sfx-extract: ";
  line.append(what).append(": ").append(why).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
}

std::string os_error(int error_number) { return std::strerror(error_number); }

std::string printable(std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0xF];
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace sfx
