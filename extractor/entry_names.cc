#include "extractor/entry_names.h"

#ifdef _WIN32
#include "common/file_windows.h"
#include "extractor/windows_names.h"
#endif

namespace sfx {

namespace {
constexpr char kNotPlain[] = "not a plain file name";
}  // namespace

std::string_view extension_of(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
}

bool is_selected(std::string_view path) { return extension_of(path) == "sfx"; }

bool is_plain_file_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

#ifdef _WIN32

OutputName output_name_of(std::string_view path, unsigned code_page, std::string& why_not) {
  std::size_t name_at = 0;
  for (std::size_t at = 0; at < path.size();) {
    const CodePageCharacter character = character_at(path.substr(at), code_page);
    if (character.length == 0) {
      why_not = "path does not decode in code page " + std::to_string(code_page);
      return {path.substr(path.rfind('\\') + 1), {}};
    }
    at += character.length;
    if (character.code == U'\\') name_at = at;
  }
  const std::string_view listed = path.substr(name_at);
  std::optional<std::wstring> native = decoded(listed, code_page);
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16");
  const auto utf16 = [](const std::wstring& wide) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
  };
  if (!native || !is_plain_file_name(listed) || !is_windows_file_name(utf16(*native))) {
    why_not = kNotPlain;
    return {listed, {}};
  }
  return {listed, std::move(*native)};
}

OutputName output_name_of(std::string_view path, std::string& why_not) {
  return output_name_of(path, GetACP(), why_not);
}

#else

OutputName output_name_of(std::string_view path, std::string& why_not) {
  const std::string_view listed = path.substr(path.rfind('\\') + 1);
  if (!is_plain_file_name(listed)) {
    why_not = kNotPlain;
    return {listed, {}};
  }
  return {listed, std::string(listed)};
}

#endif

}  // namespace sfx
