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

bool is_windows_device_name(std::string_view stem) {
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL"}) {
    if (equals_ignoring_case(stem, device)) return true;
  }
  if (stem.size() != 4 || stem[3] < '1' || stem[3] > '9') return false;
  const std::string_view prefix = stem.substr(0, 3);
  return equals_ignoring_case(prefix, "COM") || equals_ignoring_case(prefix, "LPT");
}

}  // namespace

std::string_view extension_of(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
}

bool is_selected(std::string_view path) {
  return path.rfind('.') != std::string_view::npos && extension_of(path) == "sfx";
}

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
  if (name.find(':') != std::string_view::npos) return false;
  return !is_windows_device_name(name.substr(0, name.find('.')));
}

}  // namespace sfx
