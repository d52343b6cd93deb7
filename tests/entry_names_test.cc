#include "extractor/entry_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/diagnostics.h"
#include "extractor/windows_names.h"

#ifdef _WIN32
#include "common/file_windows.h"
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
    std::string why_not;
    EXPECT_EQ(output_name_of(c.path, why_not).listed, c.output_name);
  }
}

// The name as code page 1252 decodes it, for the rows below: each byte the character of
// its own number, as 1252 decodes every byte outside 0x80-0x9F and its undefined 0x81, 0x8D,
// 0x8F, 0x90 and 0x9D.
std::u16string as_latin1(const std::string& bytes) {
  std::u16string text;
  for (const char c : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(c));
  return text;
}

// `posix`: the rule of every platform; `windows`: Windows' rules on the name decoded from
// code page 1252, which must refuse on their own what the portable rule refuses (the wide
// calls take the name as it stands). Both run on every platform; the Windows builds also
// decode each name with the system's decoder.
TEST(EntryNames, PlainFileNameRules) {
  struct Case {
    std::string name;
    bool posix;
    bool windows;
  };
  for (const Case& c : {
           Case{"boom.sfx", true, true}, Case{".sfx", true, true},
           Case{"\xe9t\xe9.sfx", true, true}, Case{"a b$&%#!'.sfx", true, true},
           Case{"a\xa0\xff.sfx", true, true},
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
           // Characters Windows never allows in a name, control characters among them: C0,
           // DEL, and the C1 characters that 1252 gives its undefined bytes.
           Case{"c:evil.sfx", true, false}, Case{"a<b.sfx", true, false},
           Case{"a>b.sfx", true, false}, Case{"a\"b.sfx", true, false},
           Case{"a|b.sfx", true, false}, Case{"a?b.sfx", true, false},
           Case{"a*b.sfx", true, false}, Case{"a\x01" "b.sfx", true, false},
           Case{"a\tb.sfx", true, false}, Case{"a\x1f" "b.sfx", true, false},
           Case{"a\x7f\xa0.sfx", true, false}, Case{"a\x81.sfx", true, false},
           Case{"a\x8d.sfx", true, false}, Case{"a\x8f.sfx", true, false},
           Case{"a\x90.sfx", true, false}, Case{"a\x9d.sfx", true, false},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_plain_file_name(c.name), c.posix);
    EXPECT_EQ(is_windows_file_name(as_latin1(c.name)), c.windows);
    EXPECT_TRUE(c.posix || !c.windows) << "the Windows rules must refuse it on their own";
#ifdef _WIN32
    std::string why_not;
    const OutputName name = output_name_of(c.name, 1252, why_not);
    EXPECT_EQ(why_not.empty(), c.windows) << why_not;
    if (c.windows) {
      EXPECT_EQ(std::u16string(name.native.begin(), name.native.end()), as_latin1(c.name));
    }
#endif
  }
}

