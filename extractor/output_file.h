// Creating an entry's output file without ever writing through a link or into one of the
// inputs.
#pragma once

#include <string>

#include "common/file.h"

namespace sfx {

// Where output files go and which files they must never be.
struct OutputFolder {
  std::string path;        // "" for the current folder
  FileIdentity archive;    // the inputs, which an output name may reach through a link
  FileIdentity listing;
};

// Creates `name` in `folder`, or empties it, for unbuffered binary writing. On failure
// returns an empty File and sets `why`: the OS error, or a refusal when the name is a
// symbolic link (or, on Windows, another reparse point), a file with other names (hard
// links), one of the inputs, or something other than a regular file. A refused name is
// left exactly as it was; the checks are made on the handle that is then written, so a
// link swapped in after a check cannot be written through.
File create_output_file(const OutputFolder& folder, const std::string& name, std::string& why);

}  // namespace sfx
