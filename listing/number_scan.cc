#include "listing/number_scan.h"

namespace sfx {
namespace {

// The value of `c` as a digit of `base`, or -1.
int digit_value(int c, unsigned base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

bool is_x(int c) { return c == 'x' || c == 'X'; }

}  // namespace

std::optional<std::uint32_t> scan_number(TextInput& input, NumberForm form) {
  bool negative = false;
  int c = input.peek();
  if (c == '+' || c == '-') {
    negative = c == '-';
    input.advance();
    c = input.peek();
  }

  unsigned base = form == NumberForm::hex ? 16 : 10;
  bool have_digit = false;
  if (form != NumberForm::decimal && c == '0') {
    input.advance();
    c = input.peek();
    if (is_x(c)) {
      input.advance();
      c = input.peek();
      base = 16;
    } else {
      have_digit = true;
      if (form == NumberForm::any_base) base = 8;
    }
  }

  std::uint32_t value = 0;
  for (int digit; (digit = digit_value(c, base)) >= 0; c = input.peek()) {
    value = value * base + static_cast<std::uint32_t>(digit);
    have_digit = true;
    input.advance();
  }
  if (!have_digit) return std::nullopt;
  return negative ? 0u - value : value;
}

}  // namespace sfx
