// One-line diagnostics on the error stream, and whether any problem was seen.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace sfx {

class Diagnostics {
 public:
  explicit Diagnostics(std::FILE* err) : err_(err) {}

  // Prints "sfx-extract: <what>: <why>" and marks the run as having problems.
  void report(std::string_view what, std::string_view why);
  bool any() const { return any_; }

 private:
  std::FILE* err_;
  bool any_ = false;
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
