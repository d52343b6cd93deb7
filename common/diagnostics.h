// One-line diagnostics on the error stream, and whether any problem was seen.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace sfx {

class Diagnostics {
 public:
  // Diagnostics go to `err`. `out`, the stream of report lines, is flushed before each
  // one, so that in one file every diagnostic follows the report lines printed before it;
  // a run without problems pays nothing for that.
  Diagnostics(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  // Prints "sfx-extract: <what>: <why>" and marks the run as having problems.
  void report(std::string_view what, std::string_view why);
  // Reports once that standard output cannot be written (OS error `error`).
  void report_output_failure(int error);
  bool any() const { return any_; }

 private:
  std::FILE* out_;
  std::FILE* err_;
  bool any_ = false;
  bool output_failed_ = false;
};

// Text for an OS error number.
std::string os_error(int error_number);
#ifdef _WIN32
// Text for a Windows error code, as GetLastError() gives it.
std::string windows_error(unsigned long code);
#endif

// `bytes` with control characters and DEL written as \xNN, so that a hostile name
// cannot drive the terminal.
std::string printable(std::string_view bytes);

}  // namespace sfx
