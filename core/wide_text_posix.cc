// POSIX side of the wide-text seam: wchar_t holds whole code points here, so
// the conversion is UTF-8 decoding and encoding.
#include <string>
#include <string_view>

#include "core/utf8.h"
#include "core/wide_text.h"

namespace kestrune::core {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::wstring ToWide(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    std::size_t length = DecodeUtf8(utf8.substr(pos), cp);
    if (length == 0) {
      out += static_cast<wchar_t>(kReplacement);
      pos += IllFormedUtf8Length(utf8.substr(pos));
    } else {
      out += static_cast<wchar_t>(cp);
      pos += length;
    }
  }
  return out;
}

std::string FromWide(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (wchar_t w : wide) {
    auto cp = static_cast<char32_t>(w);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    AppendUtf8(cp, out);
  }
  return out;
}

}  // namespace kestrune::core