// Names as a terminal is shown them: every control character, and every byte that begins
// no character, as \xNN of its bytes; the rest as it stands.
TEST(EntryNames, PrintableNames) {
  struct Case {
    unsigned code_page;  // 0: as POSIX reads text (UTF-8)
    std::string name;
    std::string shown;
  };
  for (const Case& c : {
#ifndef _WIN32
           Case{0, "boom.sfx", "boom.sfx"},
           Case{0, "\x1b]0;pwned\x07\x1b[31mred.sfx", "\\x1b]0;pwned\\x07\\x1b[31mred.sfx"},
           Case{0, "a\xc2\x9b" "1m.sfx", "a\\xc2\\x9b1m.sfx"},  // CSI as a UTF-8 C1
           Case{0, "a\x9b" "1m.sfx", "a\\x9b1m.sfx"},           // CSI to an 8-bit terminal
           Case{0, "a\x7f\xc2\xa0.sfx", "a\\x7f\xc2\xa0.sfx"},
           Case{0, "caf\xc3\xa9\xe8\xa1\xa8\xf0\x9f\x8e\xb5.sfx",
                "caf\xc3\xa9\xe8\xa1\xa8\xf0\x9f\x8e\xb5.sfx"},
           Case{0, "\xe9t\xe9.sfx", "\\xe9t\\xe9.sfx"},         // Latin-1, not UTF-8
           Case{0, "\xc0\xae\xed\xa0\x80\xf4\x90\x80\x80.sfx",  // overlong, surrogate, too high
                "\\xc0\\xae\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80.sfx"},
           Case{0, "a\xe2\x82.sfx\xe2", "a\\xe2\\x82.sfx\\xe2"},  // cut short
#else
           Case{1252, "\x1b[31mred\xe9.sfx", "\\x1b[31mred\xe9.sfx"},
           Case{1252, "a\x81\x9d\x80.sfx", "a\\x81\\x9d\x80.sfx"},  // C1; 0x80 is the euro sign
           // A lead byte cannot swallow the escape after it: 0x83 0x1B is no character.
           Case{932, "a\x83\x1b.sfx", "a\\x83\\x1b.sfx"},
           Case{932, "\x83\x5c\x95\x5c.sfx", "\x83\x5c\x95\x5c.sfx"},
           Case{932, "a\x81", "a\\x81"}, Case{936, "a\x9b" "1m.sfx", "a\\x9b1m.sfx"},
           Case{65001, "a\xc2\x9b\xc3\xa9\xe9.sfx", "a\\xc2\\x9b\xc3\xa9\\xe9.sfx"},
#endif
       }) {
    SCOPED_TRACE(std::to_string(c.code_page) + " " + c.name);
#ifdef _WIN32
    EXPECT_EQ(printable(c.name, c.code_page), c.shown);
#else
    EXPECT_EQ(printable(c.name), c.shown);
#endif
  }
}

