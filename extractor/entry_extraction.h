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
  // The smallest entry copied inside the kernel (RunOptions); none once the kernel has
  // refused, and none for a run that copies everything through the stream.
  std::optional<std::int64_t> kernel_copy_from;
};

// Writes the record's `len` bytes from offset `loc` of `archive` into a new file and gives
// it the name `output_name` in `folder` once complete, replacing what the name held; a
// `len` of 0 or less gives an empty file. When the name is refused, the archive holds
// fewer bytes, or reading, writing or naming fails, it reports that once and the name
// holds exactly what it held before.
void extract_entry(ArchiveStream& archive, const ListingRecord& record,
                   const OutputName& output_name, OutputFolder& folder,
                   Diagnostics& diagnostics);

}  // namespace sfx
