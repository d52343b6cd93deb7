// What the Windows code shares beyond common/file.h: names in the UTF-16 that the wide calls
// take, paths in the form that has no length limit, and file identities. Windows only.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "common/file.h"

namespace sfx {

// `bytes` decoded from `code_page` into UTF-16, strictly: none when a byte sequence stands
// for no character there (MB_ERR_INVALID_CHARS; never a replacement character).
std::optional<std::wstring> decoded(std::string_view bytes, unsigned code_page = CP_ACP);
// The full path of `path` (ANSI code page; "" for the current folder) in the \\?\ form,
// which the wide calls take past MAX_PATH and exactly as it stands: no device names, no
// trailing dots or spaces dropped, no '/' read as a separator. Only checked names may be
// appended to it. "" when it cannot be had.
std::wstring long_path(std::string_view path);
// The identity in what GetFileInformationByHandle gives.
FileIdentity identity_of_information(const BY_HANDLE_FILE_INFORMATION& info);

}  // namespace sfx
