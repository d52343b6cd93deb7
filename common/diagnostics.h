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

  // Adds a report line; standard output that cannot be written is reported once.
  void print(std::string_view line);
  // Writes the report lines held so far.
  void flush();
  // Prints "sfx-extract: <what>: <why>" and marks the run as having problems.
  void report(std::string_view what, std::string_view why);
  bool any() const { return any_; }

 private:
  int out_;
  int err_;
  bool out_is_terminal_;
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

// `bytes` with control characters and DEL written as \xNN, so that a hostile name
// cannot drive the terminal.
std::string printable(std::string_view bytes);
#ifdef _WIN32
// A name as Windows has it, in the ANSI code page and printable: a character without an
// exact equivalent there is written as \u{XXXX}, never as a look-alike (no best fit).
std::string printable(std::wstring_view name);
#endif

}  // namespace sfx
