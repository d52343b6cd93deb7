// Output names as Windows takes them: the one place where a listed name becomes a Windows
// name. It is decoded once, strictly, from the ANSI code page into the UTF-16 of the wide
// calls, and Windows' rules are checked on the decoded name, since a double-byte code page
// can join a byte with the dot that follows it. Every call then uses the \\?\ form of the
// path, which turns off Windows' own handling of device names, trailing dots and spaces and
// '/': these rules are complete without it. Windows only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sfx {

// `name` decoded from `code_page` (CP_ACP for the ANSI calls' own), when it is a plain file
// name under Windows' rules: it still ends in ".sfx"; it holds none of < > : " / \ | ? * or
// U+0000-U+001F; and it is no device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT
// with a digit 0-9 or a superscript 1, 2 or 3), in any case, before any extension and
// trailing spaces. None when it does not decode or breaks a rule.
std::optional<std::wstring> windows_file_name(std::string_view name, unsigned code_page);

}  // namespace sfx
