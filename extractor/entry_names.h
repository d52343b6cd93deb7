// What the run takes from an entry's path: the extension that selects it, the name of its
// output file, and whether that name stays inside the output folder.
#pragma once

#include <string_view>

namespace sfx {

// The characters after the last '.' of `path`; empty when it has no '.'.
std::string_view extension_of(std::string_view path);
// Whether the entry is extracted: its extension is "sfx", case distinguished.
bool is_selected(std::string_view path);
// The characters after the last '\' of `path`; the whole path when it has none.
std::string_view output_name_of(std::string_view path);

// Whether `name` names a file directly inside the current folder on every platform: not
// empty, "." or "..", and no '/' or NUL. Windows adds rules of its own on the decoded name
// (windows_names.h).
bool is_plain_file_name(std::string_view name);

}  // namespace sfx
