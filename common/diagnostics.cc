#include "common/diagnostics.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace sfx {

void Diagnostics::report(std::string_view what, std::string_view why) {
  any_ = true;
  if (!output_failed_ && std::fflush(out_) != 0) report_output_failure(errno);
  std::string line = "sfx-extract: ";
  line.append(what).append(": ").append(why).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
}

void Diagnostics::report_output_failure(int error) {
  if (output_failed_) return;
  output_failed_ = true;
  report("standard output", os_error(error != 0 ? error : EIO));
}

std::string os_error(int error_number) { return std::strerror(error_number); }

#ifdef _WIN32
std::string windows_error(unsigned long code) {
  char text[256];
  DWORD size = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              code, 0, text, sizeof text, nullptr);
  // The system's text ends in ".\r\n"; a diagnostic is one line.
  while (size > 0 && (text[size - 1] == '\n' || text[size - 1] == '\r' ||
                      text[size - 1] == '.' || text[size - 1] == ' ')) {
    --size;
  }
  if (size == 0) return "error " + std::to_string(code);
  return std::string(text, size);
}
#endif

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
