// The kernel-copy limit: for every ".sfx" entry of the listing in the current folder,
// creates the output and fills it from the archive with copy_file_range (one call per
// entry unless the kernel copies less), and nothing else: no checks, no report lines.
// Usage: copy_files (in the inputs' folder; Linux).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "extractor/entry_names.h"
#include "listing/listing_reader.h"

int main() {
  const int archive = open("Filelist.000", O_RDONLY);
  sfx::ListingReader reader;
  if (archive < 0 || !reader.open("Filelist.txt")) {
    std::perror("copy_files: inputs");
    return 1;
  }
  sfx::ListingRecord record;
  while (reader.next_record(record) == sfx::RecordStatus::complete) {
    if (!sfx::is_selected(record.path)) continue;
    const std::string name(sfx::output_name_of(record.path));
    const int output = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    off_t offset = record.loc;
    for (std::int64_t left = record.len; output >= 0 && left > 0;) {
      const ssize_t copied =
          copy_file_range(archive, &offset, output, nullptr, static_cast<std::size_t>(left), 0);
      if (copied <= 0) break;
      left -= copied;
    }
    if (output < 0 || close(output) != 0) {
      std::perror(name.c_str());
      return 1;
    }
  }
  return 0;
}
