#include "extractor/windows_names.h"

namespace sfx {
namespace {

char16_t upper_ascii(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

bool equals_ignoring_ascii_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper_ascii(a[i]) != upper_ascii(b[i])) return false;
  }
  return true;
}

// Windows takes these names, before any extension and trailing blanks, as devices.
bool is_device_name(std::u16string_view stem) {
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  for (std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (equals_ignoring_ascii_case(stem, device)) return true;
  }
  if (stem.size() != 4) return false;
  const char16_t digit = stem[3];
  const bool is_digit = (digit >= u'0' && digit <= u'9') || digit == u'\u00b9' ||
                        digit == u'\u00b2' || digit == u'\u00b3';
  const std::u16string_view prefix = stem.substr(0, 3);
  return is_digit &&
         (equals_ignoring_ascii_case(prefix, u"COM") || equals_ignoring_ascii_case(prefix, u"LPT"));
}

bool is_control(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool has_character_windows_forbids(std::u16string_view name) {
  for (const char16_t c : name) {
    if (is_control(c) || std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool is_windows_file_name(std::u16string_view name) {
  constexpr std::u16string_view kExtension = u".sfx";
  return name.size() >= kExtension.size() &&
         name.substr(name.size() - kExtension.size()) == kExtension &&
         !has_character_windows_forbids(name) &&
         !is_device_name(name.substr(0, name.find(u'.')));
}

}  // namespace sfx
