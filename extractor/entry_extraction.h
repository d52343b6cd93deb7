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

// Entries of at least this many bytes are copied inside the kernel where it can; smaller
// ones are read through the archive stream's buffer, many to a system call.
constexpr std::int64_t kKernelCopyThreshold = 128 * 1024;

// The run's open archive and, when known, the offset its next read comes from, so that
// entries stored back to back are read without a seek each (a seek is a system call even
// when it goes nowhere).
struct ArchiveStream {
  std::FILE* stream = nullptr;
  std::optional<std::int64_t> position;  // unknown at first and after any failure
  // The smallest entry copied inside the kernel; none once the kernel has refused, and
  // none for a run that copies everything through the stream.
  std::optional<std::int64_t> kernel_copy_from = kKernelCopyThreshold;
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
