// sfx-extract with its copy chosen on the command line, for finding the entry size from
// which the kernel copy wins. Usage: extract_with stream|kernel (in the inputs' folder).
#include <cstdio>
#include <cstring>

#include "extractor/extraction_run.h"

int main(int argc, char** argv) {
  if (argc != 2 || (std::strcmp(argv[1], "stream") != 0 && std::strcmp(argv[1], "kernel") != 0)) {
    std::fprintf(stderr, "usage: extract_with stream|kernel\n");
    return 2;
  }
  sfx::RunOptions options;
  options.kernel_copy_from = std::strcmp(argv[1], "kernel") == 0
                                 ? std::optional<std::int64_t>(1)
                                 : std::nullopt;
  return sfx::run_extraction("", stdout, stderr, options);
}
