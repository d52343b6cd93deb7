#include "tests/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/file.h"
#include "extractor/extraction_run.h"

namespace fs = std::filesystem;

namespace sfx::test {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    fs::path candidate = fs::temp_directory_path() /
                         ("sfx-test-" + std::to_string(stamp) + "-" +
                          std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.generic_string();
      return;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code error;
  fs::remove_all(path_, error);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return "<missing>";
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  return bytes.str();
}

bool exists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

std::string folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const auto& name : names) joined += (joined.empty() ? "" : " ") + name;
  return joined;
}

std::string listing_line(const std::string& path, const std::string& len,
                         const std::string& loc) {
  return path + " 1 2 " + len + " 5 6 7 8 9 10 11 12 13 14 15 " + loc;
}

std::string listing_of(const std::string& lines) {
  return "Path Type Flags Size A B Date C D E F G H I J Offset\n" + lines;
}

namespace {

std::string slurp(std::FILE* stream) {
  std::string bytes;
  std::rewind(stream);
  char block[4096];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, stream)) > 0;) {
    bytes.append(block, got);
  }
  return bytes;
}

}  // namespace

RunResult run_in(const std::string& folder) {
  TempFolder streams;
  File out(std::fopen(streams.file("out").c_str(), "w+b"));
  File err(std::fopen(streams.file("err").c_str(), "w+b"));
  RunResult result;
  result.status = run_extraction(folder, out.get(), err.get());
  result.out = slurp(out.get());
  result.err = slurp(err.get());
  return result;
}

std::string test_bytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(i < 256 ? i : state >> 24);
  }
  return bytes;
}

}  // namespace sfx::test
