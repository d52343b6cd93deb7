#include "listing/number_scan.h"

#include <algorithm>
#include <array>
#include <cstring>

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

// Eight characters at a time, as one word whose lowest byte is the first character. Each
// test flags the top bit of a byte and works on every byte in its own 8 bits, so that no
// byte's result depends on its neighbours.
constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kTopBits = 0x8080808080808080ull;

// The `count` (1 to 8) characters at `p` in the low bytes; reads eight when `readable`
// allows, else only those.
std::uint64_t load_word(const char* p, int count, const char* readable) {
  std::uint64_t word = 0;
  if (readable - p >= 8) {
    std::memcpy(&word, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
  }
  for (int i = count - 1; i >= 0; --i) word = (word << 8) | static_cast<unsigned char>(p[i]);
  return word;
}

// Flags the bytes in [low, high), for 0 < low < high <= 0x80.
std::uint64_t bytes_in(std::uint64_t word, unsigned char low, unsigned char high) {
  const std::uint64_t at_least_low = (word | kTopBits) - kOnes * low;
  const std::uint64_t at_least_high = (word | kTopBits) - kOnes * high;
  return at_least_low & ~at_least_high & ~word & kTopBits;
}

std::uint64_t decimal_digits(std::uint64_t word) { return bytes_in(word, '0', '9' + 1); }

std::uint64_t hex_digits(std::uint64_t word) {
  // Setting bit 5 folds 'A'-'F' onto 'a'-'f' and nothing else into that range.
  return decimal_digits(word) | bytes_in(word | (kOnes * 0x20), 'a', 'f' + 1);
}

std::uint64_t first_bytes(int count) {
  return count >= 8 ? kTopBits : kTopBits & ((std::uint64_t{1} << (8 * count)) - 1);
}

// The value of the first `count` (1 to 8) bytes, all decimal digits, the first the most
// significant. The digits move to the top, so that the bytes below count as leading zeros;
// then pairs, quads and the halves are combined.
std::uint32_t decimal_value(std::uint64_t word, int count) {
  std::uint64_t v = (word - kOnes * '0') << (8 * (8 - count));
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
      32;
  return static_cast<std::uint32_t>(v);
}

// The same for hexadecimal digits: '0'-'9' have bit 6 clear, letters have it set and
// their low nibble is 9 short of their value.
std::uint32_t hex_value(std::uint64_t word, int count) {
  std::uint64_t v = (word & (kOnes * 0x0F)) + ((word >> 6) & kOnes) * 9;
  v <<= 8 * (8 - count);
  v = ((v << 4) | (v >> 8)) & 0x00FF00FF00FF00FFull;
  v = ((v << 8) | (v >> 16)) & 0x0000FFFF0000FFFFull;
  v = (v << 16) | (v >> 32);
  return static_cast<std::uint32_t>(v);
}

// Base^0 to Base^8, modulo 2^32.
constexpr std::array<std::uint32_t, 9> powers_of(unsigned base) {
  std::array<std::uint32_t, 9> powers{};
  std::uint64_t power = 1;
  for (auto& value : powers) {
    value = static_cast<std::uint32_t>(power);
    power *= base;
  }
  return powers;
}
constexpr std::array<std::uint32_t, 9> kDecimalPowers = powers_of(10);
constexpr std::array<std::uint32_t, 9> kHexPowers = powers_of(16);

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

bool whole_number(const char* first, const char* last, const char* readable, NumberForm form,
                  std::uint32_t& number) {
  const char* p = first;
  bool negative = false;
  if (p < last && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  unsigned base = form == NumberForm::hex ? 16 : 10;
  if (form != NumberForm::decimal && p < last && *p == '0') {
    if (last - p >= 2 && is_x(p[1])) {
      p += 2;
      base = 16;
    } else if (form == NumberForm::any_base) {
      base = 8;  // the leading 0 is an octal digit itself
    }
  }
  if (p == last) return false;
  std::uint32_t value = 0;
  if (base == 8) {
    for (; p < last; ++p) {
      const unsigned digit = kDigitValue[static_cast<unsigned char>(*p)];
      if (digit >= 8) return false;
      value = value * 8 + digit;
    }
  } else {
    // Up to eight digits at a time, checked and converted without a branch per digit.
    while (p < last) {
      const int count = static_cast<int>(std::min<std::ptrdiff_t>(last - p, 8));
      const std::uint64_t word = load_word(p, count, readable);
      const std::uint64_t digits = base == 10 ? decimal_digits(word) : hex_digits(word);
      if ((digits & first_bytes(count)) != first_bytes(count)) return false;
      const std::uint32_t chunk =
          base == 10 ? decimal_value(word, count) : hex_value(word, count);
      value = value * (base == 10 ? kDecimalPowers[count] : kHexPowers[count]) + chunk;
      p += count;
    }
  }
  number = negative ? 0u - value : value;
  return true;
}

}  // namespace sfx
