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

// How outputs take their names on POSIX, settled by what the run's first output met: every
// branch, whatever the machine the tests run on allows (CI runs as root, where linking by
// descriptor always works).
TEST(SafetyRules, NamingIsSettledByWhatTheSystemGives) {
  using output_detail::NamingProbe;
  struct Case {
    Naming asked;
    NamingProbe probe;  // unnamed file, links by descriptor, /proc names it
    Naming settled;
  };
  for (const Case& c : {
           Case{Naming::automatic, {true, true, true}, Naming::unnamed},
           Case{Naming::automatic, {true, false, true}, Naming::unnamed_via_proc},
           Case{Naming::automatic, {true, false, false}, Naming::temporary_name},  // no /proc
           Case{Naming::automatic, {false, false, false}, Naming::temporary_name},
           Case{Naming::unnamed, {true, true, false}, Naming::unnamed},
           Case{Naming::unnamed, {true, false, false}, Naming::unnamed_via_proc},
           Case{Naming::unnamed, {false, false, true}, Naming::temporary_name},
           Case{Naming::unnamed_via_proc, {true, true, true}, Naming::unnamed_via_proc},
           Case{Naming::unnamed_via_proc, {false, true, true}, Naming::temporary_name},
           Case{Naming::temporary_name, {true, true, true}, Naming::temporary_name},
       }) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.asked)) + " " +
                 std::to_string(c.probe.unnamed_file) + std::to_string(c.probe.links_by_descriptor) +
                 std::to_string(c.probe.proc_names));
    EXPECT_EQ(output_detail::settled_naming(c.asked, c.probe), c.settled);
  }
}

}  // namespace
}  // namespace sfx
