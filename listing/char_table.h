// What each byte is to the listing's reader, in two tables looked up once per byte: the
// single definition of the listing's white space, and the value of each digit.
#pragma once

#include <array>

namespace sfx {

enum CharClass : unsigned char {
  kSpace = 1,     // space, TAB, LF, VT, FF, CR: separates columns
  kLineFeed = 2,  // LF: also ends a line
  // 0x1A ends the listing, so it never stands inside the text at hand: it marks the end of
  // the window instead, and every scan stops there without a bounds check of its own.
  kWindowEnd = 4,
};

constexpr char kEndOfText = 0x1A;

inline constexpr std::array<unsigned char, 256> kCharClass = [] {
  std::array<unsigned char, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) table[c] = kSpace;
  table['\n'] |= kLineFeed;
  table[static_cast<unsigned char>(kEndOfText)] = kWindowEnd;
  return table;
}();

inline unsigned char class_of(char c) { return kCharClass[static_cast<unsigned char>(c)]; }

// The value of a digit character (0-9, a-f, A-F); kNotADigit for any other character,
// the window's end among them.
constexpr unsigned char kNotADigit = 0xFF;
inline constexpr std::array<unsigned char, 256> kDigitValue = [] {
  std::array<unsigned char, 256> table{};
  for (auto& value : table) value = kNotADigit;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<unsigned char>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<unsigned char>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<unsigned char>(c - 'A' + 10);
  return table;
}();

}  // namespace sfx
