#include "common/diagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/file.h"

#ifdef _WIN32
#include "common/file_windows.h"
#endif

namespace sfx {

namespace {

// Report lines are written 64 KiB at a time, many to a system call.
constexpr std::size_t kHeldReport = 64 * 1024;

// Writes `text` to `fd`, which is a terminal when `terminal` says so; false when that failed.
bool write_text(int fd, bool terminal, std::string_view text) {
  return terminal ? write_to_terminal(fd, text)
                  : write_fully(fd, text.data(), text.size()) == text.size();
}

}  // namespace

Diagnostics::Diagnostics(std::FILE* out, std::FILE* err)
    : out_(fileno(out)),
      err_(fileno(err)),
      out_is_terminal_(is_terminal(out_)),
      err_is_terminal_(is_terminal(err_)) {
  held_.reserve(kHeldReport);
}

void Diagnostics::print(std::string_view name, std::string_view rest) {
  const std::string shown = out_is_terminal_ ? printable(name) : std::string();
  const std::string_view line_name = out_is_terminal_ ? std::string_view(shown) : name;
  if (held_.size() + line_name.size() + rest.size() > kHeldReport) flush();
  held_.append(line_name).append(rest);
  if (out_is_terminal_) flush();
}

void Diagnostics::flush() {
  if (held_.empty()) return;
  const bool written = write_text(out_, out_is_terminal_, held_);
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
  write_text(err_, err_is_terminal_, line);
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

#endif

namespace {

// `bytes` walked character by character by `character_at`, each control character and each
// byte that begins no character written as \xNN of its bytes.
template <typename CharacterAt>
std::string escaped(std::string_view bytes, CharacterAt character_at) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const auto character = character_at(bytes.substr(at));
    const std::size_t length = character.length > 0 ? character.length : 1;
    if (character.length > 0 && !is_control_character(character.code)) {
      text.append(bytes.substr(at, length));
    } else {
      for (const char c : bytes.substr(at, length)) {
        const auto byte = static_cast<unsigned char>(c);
        text += "\\x";
        text += kHex[byte >> 4];
        text += kHex[byte & 0xF];
      }
    }
    at += length;
  }
  return text;
}

#ifndef _WIN32
struct Utf8Character {
  std::size_t length = 0;  // 0: no valid UTF-8 sequence begins here
  char32_t code = 0;
};

// The UTF-8 character that `bytes` begins with: no overlong form, no surrogate, nothing
// past U+10FFFF, nothing cut short.
Utf8Character utf8_character_at(std::string_view bytes) {
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
  const unsigned first = byte(0);
  if (first < 0x80) return {1, first};
  std::size_t length = 0;
  char32_t code = 0;
  char32_t lowest = 0;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2, code = first & 0x1F, lowest = 0x80;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3, code = first & 0x0F, lowest = 0x800;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4, code = first & 0x07, lowest = 0x10000;
  } else {
    return {};
  }
  if (bytes.size() < length) return {};
  for (std::size_t at = 1; at < length; ++at) {
    if ((byte(at) & 0xC0) != 0x80) return {};
    code = code << 6 | (byte(at) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
  return {length, code};
}
#endif

}  // namespace

#ifdef _WIN32
std::string printable(std::string_view bytes, unsigned code_page) {
  return escaped(bytes, [&](std::string_view rest) { return character_at(rest, code_page); });
}

std::string printable(std::string_view bytes) { return printable(bytes, GetACP()); }

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
  return printable(bytes, code_page);
}
#else
std::string printable(std::string_view bytes) { return escaped(bytes, utf8_character_at); }
#endif

}  // namespace sfx
