// The input is a listing. Walks every record and checks what a user relies on: the walk
// ends, line numbers never go back, and every path is a column of the text of at most
// 1023 bytes: no white space in it, and it ends where its column ends (its start may lie
// where a skipped line of over 1023 characters was cut; an overlong path is the last 1023
// bytes of its column). A read error never happens here.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_check.h"
#include "listing/char_table.h"
#include "listing/listing_reader.h"

namespace {

sfx::File stream_of(const std::uint8_t* data, std::size_t size) {
  std::FILE* stream = std::tmpfile();
  FUZZ_CHECK(stream != nullptr);
  if (size > 0) FUZZ_CHECK(std::fwrite(data, 1, size, stream) == size);
  std::rewind(stream);
  return sfx::File(stream);
}

bool separates(const std::string& text, std::size_t at) {
  return at >= text.size() || (sfx::class_of(text[at]) & sfx::kSpace) != 0;
}

// Whether `path` holds no white space and stands in `text` (up to its first 0x1A) where
// a column ends.
bool is_column_of(const std::string& text, const std::string& path) {
  for (char c : path) {
    if ((sfx::class_of(c) & (sfx::kSpace | sfx::kWindowEnd)) != 0) return false;
  }
  for (std::size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + 1)) {
    if (separates(text, at + path.size())) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find(sfx::kEndOfText));
  sfx::ListingReader reader;
  reader.open_stream(stream_of(data, size));
  sfx::ListingRecord record;
  std::uint64_t last_line = 0;
  // Every record consumes at least one character, so a walk has at most size + 1 steps.
  for (std::size_t steps = 0;; ++steps) {
    FUZZ_CHECK(steps <= size + 1);
    const sfx::RecordStatus status = reader.next_record(record);
    if (status == sfx::RecordStatus::end) break;
    FUZZ_CHECK(status != sfx::RecordStatus::read_error);
    FUZZ_CHECK(!record.path.empty() && record.path.size() <= sfx::kMaxPathLength);
    FUZZ_CHECK(status != sfx::RecordStatus::path_too_long ||
               record.path.size() == sfx::kMaxPathLength);
    FUZZ_CHECK(is_column_of(text, record.path));
    FUZZ_CHECK(reader.record_line() >= last_line);
    if (status == sfx::RecordStatus::incomplete) {
      const int column = reader.failed_column();
      FUZZ_CHECK(column == 4 || column == 7 || column == 16);
    }
    last_line = reader.record_line();
  }
  FUZZ_CHECK(reader.close());
  return 0;
}
