// POSIX side of the display-text seam: GBK through the C library's iconv.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/ascii.h"
#include "core/utf8.h"
#include "report/display_text.h"

namespace kestrune::report {
namespace {

std::string Utf8ToGbk(std::string_view utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // A C library without GBK tables: keep ASCII, mark everything else.
    std::string out;
    for (std::size_t pos = 0; pos < utf8.size();) {
      char32_t cp = 0;
      std::size_t length = core::DecodeUtf8(utf8.substr(pos), cp);
      out += (length == 1) ? static_cast<char>(cp) : '?';
      pos += length == 0 ? core::IllFormedUtf8Length(utf8.substr(pos)) : length;
    }
    return out;
  }
  std::string out;
  out.reserve(utf8.size());
  char buffer[256];
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char* in = const_cast<char*>(utf8.data() + pos);
    std::size_t in_left = utf8.size() - pos;
    char* next = buffer;
    std::size_t out_left = sizeof buffer;
    std::size_t done = iconv(cd, &in, &in_left, &next, &out_left);
    int error = errno;
    out.append(buffer, static_cast<std::size_t>(next - buffer));
    pos = utf8.size() - in_left;
    if (done != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    // EILSEQ or EINVAL: a character GBK lacks, or bytes that are not UTF-8.
    out += '?';
    char32_t cp = 0;
    std::size_t length = core::DecodeUtf8(utf8.substr(pos), cp);
    pos += length == 0 ? core::IllFormedUtf8Length(utf8.substr(pos)) : length;
  }
  iconv_close(cd);
  return out;
}

bool NamesGbk(std::string_view locale) {
  const std::string lower = core::LowerAscii(locale);
  for (std::string_view name : {"gbk", "gb2312", "gb18030", "cp936"}) {
    if (lower.find(name) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::string DisplayText::Convert(std::string_view utf8) const {
  if (encoding_ == DisplayEncoding::kGbk) return Utf8ToGbk(utf8);
  return std::string(utf8);
}

DisplayEncoding TerminalDisplayEncoding() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      return NamesGbk(value) ? DisplayEncoding::kGbk : DisplayEncoding::kUtf8;
    }
  }
  return DisplayEncoding::kUtf8;
}

}  // namespace kestrune::report
