#include "request/escape.h"

#include <utility>

namespace kestrune::request {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsTableCharacter(char c) {
  for (const EscapeRule& rule : kUrlEscapes) {
    if (rule.ch == c) return true;
  }
  return false;
}

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

void ApplyEscapes(std::string& text, std::span<const EscapeRule> table) {
  for (const EscapeRule& rule : table) ReplaceChar(text, rule.ch, rule.replacement);
}

bool TablesCover(std::string_view text) {
  for (char c : text) {
    if (!IsUnreserved(static_cast<unsigned char>(c)) && !IsTableCharacter(c)) return false;
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
