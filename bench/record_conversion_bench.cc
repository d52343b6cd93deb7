// Records per second through the listing reader, on listings shaped like real ones.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "listing/listing_reader.h"

namespace {

std::string make_listing(int records, const char* line_end) {
  std::string listing = "Path Type Flags Size Packed Ratio Crc Date Time Attr Ver Os Method Level Disk Offset";
  listing += line_end;
  char line[256];
  for (int i = 0; i < records; ++i) {
    std::snprintf(line, sizeof line,
                  "data\\snd\\entry%06d.%s file 0 %d %d 100%% %u 2026-12-08 12:00 A 1 w32 store "
                  "0 0 %08X%s",
                  i, i % 3 == 0 ? "sfx" : "wav", 1000 + i, 1000 + i, 7919u * i, 4096u * i, line_end);
    listing += line;
  }
  return listing;
}

void convert_records(benchmark::State& state, const char* line_end) {
  const int records = 100000;
  const std::string listing = make_listing(records, line_end);
  for (auto _ : state) {
    // Read from memory, so that only the conversion is measured, not a file system.
    std::FILE* stream = fmemopen(const_cast<char*>(listing.data()), listing.size(), "rb");
    sfx::ListingReader reader;
    reader.open_stream(sfx::File(stream));
    sfx::ListingRecord record;
    std::int64_t sum = 0;
    while (reader.next_record(record) == sfx::RecordStatus::complete) sum += record.len;
    benchmark::DoNotOptimize(sum);
    reader.close();
  }
  state.SetItemsProcessed(state.iterations() * records);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(listing.size()));
}

void BM_ConvertRecordsLF(benchmark::State& state) { convert_records(state, "\n"); }
void BM_ConvertRecordsCRLF(benchmark::State& state) { convert_records(state, "\r\n"); }
BENCHMARK(BM_ConvertRecordsLF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertRecordsCRLF)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
