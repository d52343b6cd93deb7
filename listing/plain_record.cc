#include "listing/plain_record.h"

#include "listing/number_scan.h"
#include "listing/space_bits.h"

namespace sfx {
namespace {

constexpr std::size_t kChunk = 64;

// Line breaks are rare within a record, so counting them bit by bit is cheapest.
unsigned count_bits(std::uint64_t bits) {
  unsigned count = 0;
  for (; bits != 0; bits &= bits - 1) ++count;
  return count;
}

std::uint64_t bits_below(unsigned bit) { return (std::uint64_t{1} << bit) - 1; }

// Where columns start and end in text[0, size - size % 64): a start is a character that is
// not white space after one that is (or at 0), an end a white-space character after one
// that is not. They alternate, so taking the lowest start, then the lowest end, and so on,
// walks the columns in order. Chunks of 64 are mapped as the walk reaches them.
class ColumnEdges {
 public:
  ColumnEdges(const char* text, std::size_t size) : text_(text), chunks_(size / kChunk) {
    if (chunks_ > 0) map(0, true);
  }

  // The next column start or end; false when it lies beyond the mapped text.
  bool next_start(std::size_t& position) { return take(starts_, position); }
  bool next_end(std::size_t& position) { return take(ends_, position); }
  // Line breaks before `position`, which must lie in the chunk of the last edge taken.
  std::uint64_t lines_before(std::size_t position) const {
    return lines_before_chunk_ + count_bits(bits_.lines & bits_below(position % kChunk));
  }

 private:
  bool take(std::uint64_t& edges, std::size_t& position) {
    while (edges == 0) {
      if (index_ + 1 >= chunks_) return false;
      lines_before_chunk_ += count_bits(bits_.lines);
      map(index_ + 1, (bits_.spaces >> 63) != 0);
    }
    const auto bit = static_cast<unsigned>(__builtin_ctzll(edges));
    edges &= edges - 1;
    position = index_ * kChunk + bit;
    return true;
  }

  void map(std::size_t index, bool space_before) {
    index_ = index;
    bits_ = space_bits(text_ + index * kChunk);
    const std::uint64_t space_behind = (bits_.spaces << 1) | (space_before ? 1 : 0);
    starts_ = ~bits_.spaces & space_behind;
    ends_ = bits_.spaces & ~space_behind;
  }

  const char* text_;
  std::size_t chunks_;
  std::size_t index_ = 0;
  SpaceBits bits_;
  std::uint64_t starts_ = 0;
  std::uint64_t ends_ = 0;
  std::uint64_t lines_before_chunk_ = 0;
};

NumberForm form_of(int column) {
  if (column == kLenColumn) return NumberForm::any_base;
  return column == kCheckedDecimalColumn ? NumberForm::decimal : NumberForm::hex;
}

}  // namespace

std::optional<PlainRecordSpan> convert_plain_record(const char* text, std::size_t size,
                                                    ListingRecord& record) {
  ColumnEdges edges(text, size);
  std::size_t start = 0;
  std::size_t end = 0;
  if (!edges.next_start(start)) return std::nullopt;
  PlainRecordSpan span;
  span.lines_before = edges.lines_before(start);
  if (!edges.next_end(end) || end - start > kMaxPathLength) return std::nullopt;
  record.path.assign(text + start, end - start);

  for (int column = 2; column <= kColumnsPerRecord; ++column) {
    if (!edges.next_start(start) || !edges.next_end(end)) return std::nullopt;
    if (column == kLenColumn || column == kCheckedDecimalColumn || column == kLocColumn) {
      std::uint32_t number = 0;
      if (!whole_number(text + start, text + end, text + size, form_of(column), number)) {
        return std::nullopt;
      }
      if (column == kLenColumn) record.len = static_cast<std::int32_t>(number);
      if (column == kLocColumn) record.loc = number;
    }
  }
  span.length = end;
  span.lines_within = edges.lines_before(end) - span.lines_before;
  return span;
}

}  // namespace sfx
