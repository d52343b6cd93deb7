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
// The character that `bytes` begins with in `code_page`, decoded as decoded() does: how many
// bytes it takes (0 when none begins there: a byte that stands for no character, or a lead
// byte without a trail byte that completes it) and its code point. Walking a text by it
// reads the text as Windows does: in a double-byte code page a 0x5C byte may be the second
// half of a character, not a '\'.
struct CodePageCharacter {
  std::size_t length = 0;
  char32_t code = 0;
};
CodePageCharacter character_at(std::string_view bytes, unsigned code_page);
// The full path of `path` (ANSI code page; "" for the current folder) in the \\?\ form,
// which the wide calls take past MAX_PATH and exactly as it stands: no device names, no
// trailing dots or spaces dropped, no '/' read as a separator. Only checked names may be
// appended to it. "" when it cannot be had.
std::wstring long_path(std::string_view path);
// The identity in what GetFileInformationByHandle gives.
FileIdentity identity_of_information(const BY_HANDLE_FILE_INFORMATION& info);
// The 128-bit identity of the open file `handle` (FileIdInfo); none, with GetLastError(),
// when the system does not give it.
std::optional<FileIdentity> file_id_of(HANDLE handle);

}  // namespace sfx
