#include "extractor/entry_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "extractor/windows_names.h"
#endif

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

// `posix`: the rule of every platform; `windows`: Windows' rules on the name decoded from
// code page 1252, which must refuse on their own what the portable rule refuses (the wide
// calls take the name as it stands). Only the Windows builds can decode.
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
    EXPECT_EQ(is_plain_file_name(c.name), c.posix);
#ifdef _WIN32
    EXPECT_EQ(windows_file_name(c.name, 1252).has_value(), c.windows);
#endif
  }
}

#ifdef _WIN32
// A listed name is decoded from the ANSI code page before Windows' rules apply: a code page
// given by number runs without its locale. None: not a plain file name there.
TEST(EntryNames, WindowsNamesAreDecodedOnceStrictly) {
  struct Case {
    unsigned code_page;
    std::string name;
    std::optional<std::wstring> decoded;
  };
  for (const Case& c : {
           // A lead byte before the dot: no character of these code pages (a best-fit decode
           // would join the two, and the name would lose its ".sfx").
           Case{932, "x\x81.sfx", std::nullopt}, Case{936, "x\x81.sfx", std::nullopt},
           Case{949, "x\x81.sfx", std::nullopt}, Case{950, "x\x81.sfx", std::nullopt},
           Case{932, "\x83\x65\x83\x58\x83\x67.sfx", L"\u30c6\u30b9\u30c8.sfx"},
           Case{936, "x\x81\x40.sfx", L"x\u4e02.sfx"},
           // Half-width katakana in 932, where 1252 has a superscript one.
           Case{932, "COM\xb9.sfx", L"COM\uff79.sfx"}, Case{1252, "COM\xb9.sfx", std::nullopt},
           Case{1252, "lpt\xb3.x.sfx", std::nullopt},
           Case{1252, "\xe9t\xe9.sfx", L"\u00e9t\u00e9.sfx"},
           // UTF-8: superscripts as characters, and byte sequences that are not UTF-8.
           Case{65001, "COM\xc2\xb9.sfx", std::nullopt},
           Case{65001, "lpt\xc2\xb2 .sfx", std::nullopt},
           Case{1252, "COM\xc2\xb9.sfx", L"COM\u00c2\u00b9.sfx"},
           Case{65001, "caf\xc3\xa9.sfx", L"caf\u00e9.sfx"}, Case{65001, "\xff.sfx", std::nullopt},
           Case{65001, "\xc0\xae.sfx", std::nullopt}, Case{65001, "COM\xb9.sfx", std::nullopt},
           // The extension as decoded, case distinguished.
           Case{1252, "boom.SFX", std::nullopt}, Case{1252, "boom.sfx.bak", std::nullopt},
       }) {
    SCOPED_TRACE(std::to_string(c.code_page) + " " + c.name);
    EXPECT_EQ(windows_file_name(c.name, c.code_page), c.decoded);
  }
}
#endif

}  // namespace
}  // namespace sfx
