#include "listing/space_bits.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace sfx {

SpaceBits space_bits_portable(const char* text) {
  SpaceBits bits;
  for (int i = 0; i < 64; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (c == ' ' || (c >= '\t' && c <= '\r')) bits.spaces |= bit;
    if (c == '\n') bits.lines |= bit;
  }
  return bits;
}

#ifdef __SSE2__

SpaceBits space_bits(const char* text) {
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i span = _mm_set1_epi8('\r' - '\t');
  const __m128i line_feed = _mm_set1_epi8('\n');
  SpaceBits bits;
  for (int i = 0; i < 4; ++i) {
    const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * i));
    // TAB to CR: c - TAB, taken unsigned, is at most CR - TAB.
    const __m128i offset = _mm_sub_epi8(chars, tab);
    const __m128i in_span = _mm_cmpeq_epi8(_mm_min_epu8(offset, span), offset);
    const __m128i space = _mm_or_si128(_mm_cmpeq_epi8(chars, blank), in_span);
    const int shift = 16 * i;
    bits.spaces |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(space)))
                   << shift;
    bits.lines |= static_cast<std::uint64_t>(
                      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chars, line_feed))))
                  << shift;
  }
  return bits;
}

#else

SpaceBits space_bits(const char* text) { return space_bits_portable(text); }

#endif

}  // namespace sfx
