// Writes a benchmark workload (Filelist.000 and Filelist.txt) into a folder, the same bytes
// for the same seed. Usage: generate_workload KIND FOLDER [SEED], KIND one of large, many,
// many-COUNT, listing, hostile-line, hostile-path, or sized-BYTES (entries of one size).
// Prints the number of selected entries and bytes to extract.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <string>
#include <vector>

namespace {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }

 private:
  std::uint64_t state_;
};

struct Entry {
  std::string path;
  std::uint64_t size;
};

std::FILE* create(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return file;
}

void finish(std::FILE* file, const std::string& path) {
  if (std::ferror(file) || std::fclose(file) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

const char kHeader[] =
    "Path Type Flags Size Packed Ratio Crc Date Time Attr Ver Os Method Level Disk Offset\r\n";

std::string record_line(const std::string& path, std::uint64_t size, std::uint64_t location,
                        std::uint32_t crc) {
  char line[2048];
  std::snprintf(line, sizeof line,
                "%s file 0 %llu %llu 100%% %u 2026-12-08 12:00 A 1 w32 store 0 0 %08llX\r\n",
                path.c_str(), static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(size), crc,
                static_cast<unsigned long long>(location));
  return line;
}

// Writes the entries back to back into the archive, and their listing lines.
void write_archive(const std::string& folder, const std::vector<Entry>& entries, Random& random) {
  const std::string archive_path = folder + "/Filelist.000";
  const std::string listing_path = folder + "/Filelist.txt";
  std::FILE* archive = create(archive_path);
  std::FILE* listing = create(listing_path);
  std::fputs(kHeader, listing);
  std::vector<std::uint64_t> block(1 << 16);
  std::uint64_t location = 0;
  std::uint64_t selected = 0;
  std::uint64_t selected_bytes = 0;
  for (const Entry& entry : entries) {
    const std::string line =
        record_line(entry.path, entry.size, location, static_cast<std::uint32_t>(random.next()));
    std::fwrite(line.data(), 1, line.size(), listing);
    if (entry.path.size() > 4 && entry.path.compare(entry.path.size() - 4, 4, ".sfx") == 0) {
      ++selected;
      selected_bytes += entry.size;
    }
    for (std::uint64_t left = entry.size; left > 0;) {
      const std::uint64_t words = std::min<std::uint64_t>(block.size(), (left + 7) / 8);
      for (std::uint64_t i = 0; i < words; ++i) block[i] = random.next();
      const std::uint64_t bytes = std::min<std::uint64_t>(left, words * 8);
      std::fwrite(block.data(), 1, bytes, archive);
      left -= bytes;
    }
    location += entry.size;
  }
  finish(archive, archive_path);
  finish(listing, listing_path);
  std::printf("%llu selected entries, %llu bytes to extract, archive %llu bytes\n",
              static_cast<unsigned long long>(selected),
              static_cast<unsigned long long>(selected_bytes),
              static_cast<unsigned long long>(location));
}

std::string entry_path(const char* folder, std::uint64_t index, const char* extension) {
  char path[128];
  std::snprintf(path, sizeof path, "data\\%s\\entry%06llu.%s", folder,
                static_cast<unsigned long long>(index), extension);
  return path;
}

// About 2,000 selected entries of 1 KB to 4 MB (log-uniform, about 1 GiB in all) among about
// 20,000 small unselected ones.
std::vector<Entry> large_entries(Random& random) {
  std::vector<Entry> entries;
  static const char* const kOther[] = {"tex", "wav", "mdl", "txt"};
  for (std::uint64_t i = 0; i < 22000; ++i) {
    if (i % 11 == 0) {
      const double size = 1000.0 * std::pow(4096.0, random.unit());
      entries.push_back({entry_path("snd", i, "sfx"), static_cast<std::uint64_t>(size)});
    } else {
      entries.push_back({entry_path("misc", i, kOther[i % 4]), 256 + random.next() % 2048});
    }
  }
  return entries;
}

// An empty archive, and the listing opened with its header written.
std::FILE* start_listing_only(const std::string& folder) {
  finish(create(folder + "/Filelist.000"), folder + "/Filelist.000");
  std::FILE* listing = create(folder + "/Filelist.txt");
  std::fputs(kHeader, listing);
  return listing;
}

void write_listing_only(const std::string& folder, Random& random) {
  const std::string listing_path = folder + "/Filelist.txt";
  std::FILE* listing = start_listing_only(folder);
  static const char* const kOther[] = {"tex", "wav", "mdl", "sfx.bak"};
  std::uint64_t written = 0;
  for (std::uint64_t i = 0; written < 50'000'000; ++i) {
    const std::string line = record_line(entry_path("misc", i, kOther[i % 4]),
                                         random.next() % 100000, random.next() % 0x7FFFFFFF,
                                         static_cast<std::uint32_t>(random.next()));
    std::fwrite(line.data(), 1, line.size(), listing);
    written += line.size();
  }
  finish(listing, listing_path);
  std::printf("0 selected entries, listing %llu bytes\n", static_cast<unsigned long long>(written));
}

// One listing line of `total` bytes without a line break: 16-column records back to back.
void write_hostile_line(const std::string& folder, std::uint64_t total) {
  const std::string listing_path = folder + "/Filelist.txt";
  std::FILE* listing = start_listing_only(folder);
  std::string chunk;
  while (chunk.size() < (1u << 20)) {
    chunk += "data\\snd\\entry.wav file 0 100 100 100% 7 2026-12-08 12:00 A 1 w32 store 0 0 1F ";
  }
  for (std::uint64_t written = 0; written < total; written += chunk.size()) {
    std::fwrite(chunk.data(), 1, std::min<std::uint64_t>(chunk.size(), total - written), listing);
  }
  finish(listing, listing_path);
  std::printf("one line of %llu bytes\n", static_cast<unsigned long long>(total));
}

// A record whose path column is `total` bytes long and ends in ".sfx".
void write_hostile_path(const std::string& folder, std::uint64_t total) {
  const std::string listing_path = folder + "/Filelist.txt";
  std::FILE* listing = start_listing_only(folder);
  const std::string chunk(1u << 20, 'p');
  for (std::uint64_t written = 0; written < total; written += chunk.size()) {
    std::fwrite(chunk.data(), 1, std::min<std::uint64_t>(chunk.size(), total - written), listing);
  }
  std::fputs(".sfx file 0 100 100 100% 7 2026-12-08 12:00 A 1 w32 store 0 0 1F\r\n", listing);
  finish(listing, listing_path);
  std::printf("one path column of %llu bytes\n", static_cast<unsigned long long>(total));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: generate_workload large|many|listing|hostile-line|hostile-path FOLDER [SEED]\n");
    return 2;
  }
  const std::string kind = argv[1];
  const std::string folder = argv[2];
  Random random(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  if (kind == "large") {
    write_archive(folder, large_entries(random), random);
  } else if (kind == "many" || kind.rfind("many-", 0) == 0) {
    // 100,000 entries of 1 KiB, or as many as the kind says (many-2000).
    const std::uint64_t count =
        kind == "many" ? 100000 : std::strtoull(kind.c_str() + 5, nullptr, 10);
    std::vector<Entry> entries;
    for (std::uint64_t i = 0; i < count; ++i) entries.push_back({entry_path("snd", i, "sfx"), 1024});
    write_archive(folder, entries, random);
  } else if (kind.rfind("sized-", 0) == 0) {
    // Entries of one size, about 256 MiB in all, for finding the kernel copy's threshold.
    const std::uint64_t size = std::strtoull(kind.c_str() + 6, nullptr, 10);
    std::vector<Entry> entries;
    for (std::uint64_t i = 0; size > 0 && i < (256ull << 20) / size; ++i) {
      entries.push_back({entry_path("snd", i, "sfx"), size});
    }
    write_archive(folder, entries, random);
  } else if (kind == "listing") {
    write_listing_only(folder, random);
  } else if (kind == "hostile-line") {
    write_hostile_line(folder, 1ull << 30);
  } else if (kind == "hostile-path") {
    write_hostile_path(folder, 100ull << 20);
  } else {
    std::fprintf(stderr, "generate_workload: unknown workload: %s\n", kind.c_str());
    return 2;
  }
  return 0;
}
