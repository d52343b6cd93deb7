#include <csignal>
#include <cstdio>

#include "extractor/extraction_run.h"

int main() {
#ifdef SIGXFSZ
  // A file-size limit then makes the write fail with an error instead of killing the run.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  return sfx::run_extraction("", stdout, stderr);
}
