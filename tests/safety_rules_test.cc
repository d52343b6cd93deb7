// Which existing file an output must never replace, by identity: the inputs and the files
// that receive the standard streams, compared only with the output's identity taken the
// same way; a stream whose file cannot be told refuses every existing name.
#include <gtest/gtest.h>

#include <string>

#include "extractor/output_file.h"

namespace sfx {
namespace {

using Way = FileIdentity::Way;

TEST(SafetyRules, IdentitiesCompareLikeWithLike) {
  const FileIdentity kIndex{Way::volume_and_index, 7, 42, 0};   // the output, taken so
  const FileIdentity kFileId{Way::volume_and_file_id, 7, 9, 1};  // and so
  struct Case {
    const char* name;
    FileIdentity archive, standard_output;
    std::uint64_t names;
    std::string refusal;
  };
  for (const Case& c : {
           Case{"another file", {Way::volume_and_index, 7, 41, 0}, {}, 1, ""},
           Case{"the archive", {Way::volume_and_index, 7, 42, 0}, {}, 1,
                "cannot create: it is one of the input files"},
           Case{"same index, other volume", {Way::volume_and_index, 8, 42, 0}, {}, 1, ""},
           Case{"standard output by file ID", {}, {Way::volume_and_file_id, 7, 9, 1}, 1,
                "cannot create: it receives standard output"},
           // Wine gives a stream that a POSIX shell opened no volume serial number.
           Case{"by file ID, no volume serial", {}, {Way::volume_and_file_id, 0, 9, 1}, 1,
                "cannot create: it receives standard output"},
           Case{"by file ID, other high half", {}, {Way::volume_and_file_id, 0, 9, 2}, 1, ""},
           // The numbers of another way of taking it mean nothing.
           Case{"file ID equal to the index", {}, {Way::volume_and_file_id, 7, 42, 0}, 1, ""},
           Case{"cannot tell standard output", {}, {Way::cannot_tell, 0, 0, 0}, 1,
                "cannot create: it may receive standard output"},
           Case{"cannot tell the archive", {Way::cannot_tell, 0, 0, 0}, {}, 1,
                "cannot create: it may be one of the input files"},
           Case{"no file behind the stream", {}, {Way::none, 7, 42, 0}, 1, ""},
           Case{"hard links", {}, {}, 2, "cannot create: it has other names (hard links)"},
       }) {
    SCOPED_TRACE(c.name);
    OutputFolder folder;
    folder.archive = c.archive;
    folder.standard_output = c.standard_output;
    const auto taken_as = [&](Way way) { return way == Way::volume_and_file_id ? kFileId : kIndex; };
    EXPECT_EQ(output_detail::refusal_of(folder, taken_as, c.names), c.refusal);
  }
  // On POSIX a device number is always known: 0 is a device like any other.
  EXPECT_FALSE(same_file({Way::device_and_inode, 0, 5, 0}, {Way::device_and_inode, 3, 5, 0}));
  EXPECT_TRUE(same_file({Way::device_and_inode, 3, 5, 0}, {Way::device_and_inode, 3, 5, 0}));
}

}  // namespace
}  // namespace sfx
