// The shortcut for the usual record: one that lies wholly in the text at hand, with number
// columns that are whole, well-formed numbers. For such a record it gives what the general
// conversion gives, in one pass over bit maps of the white space; every other record is
// left to the general conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "listing/listing_reader.h"

namespace sfx {

struct PlainRecordSpan {
  std::size_t length = 0;          // characters up to the end of column 16
  std::uint64_t lines_before = 0;  // line breaks before column 1
  std::uint64_t lines_within = 0;  // line breaks between column 1 and the end of column 16
};

// Converts the record at the start of text[0, size), after any white space, into
// `record`. Only the first size - size % 64 characters are looked at, and column 16 must be
// followed by white space among them. Returns nullopt, leaving `record` unspecified, when
// the record is not plain or does not end there.
std::optional<PlainRecordSpan> convert_plain_record(const char* text, std::size_t size,
                                                    ListingRecord& record);

}  // namespace sfx
