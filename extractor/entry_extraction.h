// Writes one selected entry out of the archive into a file of its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/diagnostics.h"
#include "extractor/output_file.h"
#include "listing/listing_reader.h"

namespace sfx {

// The run's open archive and, when known, the offset its next read comes from, so that
// entries stored back to back are read without a seek each (a seek is a system call even
// when it goes nowhere).
struct ArchiveStream {
  std::FILE* stream = nullptr;
  std::optional<std::int64_t> position;  // unknown at first and after any failure
};

// Creates (or empties) `output_name` in `folder` and copies the record's `len` bytes from
// offset `loc` of `archive` into it, then closes it. A `len` of 0 or less leaves the file
// empty. Returns false, after one diagnostic, when the file could not be created, the
// archive holds fewer bytes, or reading or writing failed; the file then holds exactly
// the bytes that were copied.
bool extract_entry(ArchiveStream& archive, const ListingRecord& record,
                   const std::string& output_name, const OutputFolder& folder,
                   Diagnostics& diagnostics);

}  // namespace sfx
