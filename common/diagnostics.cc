#include "common/diagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/file.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sfx {

namespace {
// Report lines are written 64 KiB at a time, many to a system call.
constexpr std::size_t kHeldReport = 64 * 1024;
}  // namespace

Diagnostics::Diagnostics(std::FILE* out, std::FILE* err)
    : out_(fileno(out)), err_(fileno(err)), out_is_terminal_(is_terminal(out_)) {
  held_.reserve(kHeldReport);
}

void Diagnostics::print(std::string_view line) {
  if (held_.size() + line.size() > kHeldReport) flush();
  held_.append(line);
  if (out_is_terminal_) flush();
}

void Diagnostics::flush() {
  if (held_.empty()) return;
  const bool written = write_fully(out_, held_.data(), held_.size()) == held_.size();
  const int error = errno;
  held_.clear();
  if (written || output_failed_) return;
  output_failed_ = true;
  report("standard output", os_error(error != 0 ? error : EIO));
}

void Diagnostics::report(std::string_view what, std::string_view why) {
  any_ = true;
  flush();
  std::string line = "sfx-extract: ";
  line.append(what).append(": ").append(why).push_back('\n');
  // Nothing is left to tell a failure here to.
  write_fully(err_, line.data(), line.size());
}

std::string os_error(int error_number) { return std::strerror(error_number); }

std::string hex(std::uint32_t value) {
  static const char kDigits[] = "0123456789abcdef";
  char text[8];
  char* first = text + sizeof text;
  do {
    *--first = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  return std::string(first, text + sizeof text);
}

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

std::string printable(std::wstring_view name) {
  const UINT code_page = GetACP();
  // UTF-8 takes every character but a lone surrogate, and refuses the best-fit flag.
  const bool utf8 = code_page == CP_UTF8;
  std::string bytes;
  for (std::size_t at = 0; at < name.size();) {
    const bool pair = IS_HIGH_SURROGATE(name[at]) && at + 1 < name.size() &&
                      IS_LOW_SURROGATE(name[at + 1]);
    const int units = pair ? 2 : 1;
    char converted[16];
    BOOL defaulted = FALSE;
    const int size = WideCharToMultiByte(
        code_page, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, name.data() + at, units,
        converted, sizeof converted, nullptr, utf8 ? nullptr : &defaulted);
    if (size > 0 && !defaulted) {
      bytes.append(converted, static_cast<std::size_t>(size));
    } else {
      const unsigned character =
          pair ? 0x10000u + ((name[at] - 0xD800u) << 10) + (name[at + 1] - 0xDC00u) : name[at];
      std::snprintf(converted, sizeof converted, "\\u{%x}", character);
      bytes += converted;
    }
    at += static_cast<std::size_t>(units);
  }
  return printable(bytes);
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
