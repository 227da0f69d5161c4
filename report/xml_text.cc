#include "report/xml_text.h"

#include "core/utf8.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kestrune::report {
namespace {

// Decodes the body of "&#...;" (without "&#" and ";"); false when it names no
// character.
bool ParseCharacterReference(std::string_view body, std::uint32_t* cp) {
  unsigned base = 10;
  if (!body.empty() && (body[0] == 'x' || body[0] == 'X')) {
    base = 16;
    body.remove_prefix(1);
  }
  if (body.empty()) return false;
  std::uint32_t value = 0;
  for (char c : body) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * base + digit;
    if (value > 0x10FFFF) return false;
  }
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *cp = value;
  return true;
}

// Longest reference worth looking at: "&#x10FFFF;" with some leading zeros.
constexpr std::size_t kLongestReference = 16;

bool IsNameEnd(char c) {
  return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Position just behind the first `terminator` at or after `from`, or npos.
std::size_t SkipPast(std::string_view text, std::size_t from, std::string_view terminator) {
  std::size_t at = text.find(terminator, from);
  return at == std::string_view::npos ? at : at + terminator.size();
}

// Position of the '>' that closes the tag starting at `from`, honouring quoted
// attribute values; npos when the tag does not end.
std::size_t TagEnd(std::string_view text, std::size_t from) {
  char quote = 0;
  for (std::size_t i = from; i < text.size(); ++i) {
    char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return std::string_view::npos;
}

// True when `text` at `at` holds "</name" followed by optional blanks and
// ">"; `*after` is then the position behind the '>'.
bool IsEndTagOf(std::string_view text, std::size_t at, std::string_view name, std::size_t* after) {
  if (text.compare(at, 2, "</") != 0) return false;
  std::size_t pos = at + 2;
  if (text.compare(pos, name.size(), name) != 0) return false;
  pos += name.size();
  while (pos < text.size() &&
         (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' || text[pos] == '\n')) {
    ++pos;
  }
  if (pos >= text.size() || text[pos] != '>') return false;
  *after = pos + 1;
  return true;
}

}  // namespace

std::string DecodeXmlText(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  AppendDecodedXmlText(out, raw);
  return out;
}

void AppendDecodedXmlText(std::string& out, std::string_view raw) {
  std::size_t pos = 0;
  while (pos < raw.size()) {
    std::size_t amp = raw.find('&', pos);
    if (amp == std::string_view::npos) break;
    out.append(raw.substr(pos, amp - pos));
    std::size_t semicolon = raw.substr(amp, kLongestReference).find(';');
    bool decoded = false;
    if (semicolon != std::string_view::npos) {
      std::string_view body = raw.substr(amp + 1, semicolon - 1);
      std::uint32_t cp = 0;
      decoded = true;
      if (body == "lt") {
        out += '<';
      } else if (body == "gt") {
        out += '>';
      } else if (body == "amp") {
        out += '&';
      } else if (body == "quot") {
        out += '"';
      } else if (body == "apos") {
        out += '\'';
      } else if (body.size() > 1 && body[0] == '#' &&
                 ParseCharacterReference(body.substr(1), &cp)) {
        core::AppendUtf8(static_cast<char32_t>(cp), out);
      } else {
        decoded = false;
      }
    }
    if (decoded) {
      pos = amp + semicolon + 1;
    } else {
      out += '&';
      pos = amp + 1;
    }
  }
  if (pos < raw.size()) out.append(raw.substr(pos));
}

std::size_t ForEachLeaf(std::string_view document,
                        const std::function<void(const XmlLeaf&)>& visit) {
  std::size_t count = 0;
  std::size_t pos = 0;
  std::vector<std::string_view> open_elements;
  while (pos < document.size()) {
    std::size_t open = document.find('<', pos);
    if (open == std::string_view::npos) break;
    std::string_view rest = document.substr(open);
    if (rest.starts_with("<?")) {
      pos = SkipPast(document, open + 2, "?>");
    } else if (rest.starts_with("<!--")) {
      pos = SkipPast(document, open + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      pos = SkipPast(document, open + 9, "]]>");
    } else if (rest.starts_with("</")) {
      std::size_t name_end = open + 2;
      while (name_end < document.size() && !IsNameEnd(document[name_end])) ++name_end;
      // A stray end tag closes nothing; one that skips open elements closes
      // them too.
      const auto closed = std::find(open_elements.rbegin(), open_elements.rend(),
                                    document.substr(open + 2, name_end - open - 2));
      if (closed != open_elements.rend())
        open_elements.erase(std::prev(closed.base()), open_elements.end());
      pos = SkipPast(document, open + 2, ">");
    } else if (rest.starts_with("<!")) {
      pos = SkipPast(document, open + 2, ">");
    } else {
      std::size_t name_end = open + 1;
      while (name_end < document.size() && !IsNameEnd(document[name_end])) ++name_end;
      std::string_view name = document.substr(open + 1, name_end - open - 1);
      std::size_t close = TagEnd(document, name_end);
      if (close == std::string_view::npos) break;
      if (name.empty()) {
        pos = close + 1;
        continue;
      }
      if (document[close - 1] == '/') {
        visit(XmlLeaf{name, {}, open_elements});
        ++count;
        pos = close + 1;
        continue;
      }
      std::size_t content = close + 1;
      std::size_t next = document.find('<', content);
      std::size_t after = 0;
      if (next != std::string_view::npos && IsEndTagOf(document, next, name, &after)) {
        visit(XmlLeaf{name, document.substr(content, next - content), open_elements});
        ++count;
        pos = after;
      } else {
        open_elements.push_back(name);
        pos = content;
      }
    }
    if (pos == std::string_view::npos) break;
  }
  return count;
}

}  // namespace kestrune::report
