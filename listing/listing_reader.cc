#include "listing/listing_reader.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "listing/char_table.h"
#include "listing/number_scan.h"

namespace sfx {
namespace {

// The header line, and what follows column 16, are skipped by at most this many characters.
constexpr std::size_t kLineSkipLimit = 1023;

// The first character at or after `p` that is white space or the window's end mark.
const char* column_end(const char* p) {
  while ((class_of(*p) & (kSpace | kWindowEnd)) == 0) ++p;
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
  const char* p = input_.cursor();
  if (p < input_.limit() && *p == '\r') ++p;
  if (p < input_.limit() && *p == '\n') {
    input_.consume_to(p + 1);
    ++line_;
    return true;
  }
  std::size_t left = kLineSkipLimit;
  bool read_any = false;
  while (left > 0) {
    if (input_.cursor() == input_.limit() && !input_.refill()) break;
    const char* from = input_.cursor();
    const std::size_t span = std::min(left, static_cast<std::size_t>(input_.limit() - from));
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

// Passes over white space, counting line breaks; false when the text ends first.
bool ListingReader::skip_space() {
  for (;;) {
    const char* p = input_.cursor();
    std::uint64_t lines = 0;
    for (unsigned char kind; (kind = class_of(*p)) & kSpace; ++p) lines += kind >> 1;
    line_ += lines;
    input_.consume_to(p);
    if (p < input_.limit()) return true;
    if (!input_.refill()) return false;
  }
}

// Passes over the characters of one column; false when the text ends inside it.
bool ListingReader::skip_column() {
  for (;;) {
    const char* p = column_end(input_.cursor());
    input_.consume_to(p);
    if (p < input_.limit()) return true;
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
    const char* p = column_end(from);
    const auto span = static_cast<std::size_t>(p - from);
    length += span;
    if (span >= kMaxPathLength) {
      path.assign(p - kMaxPathLength, kMaxPathLength);
    } else {
      path.append(from, span);
      if (path.size() > kMaxPathLength) path.erase(0, path.size() - kMaxPathLength);
    }
    input_.consume_to(p);
    if (p < input_.limit() || !input_.refill()) break;
  }
  return length <= kMaxPathLength;
}

RecordStatus ListingReader::convert_record(ListingRecord& record) {
  record.path.clear();
  record.len = 0;
  record.loc = 0;
  failed_column_ = 0;
  if (!skip_space()) return ending_status();
  record_line_ = line_;
  const bool path_fits = read_path(record.path);

  // The number columns in order, each after the uninterpreted columns before it.
  struct NumberColumn {
    int column;
    NumberForm form;
  };
  static constexpr NumberColumn kNumberColumns[] = {{kLenColumn, NumberForm::any_base},
                                                    {kCheckedDecimalColumn, NumberForm::decimal},
                                                    {kLocColumn, NumberForm::hex}};
  int column = 2;
  std::optional<std::uint32_t> number;
  for (const NumberColumn& number_column : kNumberColumns) {
    for (; column < number_column.column && skip_space(); ++column) skip_column();
    const bool ended = column < number_column.column || !skip_space();
    if (ended || !(number = scan_number(input_, number_column.form))) {
      failed_column_ = column;
      if (input_.failed()) return RecordStatus::read_error;
      if (!path_fits) return RecordStatus::path_too_long;
      return ended ? RecordStatus::truncated : RecordStatus::incomplete;
    }
    if (column == kLenColumn) record.len = static_cast<std::int32_t>(*number);
    if (column == kLocColumn) record.loc = *number;
    ++column;
  }
  if (input_.failed()) return RecordStatus::read_error;
  return path_fits ? RecordStatus::complete : RecordStatus::path_too_long;
}

}  // namespace sfx
