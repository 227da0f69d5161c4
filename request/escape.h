// Escaping of request texts.
//
// The builder escapes by replacing single characters with fixed texts, table
// by table: Table A turns the structural "&" and "=" of the canonical query
// into their escaped forms, SignEscapes gives the double-escaped forms of the
// string to sign, SignatureEscapes makes the Base64 signature safe in a query,
// and UrlEscapes gives the single-escaped forms of the query that is sent.
// Every other byte passes those tables unchanged.
//
// The tables only know eight punctuation characters. A user value holding any
// other character that a URL cannot carry as it is (a space, "%", "+", "*",
// "&", "=", a control byte, non-ASCII text...) is instead encoded the way the
// service canonicalises it: each byte outside A-Z a-z 0-9 - _ . ~ becomes %XX
// with upper-case hex, once for the sent query and twice for the string to
// sign. A value made only of unreserved characters and table characters is
// left to the tables, which give the same bytes.
//
// Stateless; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrune::request {

struct EscapeRule {
  char ch;
  std::string_view replacement;
};

// A table of rules, applied in order, with a byte index for one-pass use.
struct EscapeTable {
  std::span<const EscapeRule> rules;
  std::array<std::uint8_t, 256> rule_of{};  // rule index + 1; 0 passes unchanged

  constexpr std::size_t size() const { return rules.size(); }
  constexpr const EscapeRule& operator[](std::size_t i) const { return rules[i]; }
};

constexpr EscapeTable MakeEscapeTable(std::span<const EscapeRule> rules) {
  EscapeTable table{rules};
  for (std::size_t i = rules.size(); i-- > 0;) {
    table.rule_of[static_cast<unsigned char>(rules[i].ch)] = static_cast<std::uint8_t>(i + 1);
  }
  return table;
}

inline constexpr EscapeRule kTableARules[] = {{'&', "%26"}, {'=', "%3D"}};
inline constexpr EscapeRule kSignEscapeRules[] = {
    {'[', "%255B"}, {'"', "%2522"}, {']', "%255D"}, {'{', "%257B"},
    {'}', "%257D"}, {':', "%253A"}, {',', "%252C"}, {'/', "%252F"},
};
inline constexpr EscapeRule kSignatureEscapeRules[] = {
    {'+', "%2B"}, {'*', "%2A"}, {'~', "%7E"}, {'/', "%2F"}, {'=', "%3D"},
};
inline constexpr EscapeRule kUrlEscapeRules[] = {
    {'[', "%5B"}, {'"', "%22"}, {']', "%5D"}, {'{', "%7B"},
    {'}', "%7D"}, {':', "%3A"}, {',', "%2C"}, {'/', "%2F"},
};

// Structural separators of the canonical query, applied before "GET&%2F&" is
// put in front.
inline constexpr EscapeTable kTableA = MakeEscapeTable(kTableARules);
// The string to sign: double-escaped forms.
inline constexpr EscapeTable kSignEscapes = MakeEscapeTable(kSignEscapeRules);
// The Base64 signature, made safe for the query.
inline constexpr EscapeTable kSignatureEscapes = MakeEscapeTable(kSignatureEscapeRules);
// Table A and SignEscapes in one table. Neither table's replacements hold a
// character of the other, so one pass with it equals Table A followed by
// SignEscapes.
inline constexpr EscapeRule kCanonicalQueryRules[] = {
    {'&', "%26"},   {'=', "%3D"},   {'[', "%255B"}, {'"', "%2522"}, {']', "%255D"},
    {'{', "%257B"}, {'}', "%257D"}, {':', "%253A"}, {',', "%252C"}, {'/', "%252F"},
};
inline constexpr EscapeTable kCanonicalQueryEscapes = MakeEscapeTable(kCanonicalQueryRules);
// The query that is sent: single-escaped forms.
inline constexpr EscapeTable kUrlEscapes = MakeEscapeTable(kUrlEscapeRules);

// Replaces every occurrence of `ch` in `text` by `replacement`; returns the
// new length. Requires that `replacement` does not contain `ch`.
std::size_t ReplaceChar(std::string& text, char ch, std::string_view replacement);
// Applies the rules of a table in order. No replacement text holds a character
// of another rule, so one left-to-right pass gives the same result.
void ApplyEscapes(std::string& text, const EscapeTable& table);
// Appends `text` to `out` with the rules of `table` applied.
void AppendEscaped(std::string& out, std::string_view text, const EscapeTable& table);

// True for A-Z a-z 0-9 - _ . ~, the bytes the service never encodes.
constexpr bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}
// True when every byte of `text` is unreserved or one of the characters the
// sign and URL tables replace, so the tables alone escape it correctly.
bool TablesCover(std::string_view text);
// The service's canonical encoding: every byte outside the unreserved set as
// %XX, upper-case hex.
std::string PercentEncode(std::string_view text);

// The two texts a request is escaped for.
enum class EscapeForm {
  kSign,  // the string to sign: user text encoded twice
  kSend,  // the query that is sent: user text encoded once
};

// Appends the form of one user-supplied component (a parameter name or value)
// that the tables will turn into the right bytes: the component itself when
// TablesCover it, else its canonical encoding (applied twice for kSign) —
// which the tables leave alone.
void AppendUserComponent(std::string& out, std::string_view component, EscapeForm form);

}  // namespace kestrune::request
