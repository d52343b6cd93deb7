#include "extractor/extraction_run.h"

#include <cerrno>
#include <memory>

#include "common/diagnostics.h"
#include "common/file.h"
#include "extractor/entry_extraction.h"
#include "extractor/entry_names.h"
#include "listing/listing_reader.h"

namespace sfx {
namespace {

const char kArchiveName[] = "Filelist.000";
const char kListingName[] = "Filelist.txt";
// Small entries are read many to a system call; larger reads bypass the buffer.
constexpr std::size_t kArchiveBufferSize = 64 * 1024;

void report_skipped(Diagnostics& diagnostics, const ListingReader& reader,
                    RecordStatus status) {
  std::string why;
  if (status == RecordStatus::path_too_long) {
    why = "path longer than " + std::to_string(kMaxPathLength) + " bytes";
  } else if (status == RecordStatus::truncated) {
    why = "listing ends inside the record";
  } else {
    why = "column " + std::to_string(reader.failed_column()) + " does not convert";
  }
  diagnostics.report(std::string(kListingName) + " line " + std::to_string(reader.record_line()),
                     why + "; entry skipped");
}

// The report line of a selected entry, line break included.
std::string report_line(std::string_view output_name, std::int32_t len, std::uint32_t loc) {
  return std::string(output_name) + " len: " + std::to_string(len) + " loc: " + hex(loc) + "\n";
}

}  // namespace

int run_extraction(const std::string& folder, std::FILE* out, std::FILE* err,
                   const RunOptions& options) {
  const std::unique_ptr<char[]> archive_buffer(new char[kArchiveBufferSize]);
  File archive = open_regular_for_reading(path_in(folder, kArchiveName));
  if (!archive) return kExitCannotOpen;
  std::setvbuf(archive.get(), archive_buffer.get(), _IOFBF, kArchiveBufferSize);
  ListingReader reader;
  if (!reader.open(path_in(folder, kListingName))) return kExitCannotOpen;

  Diagnostics diagnostics(out, err);
  OutputFolder output_folder;
  output_folder.path = folder;
  output_folder.archive = identity_of(archive.get());
  output_folder.listing = reader.identity();
  output_folder.standard_output = identity_of(out);
  output_folder.standard_error = identity_of(err);
  output_folder.naming = options.naming;

  ArchiveStream archive_stream{archive.get(), std::nullopt, options.kernel_copy_from};
  ListingRecord record;
  for (;;) {
    const RecordStatus status = reader.next_record(record);
    if (status == RecordStatus::end) break;
    if (status == RecordStatus::read_error) {
      diagnostics.report(kListingName, "read failed: " + os_error(reader.read_error()));
      break;
    }
    if (!is_selected(record.path)) continue;
    if (status != RecordStatus::complete) {
      report_skipped(diagnostics, reader, status);
      continue;
    }
    const std::string_view listed_name = output_name_of(record.path);
    diagnostics.print(report_line(listed_name, record.len, record.loc));
    const std::optional<OutputName> output_name = plain_output_name(listed_name);
    if (!output_name) {
      diagnostics.report(printable(listed_name), "not a plain file name; entry not extracted");
      continue;
    }
    extract_entry(archive_stream, record, *output_name, output_folder, diagnostics);
  }

  if (!archive.close()) diagnostics.report(kArchiveName, "close failed: " + os_error(errno));
  diagnostics.flush();
  if (!reader.close()) {
    diagnostics.report(kListingName, "close failed: " + os_error(errno));
    return kExitCloseFailed;
  }
  return diagnostics.any() ? kExitProblems : kExitSuccess;
}

}  // namespace sfx
