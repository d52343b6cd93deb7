#include "listing/number_scan.h"

#include <array>

namespace sfx {
namespace {

constexpr unsigned char kNotADigit = 0xFF;

constexpr std::array<unsigned char, 256> make_digit_table() {
  std::array<unsigned char, 256> table{};
  for (auto& value : table) value = kNotADigit;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<unsigned char>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<unsigned char>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<unsigned char>(c - 'A' + 10);
  return table;
}
constexpr std::array<unsigned char, 256> kDigitValue = make_digit_table();

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
      const unsigned digit = kDigitValue[static_cast<unsigned char>(*p)];
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
