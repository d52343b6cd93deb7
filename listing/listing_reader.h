// Reads the listing "Filelist.txt" record by record: the header line is skipped, then each
// record is the next 16 white-space separated columns, of which column 1 is the path,
// column 4 the length and column 16 the hexadecimal location.
#pragma once

#include <cstdint>
#include <string>

#include "common/file.h"
#include "listing/text_input.h"

namespace sfx {

constexpr std::size_t kMaxPathLength = 1023;
constexpr int kLenColumn = 4;
constexpr int kCheckedDecimalColumn = 7;  // converted as a decimal number, value unused
constexpr int kLocColumn = 16;

struct ListingRecord {
  std::string path;       // column 1, backslash-separated, at most kMaxPathLength bytes
  std::int32_t len = 0;   // column 4: the entry's length in bytes
  std::uint32_t loc = 0;  // column 16: the entry's offset in the archive
};

enum class RecordStatus {
  complete,       // all 16 columns converted
  incomplete,     // a number column did not convert (see failed_column()); `path` is
                  // set, and `len` once column 4 converted
  truncated,      // the listing ended inside the record; `path` is set, and `len` once
                  // column 4 converted
  path_too_long,  // column 1 is longer than kMaxPathLength; `path` holds its last
                  // kMaxPathLength bytes, so its extension is the real one
  end,            // no further record
  read_error,     // reading failed (see read_error()); never a normal end
};

class ListingReader {
 public:
  // Opens the listing at `path`; false when it is missing, unreadable or not a regular file.
  bool open(const std::string& path);
  // Reads from an already open stream instead (for tests and fuzzing).
  void open_stream(File file);
  // Skips the rest of the current line, then converts the next record into `record`.
  RecordStatus next_record(ListingRecord& record);
  // Closes the listing; false when closing failed.
  bool close();

  // The line (counted from 1) on which the last record's column 1 stands.
  std::uint64_t record_line() const { return record_line_; }
  // The column (4, 7 or 16) that did not convert in the last incomplete record.
  int failed_column() const { return failed_column_; }
  // The OS error number behind RecordStatus::read_error.
  int read_error() const { return input_.error(); }
  // Which file the listing is, so that no output is ever written into it (identity_of).
  FileIdentity identity(std::string& why, bool by_file_id) const {
    return input_.identity(why, by_file_id);
  }

 private:
  bool skip_line();
  bool skip_space();
  bool skip_column();
  bool read_path(std::string& path);
  RecordStatus convert_record(ListingRecord& record);
  RecordStatus ending_status() const;

  TextInput input_;
  std::uint64_t line_ = 1;
  std::uint64_t record_line_ = 0;
  int failed_column_ = 0;
};

}  // namespace sfx
