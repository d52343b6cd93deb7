// The listing's number columns, converted by hand so that every platform agrees: digits
// accumulate modulo 2^32 and a '-' negates modulo 2^32. The character that ends a number
// stays unread; on failure the characters already taken (a sign, a "0x") stay consumed.
#pragma once

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
// same rules; false when those characters hold anything else. May read on up to
// `readable`. (A bool, not an optional: this is the hot path, and GCC builds an optional
// result in memory, which costs a stalled load on every call.)
bool whole_number(const char* first, const char* last, const char* readable, NumberForm form,
                  std::uint32_t& number);

}  // namespace sfx
