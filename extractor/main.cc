#include <csignal>
#include <cstdio>

#include "common/file.h"
#include "extractor/extraction_run.h"

int main() {
#ifdef SIGXFSZ
  // A file-size limit then makes the write fail with an error instead of killing the run.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef SIGPIPE
  // A reader of the report lines that goes away (| head) then makes the write fail with
  // EPIPE, which is reported once, and the extraction goes on.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  // Started with a standard stream closed, the run would otherwise open an input or an
  // output in its place, and a diagnostic could end up inside an extracted file.
  if (!sfx::open_standard_descriptors()) return sfx::kExitCannotOpen;
  return sfx::run_extraction("", stdout, stderr);
}
