// The program: one pass over the listing that reports and extracts every ".sfx" entry.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace sfx {

constexpr int kExitSuccess = 0;
constexpr int kExitCannotOpen = 1;   // an input is missing, unreadable or not a file
constexpr int kExitProblems = 2;     // finished, but something was skipped or failed
constexpr int kExitCloseFailed = -1; // closing the listing failed

// Runs the extraction on "Filelist.000" and "Filelist.txt" in `folder` ("" for the current
// one), writing output files there, report lines to `out` and diagnostics to `err`.
// Returns the exit status: one of the kExit values above.
int run_extraction(const std::string& folder, std::FILE* out, std::FILE* err);

// The report line of a selected entry, line break included.
std::string report_line(const std::string& output_name, std::int32_t len, std::uint32_t loc);

}  // namespace sfx
