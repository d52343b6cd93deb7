// The fuzz targets' check: an invariant that fails aborts the run.
#pragma once

#include <cstdio>
#include <cstdlib>

// Aborts with a message when an invariant does not hold, so the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                                 \
      std::abort();                                                             \
    }                                                                           \
  } while (0)
