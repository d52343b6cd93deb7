// The listing's number columns, converted by hand so that every platform agrees: digits
// accumulate modulo 2^32 and a '-' negates modulo 2^32. The character that ends a number
// stays unread; on failure the characters already taken (a sign, a "0x") stay consumed.
#pragma once

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

}  // namespace sfx