#ifdef _WIN32
// A listed path is read in the ANSI code page before it is split: a 0x5C byte that is the
// second half of a double-byte character is no separator. The name is then decoded once,
// strictly, before Windows' rules apply; a path that does not decode is not extracted and
// shows the bytes after its last 0x5C. A code page given by number runs without its locale.
TEST(EntryNames, WindowsPathsAreReadInTheCodePage) {
  struct Case {
    unsigned code_page;
    std::string path;
    std::string listed;
    std::optional<std::wstring> native;  // none: not extracted
    bool decodes = true;
  };
  for (const Case& c : {
           // 0x5C as a trail byte: 932 表 and ソ, 936 昞 and 僜, 950 許 and 功.
           Case{932, "snd\\\x95\x5c.sfx", "\x95\x5c.sfx", L"\u8868.sfx"},
           Case{936, "snd\\\x95\x5c.sfx", "\x95\x5c.sfx", L"\u661e.sfx"},
           Case{932, "snd\\\x83\x5c.sfx", "\x83\x5c.sfx", L"\u30bd.sfx"},
           Case{936, "snd\\\x83\x5c.sfx", "\x83\x5c.sfx", L"\u50dc.sfx"},
           Case{932, "snd\\\x95\x5c\x8e\xa6.sfx", "\x95\x5c\x8e\xa6.sfx", L"\u8868\u793a.sfx"},
           Case{950, "snd\\\xb3\x5c.sfx", "\xb3\x5c.sfx", L"\u8a31.sfx"},
           Case{950, "snd\\\xa5\x5c.sfx", "\xa5\x5c.sfx", L"\u529f.sfx"},
           Case{1252, "snd\\\x95\\a.sfx", "a.sfx", L"a.sfx"},
           // A folder's last byte joins the separator into one name.
           Case{932, "snd\x95\\a.sfx", "snd\x95\\a.sfx", L"snd\u8868a.sfx"},
           Case{936, "snd\x95\\a.sfx", "snd\x95\\a.sfx", L"snd\u661ea.sfx"},
           // A lead byte before the dot: no character of these code pages (a best-fit decode
           // would join the two, and the name would lose its ".sfx").
           Case{932, "x\x81.sfx", "x\x81.sfx", std::nullopt, false},
           Case{936, "x\x81.sfx", "x\x81.sfx", std::nullopt, false},
           Case{949, "x\x81.sfx", "x\x81.sfx", std::nullopt, false},
           Case{950, "x\x81.sfx", "x\x81.sfx", std::nullopt, false},
           Case{932, "d\\\xa0\\a.sfx", "a.sfx", std::nullopt, false},
           Case{932, "\x83\x65\x83\x58\x83\x67.sfx", "\x83\x65\x83\x58\x83\x67.sfx",
                L"\u30c6\u30b9\u30c8.sfx"},
           Case{936, "x\x81\x40.sfx", "x\x81\x40.sfx", L"x\u4e02.sfx"},
           // Half-width katakana in 932, where 1252 has a superscript one.
           Case{932, "COM\xb9.sfx", "COM\xb9.sfx", L"COM\uff79.sfx"},
           Case{1252, "COM\xb9.sfx", "COM\xb9.sfx", std::nullopt},
           Case{1252, "lpt\xb3.x.sfx", "lpt\xb3.x.sfx", std::nullopt},
           Case{1252, "\xe9t\xe9.sfx", "\xe9t\xe9.sfx", L"\u00e9t\u00e9.sfx"},
           // 1252's undefined bytes decode to C1 controls, which no name holds.
           Case{1252, "a\\a\x81.sfx", "a\x81.sfx", std::nullopt},
           // UTF-8: superscripts as characters, and byte sequences that are not UTF-8.
           Case{65001, "COM\xc2\xb9.sfx", "COM\xc2\xb9.sfx", std::nullopt},
           Case{65001, "lpt\xc2\xb2 .sfx", "lpt\xc2\xb2 .sfx", std::nullopt},
           Case{1252, "COM\xc2\xb9.sfx", "COM\xc2\xb9.sfx", L"COM\u00c2\u00b9.sfx"},
           Case{65001, "caf\xc3\xa9.sfx", "caf\xc3\xa9.sfx", L"caf\u00e9.sfx"},
           Case{65001, "\xff.sfx", "\xff.sfx", std::nullopt, false},
           Case{65001, "\xc0\xae.sfx", "\xc0\xae.sfx", std::nullopt, false},
           Case{65001, "COM\xb9.sfx", "COM\xb9.sfx", std::nullopt, false},
           // The extension as decoded, case distinguished.
           Case{1252, "boom.SFX", "boom.SFX", std::nullopt},
           Case{1252, "boom.sfx.bak", "boom.sfx.bak", std::nullopt},
       }) {
    SCOPED_TRACE(std::to_string(c.code_page) + " " + c.path);
    std::string why_not;
    const OutputName name = output_name_of(c.path, c.code_page, why_not);
    EXPECT_EQ(name.listed, c.listed);
    if (c.native) {
      EXPECT_EQ(why_not, "");
      EXPECT_EQ(name.native, *c.native);
    } else {
      EXPECT_EQ(why_not, c.decodes ? "not a plain file name"
                                   : "path does not decode in code page " +
                                         std::to_string(c.code_page));
    }
  }
}

// Paths in the form every file call takes, past MAX_PATH and as they stand.
TEST(WindowsPaths, LongPathForms) {
  wchar_t current[32768];
  const DWORD length = GetCurrentDirectoryW(32768, current);
  ASSERT_GT(length, 0u);
  const std::wstring folder(current, length);  // no '\\' at its end but at a drive's root
  const std::wstring here = folder.back() == L'\\' ? folder : folder + L'\\';
  struct Case {
    std::string path;
    std::wstring long_form;
  };
  for (const Case& c : {
           Case{"\\\\?\\C:\\a\\b", L"\\\\?\\C:\\a\\b"},  // kept as it stands
           Case{"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
           Case{"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
           Case{"C:\\a\\..\\b.sfx", L"\\\\?\\C:\\b.sfx"},
           Case{"C:/a/b", L"\\\\?\\C:\\a\\b"},
           Case{"x\\y", L"\\\\?\\" + here + L"x\\y"},
           Case{"", L"\\\\?\\" + folder},
       }) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(long_path(c.path), c.long_form);
  }
}
#endif

}  // namespace
}  // namespace sfx
