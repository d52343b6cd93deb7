// The program: one pass over the listing that reports and extracts every ".sfx" entry.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "extractor/entry_extraction.h"

namespace sfx {

constexpr int kExitSuccess = 0;
constexpr int kExitCannotOpen = 1;   // an input is missing, unreadable or not a file
constexpr int kExitProblems = 2;     // finished, but something was skipped or failed
constexpr int kExitCloseFailed = -1; // closing the listing failed

// Entries of at least this many bytes are copied inside the kernel where it can; smaller
// ones are read through the archive stream's buffer, many to a system call.
constexpr std::int64_t kKernelCopyThreshold = 128 * 1024;

// How the run copies; the program uses the defaults, tests and benchmarks set others.
struct RunOptions {
  // The smallest entry copied inside the kernel where it can; none: every entry goes
  // through the archive stream.
  std::optional<std::int64_t> kernel_copy_from = kKernelCopyThreshold;
  // How outputs take their names; the tests choose each way in turn.
  Naming naming = Naming::automatic;
};

// Runs the extraction on "Filelist.000" and "Filelist.txt" in `folder` ("" for the current
// one), writing output files there, report lines to `out` and diagnostics to `err`.
// Returns the exit status: one of the kExit values above.
int run_extraction(const std::string& folder, std::FILE* out, std::FILE* err,
                   const RunOptions& options = {});

}  // namespace sfx
