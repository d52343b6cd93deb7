// The input is a listing. Walks every record and checks what a user relies on: paths of at
// most 1023 bytes, a walk that ends, a read position and line numbers that never go back.
// A second reader without the shortcut for plain records walks alongside and must agree on
// every step.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz/fuzz_check.h"
#include "listing/listing_reader.h"

namespace {

sfx::File stream_of(const std::uint8_t* data, std::size_t size) {
  std::FILE* stream = std::tmpfile();
  FUZZ_CHECK(stream != nullptr);
  if (size > 0) FUZZ_CHECK(std::fwrite(data, 1, size, stream) == size);
  std::rewind(stream);
  return sfx::File(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sfx::ListingReader reader;
  reader.open_stream(stream_of(data, size));
  sfx::ListingReader general;
  general.open_stream(stream_of(data, size));
  general.set_plain_record_shortcut(false);

  sfx::ListingRecord record;
  sfx::ListingRecord general_record;
  std::uint64_t last_position = 0;
  std::uint64_t last_line = 0;
  // Every record consumes at least one character, so a walk has at most size + 1 steps.
  for (std::size_t steps = 0;; ++steps) {
    FUZZ_CHECK(steps <= size + 1);
    const sfx::RecordStatus status = reader.next_record(record);
    FUZZ_CHECK(general.next_record(general_record) == status);
    FUZZ_CHECK(general.position() == reader.position());
    FUZZ_CHECK(reader.position() >= last_position);
    FUZZ_CHECK(reader.position() <= size);
    if (status == sfx::RecordStatus::end) break;
    FUZZ_CHECK(status != sfx::RecordStatus::read_error);
    FUZZ_CHECK(reader.position() > last_position);
    FUZZ_CHECK(record.path.size() <= sfx::kMaxPathLength);
    FUZZ_CHECK(!record.path.empty());
    FUZZ_CHECK(general_record.path == record.path);
    FUZZ_CHECK(general.record_line() == reader.record_line());
    FUZZ_CHECK(reader.record_line() >= last_line);
    if (status == sfx::RecordStatus::complete) {
      FUZZ_CHECK(general_record.len == record.len && general_record.loc == record.loc);
    }
    if (status == sfx::RecordStatus::incomplete) {
      FUZZ_CHECK(reader.failed_column() >= 2 && reader.failed_column() <= 16);
      FUZZ_CHECK(general.failed_column() == reader.failed_column());
    }
    last_position = reader.position();
    last_line = reader.record_line();
  }
  FUZZ_CHECK(reader.close());
  FUZZ_CHECK(general.close());
  return 0;
}
