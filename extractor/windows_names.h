// Windows' rules for an output name, on the name as Windows has it (UTF-16, decoded from the
// ANSI code page): plain rules on text, so they run and are tested on every platform. Every
// file call then uses the \\?\ form of the path, which turns off Windows' own handling of
// device names, trailing dots and spaces and '/': these rules are complete without it.
#pragma once

#include <string_view>

namespace sfx {

// Whether `name` may be an output's name on Windows: it still ends in ".sfx" (a double-byte
// code page can join a byte with the dot that follows it); it holds none of < > : " / \ | ?
// * nor a control character (U+0000-U+001F, U+007F-U+009F); and it is no device name (CON,
// PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT with a digit 0-9 or a superscript 1, 2 or 3),
// in any case, before any extension and trailing spaces.
bool is_windows_file_name(std::u16string_view name);

}  // namespace sfx
