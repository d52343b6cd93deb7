#include "listing/number_scan.h"

namespace sfx {
namespace {

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
  // Digits are taken straight from the window; a number may run on across refills.
  for (;;) {
    const char* p = input.cursor();
    const char* const end = input.limit();
    for (; p < end; ++p) {
      const unsigned digit = number_detail::kDigitValue[static_cast<unsigned char>(*p)];
      if (digit >= base) break;
      value = value * base + digit;
      have_digit = true;
    }
    input.consume_to(p);
    if (p < end || !input.refill()) break;
  }
  if (!have_digit) return std::nullopt;
  return negative ? 0u - value : value;
}

}  // namespace sfx
