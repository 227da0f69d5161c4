#include "request/escape.h"

#include <array>
#include <cstdint>
#include <utility>

namespace kestrune::request {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Bytes that need no encoding before the sign and URL tables run: the
// unreserved ones and the ones the tables replace.
constexpr std::array<bool, 256> MakeCoveredSet() {
  std::array<bool, 256> covered{};
  for (int c = 0; c < 256; ++c) covered[c] = IsUnreserved(static_cast<unsigned char>(c));
  for (const EscapeRule& rule : kUrlEscapeRules) {
    covered[static_cast<unsigned char>(rule.ch)] = true;
  }
  return covered;
}
constexpr std::array<bool, 256> kCovered = MakeCoveredSet();

void AppendPercentEncoded(std::string& out, std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte)) {
      out += c;
    } else {
      out += '%';
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0x0F];
    }
  }
}

}  // namespace

std::size_t ReplaceChar(std::string& text, char ch, std::string_view replacement) {
  std::size_t pos = text.find(ch);
  if (pos == std::string::npos) return text.size();
  std::string replaced;
  replaced.reserve(text.size() + 2 * replacement.size());
  std::size_t start = 0;
  while (pos != std::string::npos) {
    replaced.append(text, start, pos - start);
    replaced += replacement;
    start = pos + 1;
    pos = text.find(ch, start);
  }
  replaced.append(text, start, std::string::npos);
  text = std::move(replaced);
  return text.size();
}

void AppendEscaped(std::string& out, std::string_view text, const EscapeTable& table) {
  EscapingAppender(out, table).Put(text);
}

void ApplyEscapes(std::string& text, const EscapeTable& table) {
  std::string escaped;
  escaped.reserve(text.size() + 32);
  AppendEscaped(escaped, text, table);
  text = std::move(escaped);
}

bool TablesCover(std::string_view text) {
  for (char c : text) {
    if (!kCovered[static_cast<unsigned char>(c)]) return false;
  }
  return true;
}

std::string PercentEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendPercentEncoded(out, text);
  return out;
}

void AppendUserComponent(std::string& out, std::string_view component, EscapeForm form) {
  if (TablesCover(component)) {
    out += component;
  } else if (form == EscapeForm::kSend) {
    AppendPercentEncoded(out, component);
  } else {
    AppendPercentEncoded(out, PercentEncode(component));
  }
}

}  // namespace kestrune::request
