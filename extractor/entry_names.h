// What the run takes from an entry's path: the extension that selects it, the name of its
// output file, and whether that name is safe to create in the output folder.
#pragma once

#include <string_view>

namespace sfx {

// The characters after the last '.' of `path`; empty when it has no '.'.
std::string_view extension_of(std::string_view path);
// Whether the entry is extracted: its extension is "sfx", case distinguished.
bool is_selected(std::string_view path);
// The characters after the last '\' of `path`; the whole path when it has none.
std::string_view output_name_of(std::string_view path);

enum class NameRules { posix, windows };
#ifdef _WIN32
constexpr NameRules kHostNameRules = NameRules::windows;
#else
constexpr NameRules kHostNameRules = NameRules::posix;
#endif

// Whether `name` names a file directly inside the current folder under `rules`: no '/' or
// NUL; for Windows also none of < > : " | ? * or bytes 0x01-0x1F, and no device name
// (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, COM and LPT with a superscript
// digit, in any case) before the first '.'.
bool is_plain_file_name(std::string_view name, NameRules rules = kHostNameRules);

}  // namespace sfx
