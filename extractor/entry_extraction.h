// Writes one selected entry out of the archive into a file of its own.
#pragma once

#include <cstdio>
#include <string>

#include "common/diagnostics.h"
#include "extractor/output_file.h"
#include "listing/listing_reader.h"

namespace sfx {

// Creates (or empties) `output_name` in `folder` and copies the record's `len` bytes from
// offset `loc` of `archive` into it, then closes it. A `len` of 0 or less leaves the file
// empty. Returns false, after one diagnostic, when the file could not be created, the
// archive holds fewer bytes, or reading or writing failed; the file then holds exactly
// the bytes that were copied.
bool extract_entry(std::FILE* archive, const ListingRecord& record,
                   const std::string& output_name, const OutputFolder& folder,
                   Diagnostics& diagnostics);

}  // namespace sfx
