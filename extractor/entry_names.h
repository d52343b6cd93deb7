// What the run takes from an entry's path: the extension that selects it, and the name of
// its output file as the platform reads the path, with whether that name may be created.
#pragma once

#include <string>
#include <string_view>

namespace sfx {

// The characters after the last '.' of `path`; empty when it has no '.'.
std::string_view extension_of(std::string_view path);
// Whether the entry is extracted: its extension is "sfx", case distinguished.
bool is_selected(std::string_view path);

#ifdef _WIN32
using NativeName = std::wstring;  // UTF-16, as the wide calls take it
#else
using NativeName = std::string;  // bytes, as the system calls take them
#endif

// An output's name: its bytes as listed, which the report line and diagnostics show, and
// the name as the platform's file calls take it, converted once.
struct OutputName {
  std::string_view listed;
  NativeName native;
};

// The output name of the selected `path`: what follows its last '\'. On POSIX the path is
// bytes and the name is the bytes after the last 0x5C. On Windows the path is read in the
// ANSI code page, character by character, so that a 0x5C that is the second byte of a
// double-byte character is no separator, and the name is decoded once, strictly; a path
// that does not decode keeps the bytes after its last 0x5C as its listed name. `why_not`
// is set when the entry must not be extracted: the path does not decode, or the name is no
// plain file name here (is_plain_file_name; on Windows is_windows_file_name too); `native`
// is then empty.
OutputName output_name_of(std::string_view path, std::string& why_not);
#ifdef _WIN32
// The same, with the path read in `code_page`.
OutputName output_name_of(std::string_view path, unsigned code_page, std::string& why_not);
#endif

// Whether `name` names a file directly inside the current folder on every platform: not
// empty, "." or "..", and no '/' or NUL.
bool is_plain_file_name(std::string_view name);

}  // namespace sfx
