// The kernel-copy limit: for every ".sfx" entry of the listing in the current folder,
// fills a new file from the archive with copy_file_range (one call per entry unless the
// kernel copies less), and nothing else: no checks, no report lines. The file is unnamed
// (O_TMPFILE) and linked to its name when complete, as sfx-extract does, or with `plain`
// created under its name with O_CREAT | O_TRUNC and filled there.
// Usage: copy_files [plain] (in the inputs' folder; Linux).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/link_unnamed.h"
#include "extractor/entry_names.h"
#include "listing/listing_reader.h"

int main(int argc, char** argv) {
  const bool plain = argc == 2 && std::strcmp(argv[1], "plain") == 0;
  const int archive = open("Filelist.000", O_RDONLY);
  sfx::ListingReader reader;
  if (archive < 0 || !reader.open("Filelist.txt")) {
    std::perror("copy_files: inputs");
    return 1;
  }
  sfx::ListingRecord record;
  while (reader.next_record(record) == sfx::RecordStatus::complete) {
    if (!sfx::is_selected(record.path)) continue;
    const std::string name = record.path.substr(record.path.rfind('\\') + 1);
    const int output = plain ? open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666)
                             : open(".", O_WRONLY | O_TMPFILE, 0666);
    off_t offset = record.loc;
    for (std::int64_t left = record.len; output >= 0 && left > 0;) {
      const ssize_t copied =
          copy_file_range(archive, &offset, output, nullptr, static_cast<std::size_t>(left), 0);
      if (copied <= 0) break;
      left -= copied;
    }
    const bool named = plain || (output >= 0 && link_unnamed(output, name.c_str()));
    if (output < 0 || !named || close(output) != 0) {
      std::perror(name.c_str());
      return 1;
    }
  }
  return 0;
}
