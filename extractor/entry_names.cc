#include "extractor/entry_names.h"

#include <cctype>

namespace sfx {
namespace {

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

// Windows takes these names, before any extension and trailing blanks, as devices. The
// digits include the superscripts 1, 2 and 3 (0xB9, 0xB2, 0xB3 in the ANSI code page).
bool is_windows_device_name(std::string_view stem) {
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (equals_ignoring_case(stem, device)) return true;
  }
  if (stem.size() != 4) return false;
  const auto digit = static_cast<unsigned char>(stem[3]);
  const bool is_digit = (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 ||
                        digit == 0xB3;
  const std::string_view prefix = stem.substr(0, 3);
  return is_digit && (equals_ignoring_case(prefix, "COM") || equals_ignoring_case(prefix, "LPT"));
}

// Characters that Windows never allows in a file name (the backslash too, but an output
// name is what follows the path's last one).
bool has_character_windows_forbids(std::string_view name) {
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string_view extension_of(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
}

bool is_selected(std::string_view path) { return extension_of(path) == "sfx"; }

std::string_view output_name_of(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool is_plain_file_name(std::string_view name, NameRules rules) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
    return false;
  }
  if (rules == NameRules::posix) return true;
  if (has_character_windows_forbids(name)) return false;
  return !is_windows_device_name(name.substr(0, name.find('.')));
}

}  // namespace sfx
