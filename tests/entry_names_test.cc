#include "extractor/entry_names.h"

#include <gtest/gtest.h>

#include <string>

namespace sfx {
namespace {

using namespace std::string_literals;

TEST(EntryNames, SelectionAndOutputName) {
  struct Case {
    std::string path;
    bool selected;
    std::string output_name;
  };
  for (const Case& c : {
           Case{"data\\snd\\boom.sfx", true, "boom.sfx"}, Case{"boom.sfx", true, "boom.sfx"},
           Case{".sfx", true, ".sfx"}, Case{"a\\.sfx", true, ".sfx"},
           Case{"a\\b.SFX", false, "b.SFX"}, Case{"a\\b.Sfx", false, "b.Sfx"},
           Case{"snd\\boom.sfx.bak", false, "boom.sfx.bak"},
           Case{"snd.sfx\\readme", false, "readme"}, Case{"sfx", false, "sfx"},
           Case{"a\\bsfx", false, "bsfx"}, Case{"a\\b.sfxx", false, "b.sfxx"},
           Case{"a\\b.\xe9sfx", false, "b.\xe9sfx"}, Case{"a\\", false, ""},
       }) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(is_selected(c.path), c.selected);
    EXPECT_EQ(output_name_of(c.path), c.output_name);
  }
}

TEST(EntryNames, PlainFileNameRules) {
  struct Case {
    std::string name;
    bool posix;
    bool windows;
  };
  for (const Case& c : {
           Case{"boom.sfx", true, true}, Case{".sfx", true, true},
           Case{"\xe9t\xe9.sfx", true, true}, Case{"a b$&%#!'.sfx", true, true},
           Case{"a\x7f\xa0.sfx", true, true},
           // Nothing outside the folder, on any platform.
           Case{"../evil.sfx", false, false}, Case{"/abs/path.sfx", false, false},
           Case{"a\0b.sfx"s, false, false}, Case{"", false, false}, Case{".", false, false},
           Case{"..", false, false},
           // Windows devices, in any case and before any extension; not their look-alikes.
           Case{"CON.sfx", true, false}, Case{"con.sfx", true, false},
           Case{"Aux.x.sfx", true, false}, Case{"nul.sfx", true, false},
           Case{"PRN.sfx", true, false}, Case{"com1.sfx", true, false},
           Case{"COM9.sfx", true, false}, Case{"lpt5.sfx", true, false},
           Case{"COM0.sfx", true, false}, Case{"lpt0.sfx", true, false},
           Case{"COM\xb9.sfx", true, false}, Case{"lpt\xb2.x.sfx", true, false},
           Case{"COM\xb3.sfx", true, false}, Case{"COM\xb4.sfx", true, true},
           Case{"CONIN$.sfx", true, false}, Case{"conout$.sfx", true, false},
           Case{"CONIN.sfx", true, true}, Case{"CON .sfx", true, false},
           Case{"COM10.sfx", true, true}, Case{"CONSOLE.sfx", true, true},
           Case{"xCON.sfx", true, true}, Case{"LPT.sfx", true, true},
           // Characters Windows never allows in a name.
           Case{"c:evil.sfx", true, false}, Case{"a<b.sfx", true, false},
           Case{"a>b.sfx", true, false}, Case{"a\"b.sfx", true, false},
           Case{"a|b.sfx", true, false}, Case{"a?b.sfx", true, false},
           Case{"a*b.sfx", true, false}, Case{"a\x01b.sfx", true, false},
           Case{"a\tb.sfx", true, false}, Case{"a\x1f" "b.sfx", true, false},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_plain_file_name(c.name, NameRules::posix), c.posix);
    EXPECT_EQ(is_plain_file_name(c.name, NameRules::windows), c.windows);
  }
}

}  // namespace
}  // namespace sfx
