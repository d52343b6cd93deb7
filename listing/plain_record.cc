#include "listing/plain_record.h"

#include "common/bits.h"
#include "listing/number_scan.h"
#include "listing/space_bits.h"

namespace sfx {
namespace {

constexpr std::size_t kChunk = 64;

std::uint64_t bits_below(unsigned bit) { return (std::uint64_t{1} << bit) - 1; }

// Where columns start and end in text[0, size - size % 64): a start is a character that is
// not white space after one that is (or at 0), an end a white-space character after one
// that is not. Starts and ends alternate, so a column's end is the first end after its
// start, and the next column starts at the next start. Chunks of 64 are mapped as the
// walk reaches them.
class ColumnEdges {
 public:
  ColumnEdges(const char* text, std::size_t size) : text_(text), chunks_(size / kChunk) {
    if (chunks_ > 0) map(0, true);
  }

  // Moves to the start of the next column; false when it lies beyond the mapped text.
  bool next_start() {
    while (starts_ == 0) {
      if (!map_next()) return false;
    }
    start_bit_ = lowest_bit(starts_);
    starts_ &= starts_ - 1;
    start_ = index_ * kChunk + start_bit_;
    return true;
  }
  std::size_t start() const { return start_; }

  // Finds the end of the column that starts at start(); false when it lies beyond the
  // mapped text. Call it at most once per column, before the next next_start().
  bool find_end() {
    ends_ &= ~bits_below(start_bit_);  // those belong to earlier columns
    while (ends_ == 0) {
      if (!map_next()) return false;
    }
    end_ = index_ * kChunk + lowest_bit(ends_);
    return true;
  }
  std::size_t end() const { return end_; }

  // Line breaks before `position`, which must lie in the chunk of the last edge found.
  std::uint64_t lines_before(std::size_t position) const {
    return lines_before_chunk_ + count_bits(bits_.lines & bits_below(position % kChunk));
  }

 private:
  bool map_next() {
    if (index_ + 1 >= chunks_) return false;
    lines_before_chunk_ += count_bits(bits_.lines);
    map(index_ + 1, (bits_.spaces >> 63) != 0);
    start_bit_ = 0;
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
  unsigned start_bit_ = 0;  // within the chunk mapped now
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::uint64_t lines_before_chunk_ = 0;
};

// Passes over `skipped` columns, then converts the next one as a number of `form`; false
// when a column lies beyond the mapped text or the number is not whole.
template <NumberForm form>
bool number_column(ColumnEdges& edges, const char* text, int skipped, std::uint32_t& number) {
  for (int column = 0; column < skipped; ++column) {
    if (!edges.next_start()) return false;
  }
  return edges.next_start() && edges.find_end() &&
         whole_number<form>(text + edges.start(), text + edges.end(), number);
}

}  // namespace

std::optional<PlainRecordSpan> convert_plain_record(const char* text, std::size_t size,
                                                    ListingRecord& record) {
  ColumnEdges edges(text, size);
  if (!edges.next_start()) return std::nullopt;
  PlainRecordSpan span;
  span.lines_before = edges.lines_before(edges.start());
  if (!edges.find_end() || edges.end() - edges.start() > kMaxPathLength) return std::nullopt;
  record.path.assign(text + edges.start(), edges.end() - edges.start());

  std::uint32_t len = 0;
  std::uint32_t checked = 0;
  if (!number_column<NumberForm::any_base>(edges, text, kLenColumn - 2, len) ||
      !number_column<NumberForm::decimal>(edges, text, kCheckedDecimalColumn - kLenColumn - 1,
                                          checked) ||
      !number_column<NumberForm::hex>(edges, text, kLocColumn - kCheckedDecimalColumn - 1,
                                      record.loc)) {
    return std::nullopt;
  }
  record.len = static_cast<std::int32_t>(len);
  span.length = edges.end();
  span.lines_within = edges.lines_before(edges.end()) - span.lines_before;
  return span;
}

}  // namespace sfx
