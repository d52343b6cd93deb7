// The input is a listing and an archive: two bytes give the listing's length (little
// endian, modulo the input's size), the rest is the archive. The whole run is executed in a
// fresh folder inside a parent folder that also holds two sentinel files. Before the run
// the folder is given, under names the listing may select, a symbolic link to one
// sentinel, a dangling symbolic link pointing outside, and a hard link to the other
// sentinel. Afterwards nothing outside the folder has changed or appeared, the links are
// still the same links, the inputs are unchanged, every other file in the folder is a
// plain ".sfx" name holding exactly one complete entry that named it (no partial entry, no
// temporary file), and the exit status is 0, 1 or 2.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "extractor/entry_names.h"
#include "extractor/extraction_run.h"
#include "extractor/output_file.h"
#include "fuzz/fuzz_check.h"
#include "listing/listing_reader.h"

namespace fs = std::filesystem;

namespace {

const char kSentinel[] = "sentinel: must stay as it is\n";
const char kHardSentinel[] = "hard-linked sentinel: must stay as it is\n";
// The planted links, by name in the run folder, with their targets.
const char kLinkName[] = "link.sfx";
const char kLinkTarget[] = "../sentinel";
const char kDanglingName[] = "dangling.sfx";
const char kDanglingTarget[] = "../created-through-link";
const char kHardName[] = "hard.sfx";

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(stream.good());
}

std::string read_file(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// What each output name may hold after the run: the bytes of one of the complete selected
// records that name it (none for a len of 0 or less), when the archive holds them all.
std::map<std::string, std::vector<std::string>> complete_entries_by_name(
    const fs::path& listing, const std::string& archive) {
  std::map<std::string, std::vector<std::string>> entries;
  sfx::ListingReader reader;
  FUZZ_CHECK(reader.open(listing.string()));
  sfx::ListingRecord record;
  for (;;) {
    const sfx::RecordStatus status = reader.next_record(record);
    if (status == sfx::RecordStatus::end || status == sfx::RecordStatus::read_error) break;
    if (status != sfx::RecordStatus::complete || !sfx::is_selected(record.path)) continue;
    const std::size_t len = record.len > 0 ? static_cast<std::size_t>(record.len) : 0;
    if (len > 0 && (record.loc > archive.size() || archive.size() - record.loc < len)) continue;
    std::string why_not;
    entries[std::string(sfx::output_name_of(record.path, why_not).listed)].push_back(
        len > 0 ? archive.substr(record.loc, len) : std::string());
  }
  reader.close();
  return entries;
}

// The parent folder, made at the first input and removed when the process exits.
struct ParentFolder {
  fs::path path = fs::temp_directory_path() /
                  ("sfx-fuzz-" + std::to_string(std::chrono::steady_clock::now()
                                                    .time_since_epoch()
                                                    .count()));
  ParentFolder() {
    fs::create_directories(path);
    write_file(path / "sentinel", kSentinel);
    write_file(path / "hard-sentinel", kHardSentinel);
  }
  ~ParentFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

const fs::path& parent_folder() {
  static const ParentFolder parent;
  return parent.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t listing_size =
      bytes.empty() ? 0 : (data[0] | (static_cast<std::size_t>(data[1]) << 8)) % (bytes.size() + 1);
  const std::string listing = bytes.substr(0, listing_size);
  const std::string archive = bytes.substr(listing_size);

  const fs::path& parent = parent_folder();
  const fs::path folder = parent / "run";
  fs::remove_all(folder);
  fs::create_directory(folder);
  write_file(folder / "Filelist.txt", listing);
  write_file(folder / "Filelist.000", archive);
#ifndef _WIN32
  fs::create_symlink(kLinkTarget, folder / kLinkName);
  fs::create_symlink(kDanglingTarget, folder / kDanglingName);
#endif
  fs::create_hard_link(parent / "hard-sentinel", folder / kHardName);

  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  FUZZ_CHECK(out != nullptr && err != nullptr);
  const int status = sfx::run_extraction(folder.string(), out, err);
  std::fclose(out);
  std::fclose(err);
  FUZZ_CHECK(status == 0 || status == 1 || status == 2);

  std::size_t outside = 0;
  for (const auto& entry : fs::directory_iterator(parent)) {
    ++outside;
    const std::string name = entry.path().filename().string();
    FUZZ_CHECK(name == "run" || name == "sentinel" || name == "hard-sentinel");
  }
  FUZZ_CHECK(outside == 3);
  FUZZ_CHECK(read_file(parent / "sentinel") == kSentinel);
  FUZZ_CHECK(read_file(parent / "hard-sentinel") == kHardSentinel);
#ifndef _WIN32
  FUZZ_CHECK(fs::is_symlink(folder / kLinkName) && fs::read_symlink(folder / kLinkName) == kLinkTarget);
  FUZZ_CHECK(fs::is_symlink(folder / kDanglingName) &&
             fs::read_symlink(folder / kDanglingName) == kDanglingTarget);
  // Windows' C library reports one name for every file, so only the bytes are checked there.
  FUZZ_CHECK(fs::equivalent(folder / kHardName, parent / "hard-sentinel") &&
             fs::hard_link_count(folder / kHardName) == 2);
#endif
  FUZZ_CHECK(read_file(folder / kHardName) == kHardSentinel);
  FUZZ_CHECK(read_file(folder / "Filelist.txt") == listing);
  FUZZ_CHECK(read_file(folder / "Filelist.000") == archive);

  const auto entries = complete_entries_by_name(folder / "Filelist.txt", archive);
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name == "Filelist.txt" || name == "Filelist.000" || name == kLinkName ||
        name == kDanglingName || name == kHardName) {
      continue;
    }
    FUZZ_CHECK(entry.is_regular_file());
    std::string why_not;
    sfx::output_name_of(name, why_not);
    FUZZ_CHECK(sfx::is_selected(name) && why_not.empty());
    const auto named = entries.find(name);
    FUZZ_CHECK(named != entries.end());
    const std::string bytes = read_file(entry.path());
    FUZZ_CHECK(std::find(named->second.begin(), named->second.end(), bytes) != named->second.end());
  }
  fs::remove_all(folder);
  return 0;
}
