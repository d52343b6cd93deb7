// The run's report lines on standard output and its one-line diagnostics on standard
// error, and whether any problem was seen.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace sfx {

class Diagnostics {
 public:
  // Report lines go to `out`, diagnostics to `err`: each written to the stream's descriptor,
  // never through the stream's buffer (a write a signal interrupts goes on, where a stdio
  // stream would drop its buffer). Report lines are held until the holding is full, a
  // diagnostic follows, or flush(): in one file, every diagnostic follows the report lines
  // printed before it. On a terminal they are the run's progress, and none is held.
  Diagnostics(std::FILE* out, std::FILE* err);

  // Adds a report line: `name`, then `rest`. Into a file or a pipe the name keeps its bytes,
  // as callers parse them; on a terminal it is shown as diagnostics show names (printable),
  // so that a listed name cannot drive the terminal. Standard output that cannot be written
  // is reported once.
  void print(std::string_view name, std::string_view rest);
  // Writes the report lines held so far.
  void flush();
  // Prints "sfx-extract: <what>: <why>" and marks the run as having problems.
  void report(std::string_view what, std::string_view why);
  bool any() const { return any_; }

 private:
  int out_;
  int err_;
  bool out_is_terminal_;
  bool err_is_terminal_;
  std::string held_;
  bool any_ = false;
  bool output_failed_ = false;
};

// Text for an OS error number.
std::string os_error(int error_number);
// `value` in lower-case hexadecimal, without prefix or leading zeros: offsets as the report
// lines and diagnostics show them.
std::string hex(std::uint32_t value);
#ifdef _WIN32
// Text for a Windows error code, as GetLastError() gives it.
std::string windows_error(unsigned long code);
#endif

// Whether a terminal may take the character `code` as a control: C0, DEL and C1. A name
// shows none of them, and a Windows name holds none.
constexpr bool is_control_character(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// A name as text to show, so that a hostile name cannot drive a terminal: `bytes` walked
// character by character as the platform reads text (POSIX: UTF-8; Windows: the ANSI code
// page), every control character and every byte that begins no character written as \xNN
// of its bytes. A lead byte therefore never swallows the escape that follows it.
std::string printable(std::string_view bytes);
#ifdef _WIN32
// The same in the code page `code_page`.
std::string printable(std::string_view bytes, unsigned code_page);
// A name as Windows has it, in the ANSI code page and printable: a character without an
// exact equivalent there is written as \u{XXXX}, never as a look-alike (no best fit).
std::string printable(std::wstring_view name);
#endif

}  // namespace sfx
