// Bit maps of the listing's white space, 64 characters at a time, from which column ends
// are found with a few bit operations instead of a branch per character.
#pragma once

#include <cstdint>

namespace sfx {

struct SpaceBits {
  std::uint64_t spaces = 0;  // bit i: text[i] is white space (space, TAB, LF, VT, FF, CR)
  std::uint64_t lines = 0;   // bit i: text[i] is LF
};

// The maps of text[0, 64); uses SSE2 where the compiler offers it.
SpaceBits space_bits(const char* text);
// The same, one character at a time; the reference the fast one is tested against.
SpaceBits space_bits_portable(const char* text);

}  // namespace sfx
