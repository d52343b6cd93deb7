#include "extractor/windows_names.h"

#include "common/file_windows.h"

namespace sfx {
namespace {

wchar_t upper_ascii(wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; }

bool equals_ignoring_ascii_case(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper_ascii(a[i]) != upper_ascii(b[i])) return false;
  }
  return true;
}

// Windows takes these names, before any extension and trailing blanks, as devices.
bool is_device_name(std::wstring_view stem) {
  while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
  for (std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (equals_ignoring_ascii_case(stem, device)) return true;
  }
  if (stem.size() != 4) return false;
  const wchar_t digit = stem[3];
  const bool is_digit = (digit >= L'0' && digit <= L'9') || digit == L'\u00b9' ||
                        digit == L'\u00b2' || digit == L'\u00b3';
  const std::wstring_view prefix = stem.substr(0, 3);
  return is_digit &&
         (equals_ignoring_ascii_case(prefix, L"COM") || equals_ignoring_ascii_case(prefix, L"LPT"));
}

bool has_character_windows_forbids(std::wstring_view name) {
  for (const wchar_t c : name) {
    if (c < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::wstring> windows_file_name(std::string_view name, unsigned code_page) {
  std::optional<std::wstring> wide = decoded(name, code_page);
  constexpr std::wstring_view kExtension = L".sfx";
  if (!wide || wide->size() < kExtension.size() ||
      wide->compare(wide->size() - kExtension.size(), kExtension.size(), kExtension) != 0 ||
      has_character_windows_forbids(*wide) || is_device_name(wide->substr(0, wide->find(L'.')))) {
    return std::nullopt;
  }
  return wide;
}

}  // namespace sfx
