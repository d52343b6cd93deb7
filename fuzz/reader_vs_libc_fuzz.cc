// The input, made safe (below), is a listing. The project's reader and the C library's own
// formatted input walk it side by side: per record a line skip with fgets into a 1024-byte
// buffer, then fscanf with the record pattern. Every record's path, len (its low 32 bits)
// and loc, which record fails to convert, and where the walk ends must agree.
//
// Made safe means that what glibc reads differently from the library the listing's rules
// come from is taken out: CR and 0x1A (glibc has no text mode), NUL (it would cut the path
// fscanf stores), columns over 1023 bytes, runs of hexadecimal-digit characters too long
// for glibc's `long` (it saturates where the rules wrap modulo 2^32), and "0x" or "0X"
// without a hexadecimal digit after it (glibc converts it as 0, the rules fail the column).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "listing/char_table.h"
#include "listing/listing_reader.h"

#ifndef __GLIBC__
#error "the comparison relies on glibc's formatted input"
#endif

namespace {

const char kRecordPattern[] =
    "%s %*s %*s %li %*s %*s %d %*s %*s %*s %*s %*s %*s %*s %*s %x";
// Digits that always fit glibc's `long` and `unsigned long`, in any base.
constexpr std::size_t kLongestDigitRun = sizeof(long) >= 8 ? 15 : 7;

bool is_hex_digit(char c) { return sfx::kDigitValue[static_cast<unsigned char>(c)] < 16; }

std::string made_safe(const std::uint8_t* data, std::size_t size) {
  std::string text;
  std::size_t column = 0;
  std::size_t digits = 0;
  for (std::size_t i = 0; i < size; ++i) {
    char c = static_cast<char>(data[i]);
    if (c == '\r') c = '\n';
    if (c == sfx::kEndOfText) c = ' ';
    if (c == '\0') c = '#';
    const bool space = (sfx::class_of(c) & sfx::kSpace) != 0;
    if ((!space && column == sfx::kMaxPathLength) ||
        (is_hex_digit(c) && digits == kLongestDigitRun)) {
      text += ' ';
      column = digits = 0;
    }
    text += c;
    column = space ? 0 : column + 1;
    digits = is_hex_digit(c) ? digits + 1 : 0;
  }
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        (i + 2 == text.size() || !is_hex_digit(text[i + 2]))) {
      text[i + 1] = 'z';
    }
  }
  return text;
}

std::FILE* stream_of(const std::string& text) {
  std::FILE* stream = std::tmpfile();
  FUZZ_CHECK(stream != nullptr);
  FUZZ_CHECK(std::fwrite(text.data(), 1, text.size(), stream) == text.size());
  std::rewind(stream);
  return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = made_safe(data, size);
  sfx::ListingReader reader;
  reader.open_stream(sfx::File(stream_of(text)));
  sfx::File libc(stream_of(text));
  std::vector<char> path(text.size() + 1);
  char line[1024];
  sfx::ListingRecord record;
  for (std::size_t steps = 0;; ++steps) {
    FUZZ_CHECK(steps <= text.size() + 1);
    long len = 0;
    int column7 = 0;
    unsigned loc = 0;
    const int converted = std::fgets(line, sizeof line, libc.get()) == nullptr
                              ? EOF
                              : std::fscanf(libc.get(), kRecordPattern, path.data(), &len,
                                            &column7, &loc);
    const sfx::RecordStatus status = reader.next_record(record);
    if (converted == EOF) {
      FUZZ_CHECK(status == sfx::RecordStatus::end);
      break;
    }
    FUZZ_CHECK(status == sfx::RecordStatus::complete || status == sfx::RecordStatus::incomplete ||
               status == sfx::RecordStatus::truncated);
    FUZZ_CHECK((status == sfx::RecordStatus::complete) == (converted == 4));
    FUZZ_CHECK(record.path == path.data());
    const auto low_32_bits = static_cast<std::int32_t>(static_cast<std::uint32_t>(len));
    if (converted >= 2) FUZZ_CHECK(record.len == low_32_bits);
    if (converted == 4) FUZZ_CHECK(record.loc == loc);
  }
  FUZZ_CHECK(reader.close());
  return 0;
}
