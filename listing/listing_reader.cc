#include "listing/listing_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "common/bits.h"

#include "listing/number_scan.h"
#include "listing/plain_record.h"

namespace sfx {
namespace {

// The header line, and what follows column 16, are skipped by at most this many characters.
constexpr std::size_t kLineSkipLimit = 1023;

constexpr std::array<bool, 256> make_space_table() {
  std::array<bool, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) table[c] = true;
  return table;
}
constexpr std::array<bool, 256> kSpace = make_space_table();

bool is_space(char c) { return kSpace[static_cast<unsigned char>(c)]; }

// The first white-space character in [p, end), or end. Looks at eight bytes at a time for
// one at or below ' ' (every white-space character is), which keeps a column to one or two
// well-predicted steps.
const char* find_space(const char* p, const char* const end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  while (end - p >= 8) {
    // p[0] is the lowest byte, so the lowest flagged byte is exactly the first byte below
    // 0x21; the borrow can flag bytes above it too, which the loop below looks at again.
    const std::uint64_t word = load_little_endian64(p);
    const std::uint64_t low = (word - kOnes * 0x21) & ~word & kHighBits;
    if (low != 0) {
      const char* candidate = p + lowest_bit(low) / 8;
      if (is_space(*candidate)) return candidate;
      for (const char* q = candidate + 1; q < p + 8; ++q) {
        if (is_space(*q)) return q;
      }
    }
    p += 8;
  }
  while (p < end && !is_space(*p)) ++p;
  return p;
}

}  // namespace

bool ListingReader::open(const std::string& path) {
  File file = open_regular_for_reading(path);
  if (!file) return false;
  open_stream(std::move(file));
  return true;
}

void ListingReader::open_stream(File file) {
  input_ = TextInput(std::move(file));
  line_ = 1;
  record_line_ = 0;
  failed_column_ = 0;
}

bool ListingReader::close() { return input_.close(); }

RecordStatus ListingReader::next_record(ListingRecord& record) {
  if (!skip_line()) return ending_status();
  return convert_record(record);
}

RecordStatus ListingReader::ending_status() const {
  return input_.failed() ? RecordStatus::read_error : RecordStatus::end;
}

// Reads up to and including the next LF, but at most kLineSkipLimit characters; false
// when not a single character was left to read.
bool ListingReader::skip_line() {
  // Usually the line break directly follows column 16.
  if (input_.cursor() < input_.limit() && *input_.cursor() == '\n') {
    input_.consume_to(input_.cursor() + 1);
    ++line_;
    return true;
  }
  std::size_t left = kLineSkipLimit;
  bool read_any = false;
  while (left > 0) {
    if (input_.cursor() == input_.limit() && !input_.refill()) break;
    const char* from = input_.cursor();
    const std::size_t span =
        std::min(left, static_cast<std::size_t>(input_.limit() - from));
    read_any = true;
    if (const void* lf = std::memchr(from, '\n', span)) {
      input_.consume_to(static_cast<const char*>(lf) + 1);
      ++line_;
      return true;
    }
    input_.consume_to(from + span);
    left -= span;
  }
  return read_any;
}

// Passes over white space; false when the text ends first.
bool ListingReader::skip_space() {
  for (;;) {
    const char* p = input_.cursor();
    const char* const end = input_.limit();
    for (; p < end && is_space(*p); ++p) {
      if (*p == '\n') ++line_;
    }
    input_.consume_to(p);
    if (p < end) return true;
    if (!input_.refill()) return false;
  }
}

// Passes over the characters of one column; false when the text ends inside it.
bool ListingReader::skip_column() {
  for (;;) {
    const char* const end = input_.limit();
    const char* p = find_space(input_.cursor(), end);
    input_.consume_to(p);
    if (p < end) return true;
    if (!input_.refill()) return false;
  }
}

// Reads column 1 into `path`, keeping its last kMaxPathLength bytes at most; false when
// the column is longer than that.
bool ListingReader::read_path(std::string& path) {
  path.clear();
  std::uint64_t length = 0;
  for (;;) {
    const char* from = input_.cursor();
    const char* const end = input_.limit();
    const char* p = find_space(from, end);
    const auto span = static_cast<std::size_t>(p - from);
    length += span;
    if (span >= kMaxPathLength) {
      path.assign(p - kMaxPathLength, kMaxPathLength);
    } else {
      path.append(from, span);
      if (path.size() > kMaxPathLength) path.erase(0, path.size() - kMaxPathLength);
    }
    input_.consume_to(p);
    if (p < end || !input_.refill()) break;
  }
  return length <= kMaxPathLength;
}

RecordStatus ListingReader::convert_record(ListingRecord& record) {
  if (plain_record_shortcut_) {
    const char* text = input_.cursor();
    const auto size = static_cast<std::size_t>(input_.limit() - text);
    if (const auto plain = convert_plain_record(text, size, record)) {
      record_line_ = line_ + plain->lines_before;
      line_ = record_line_ + plain->lines_within;
      failed_column_ = 0;
      input_.consume_to(text + plain->length);
      return RecordStatus::complete;
    }
  }
  record.path.clear();
  record.len = 0;
  record.loc = 0;
  failed_column_ = 0;
  if (!skip_space()) return ending_status();
  record_line_ = line_;
  const bool path_fits = read_path(record.path);

  for (int column = 2; column <= kColumnsPerRecord; ++column) {
    bool converted = skip_space();
    if (converted) {
      std::optional<std::uint32_t> number;
      switch (column) {
        case kLenColumn:
          number = scan_number(input_, NumberForm::any_base);
          if (number) record.len = static_cast<std::int32_t>(*number);
          converted = number.has_value();
          break;
        case kCheckedDecimalColumn:
          converted = scan_number(input_, NumberForm::decimal).has_value();
          break;
        case kLocColumn:
          number = scan_number(input_, NumberForm::hex);
          if (number) record.loc = *number;
          converted = number.has_value();
          break;
        default:
          skip_column();
      }
    }
    if (!converted) {
      failed_column_ = column;
      if (input_.failed()) return RecordStatus::read_error;
      return path_fits ? RecordStatus::incomplete : RecordStatus::path_too_long;
    }
  }
  if (input_.failed()) return RecordStatus::read_error;
  return path_fits ? RecordStatus::complete : RecordStatus::path_too_long;
}

}  // namespace sfx
