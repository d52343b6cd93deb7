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

// What follows the output name in a selected entry's report line, line break included.
std::string report_line_rest(std::int32_t len, std::uint32_t loc) {
  return " len: " + std::to_string(len) + " loc: " + hex(loc) + "\n";
}

// The identity of the input or stream `what` (identity_of); one that cannot be told is said
// once, and every existing output name is then refused.
FileIdentity identity_told(Diagnostics& diagnostics, const char* what, FileIdentity identity,
                           const std::string& why) {
  if (identity.way == FileIdentity::Way::cannot_tell) {
    diagnostics.report(what, "cannot tell which file it is (" + why + ")");
  }
  return identity;
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
  std::string why;
  output_folder.archive =
      identity_told(diagnostics, kArchiveName, identity_of(archive.get(), why), why);
  output_folder.listing = identity_told(diagnostics, kListingName, reader.identity(why), why);
  output_folder.standard_output =
      identity_told(diagnostics, "standard output", identity_of(out, why), why);
  output_folder.standard_error =
      identity_told(diagnostics, "standard error", identity_of(err, why), why);
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
    std::string why_not;
    const OutputName output_name = output_name_of(record.path, why_not);
    diagnostics.print(output_name.listed, report_line_rest(record.len, record.loc));
    if (!why_not.empty()) {
      diagnostics.report(printable(output_name.listed), why_not + "; entry not extracted");
      continue;
    }
    extract_entry(archive_stream, record, output_name, output_folder, diagnostics);
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
