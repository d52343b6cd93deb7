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

// Takes the identities of the inputs and the standard streams, one way for all: where one
// can only be had by file ID (a POSIX shell's redirection under Wine), all are, so that an
// existing output is looked at one way to be held against them all. One that cannot be
// told is said once; every existing output name is then refused.
void take_identities(OutputFolder& folder, std::FILE* archive, const ListingReader& reader,
                     std::FILE* out, std::FILE* err, Diagnostics& diagnostics) {
  std::string why[4];
  FileIdentity* const identities[] = {&folder.archive, &folder.listing, &folder.standard_output,
                                      &folder.standard_error};
  const auto take = [&](bool by_file_id) {
    folder.archive = identity_of(archive, why[0], by_file_id);
    folder.listing = reader.identity(why[1], by_file_id);
    folder.standard_output = identity_of(out, why[2], by_file_id);
    folder.standard_error = identity_of(err, why[3], by_file_id);
  };
  take(false);
  for (const FileIdentity* identity : identities) {
    if (identity->way == FileIdentity::Way::volume_and_file_id) {
      take(true);
      break;
    }
  }
  const char* const what[] = {kArchiveName, kListingName, "standard output", "standard error"};
  for (int i = 0; i < 4; ++i) {
    if (identities[i]->way == FileIdentity::Way::cannot_tell) {
      diagnostics.report(what[i], "cannot tell which file it is (" + why[i] + ")");
    }
  }
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
  take_identities(output_folder, archive.get(), reader, out, err, diagnostics);
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
