// The listing's number columns, converted by hand so that every platform agrees: digits
// accumulate modulo 2^32 and a '-' negates modulo 2^32. The character that ends a number
// stays unread; on failure the characters already taken (a sign, a "0x") stay consumed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "listing/text_input.h"

namespace sfx {

enum class NumberForm {
  any_base,  // "0x" hexadecimal, a leading 0 octal, else decimal
  decimal,   // decimal digits only; leading zeros are decimal
  hex,       // hexadecimal digits, after an optional "0x"
};

// Reads one number of `form` at the read position (no white space skipped); nullopt when
// no digit follows the sign and prefix.
std::optional<std::uint32_t> scan_number(TextInput& input, NumberForm form);

// Converts [first, last) into `number` when it is exactly one number of `form`, by the
// same rules; false when those characters hold anything else. Inline and returning a bool
// rather than an optional, as the shortcut for plain records calls it three times a record.
template <NumberForm form>
bool whole_number(const char* first, const char* last, std::uint32_t& number);

namespace number_detail {

// The value of a digit character (0-9, a-f, A-F); kNotADigit for any other character.
constexpr unsigned char kNotADigit = 0xFF;
constexpr std::array<unsigned char, 256> make_digit_table() {
  std::array<unsigned char, 256> table{};
  for (auto& value : table) value = kNotADigit;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<unsigned char>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<unsigned char>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<unsigned char>(c - 'A' + 10);
  return table;
}
inline constexpr std::array<unsigned char, 256> kDigitValue = make_digit_table();

// Converts the digits [p, last), at least one, all of `base`, into `value`. (Converting
// eight digits as one word was measured and gained nothing over this loop.)
template <unsigned base>
bool whole_digits(const char* p, const char* last, std::uint32_t& value) {
  if (p == last) return false;
  value = 0;
  for (; p < last; ++p) {
    const unsigned digit = kDigitValue[static_cast<unsigned char>(*p)];
    if (digit >= base) return false;
    value = value * base + digit;
  }
  return true;
}

}  // namespace number_detail

template <NumberForm form>
bool whole_number(const char* first, const char* last, std::uint32_t& number) {
  using number_detail::whole_digits;
  const char* p = first;
  const bool negative = p < last && *p == '-';
  if (p < last && (*p == '+' || *p == '-')) ++p;
  std::uint32_t value = 0;
  bool converted = false;
  if (form != NumberForm::decimal && last - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    converted = whole_digits<16>(p + 2, last, value);
  } else if (form == NumberForm::hex) {
    converted = whole_digits<16>(p, last, value);
  } else if (form == NumberForm::any_base && p < last && *p == '0') {
    converted = whole_digits<8>(p, last, value);  // the 0 is an octal digit
  } else {
    converted = whole_digits<10>(p, last, value);
  }
  if (!converted) return false;
  number = negative ? 0u - value : value;
  return true;
}

}  // namespace sfx
