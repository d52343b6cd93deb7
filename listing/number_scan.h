// The listing's number columns, converted as their digits pass so that every platform
// agrees: digits accumulate modulo 2^32 and a '-' negates modulo 2^32. The character that
// ends a number stays unread; on failure the characters already taken (a sign, a "0x")
// stay consumed.
#pragma once

#include <cstdint>
#include <optional>

#include "listing/char_table.h"
#include "listing/text_input.h"

namespace sfx {

enum class NumberForm {
  any_base,  // "0x" hexadecimal, a leading 0 octal, else decimal
  decimal,   // decimal digits only; leading zeros are decimal
  hex,       // hexadecimal digits, after an optional "0x"
};

// Reads one number of `form` at the read position (no white space skipped); nullopt when
// no digit follows the sign and prefix. Inline: the reader calls it for each number column
// with the form known.
inline std::optional<std::uint32_t> scan_number(TextInput& input, NumberForm form) {
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
    if (c == 'x' || c == 'X') {
      input.advance();
      base = 16;
    } else {
      have_digit = true;
      if (form == NumberForm::any_base) base = 8;
    }
  }

  std::uint32_t value = 0;
  // Digits are taken straight from the window, up to the first character that is not one
  // (the window's end mark is none); a number may run on across refills.
  for (;;) {
    const char* p = input.cursor();
    const char* const first = p;
    for (unsigned digit; (digit = kDigitValue[static_cast<unsigned char>(*p)]) < base; ++p) {
      value = value * base + digit;
    }
    have_digit = have_digit || p != first;
    input.consume_to(p);
    if (p < input.limit() || !input.refill()) break;
  }
  if (!have_digit) return std::nullopt;
  return negative ? 0u - value : value;
}

}  // namespace sfx
