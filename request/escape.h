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
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace kestrune::request {

struct EscapeRule {
  char ch;
  std::string_view replacement;
};

// Every character an escape table may replace. A text without any of them
// passes every table unchanged, so it can be copied as it is.
inline constexpr std::string_view kEscapableCharacters = "&=[\"]{}:,/+*~";

// A table of rules, applied in order, with a byte index for one-pass use.
// Every replacement is at most kMaxReplacement bytes, so each fits a slot
// that is copied whole.
inline constexpr std::size_t kMaxReplacement = 8;

struct EscapeTable {
  std::span<const EscapeRule> rules;
  // What each byte becomes: a byte without a rule stands for itself.
  std::array<std::array<char, kMaxReplacement>, 256> text_of{};
  std::array<std::uint8_t, 256> size_of{};

  constexpr std::size_t size() const { return rules.size(); }
  constexpr const EscapeRule& operator[](std::size_t i) const { return rules[i]; }
};

// Made at compile time only: a replacement too long for a slot does not
// compile.
consteval EscapeTable MakeEscapeTable(std::span<const EscapeRule> rules) {
  EscapeTable table{rules};
  for (std::size_t byte = 0; byte < table.text_of.size(); ++byte) {
    table.text_of[byte][0] = static_cast<char>(byte);
    table.size_of[byte] = 1;
  }
  // From the last rule to the first, so the first rule for a byte wins.
  for (std::size_t i = rules.size(); i-- > 0;) {
    const auto byte = static_cast<unsigned char>(rules[i].ch);
    const std::string_view replacement = rules[i].replacement;
    if (replacement.empty() || replacement.size() > kMaxReplacement) {
      throw "an escape replacement must be 1 to kMaxReplacement bytes long";
    }
    if (kEscapableCharacters.find(rules[i].ch) == std::string_view::npos) {
      throw "an escaped character must be one of kEscapableCharacters";
    }
    replacement.copy(table.text_of[byte].data(), replacement.size());
    table.size_of[byte] = static_cast<std::uint8_t>(replacement.size());
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
// No rule at all: every byte passes unchanged.
inline constexpr EscapeTable kNoEscapes = MakeEscapeTable({});

// Replaces every occurrence of `ch` in `text` by `replacement`; returns the
// new length. Requires that `replacement` does not contain `ch`.
std::size_t ReplaceChar(std::string& text, char ch, std::string_view replacement);
// Applies the rules of a table in order. No replacement text holds a character
// of another rule, so one left-to-right pass gives the same result.
void ApplyEscapes(std::string& text, const EscapeTable& table);
// Appends `text` to `out` with the rules of `table` applied.
void AppendEscaped(std::string& out, std::string_view text, const EscapeTable& table);

// Appends texts to `out` with the rules of a table applied, gathered in a
// local buffer: a text written in dozens of small pieces (the items of a
// query and their separators) costs an append per kilobyte, not per piece.
// `out` is complete once the appender is flushed or destroyed.
class EscapingAppender {
 public:
  // cppcheck-suppress uninitMemberVar ; written before read, clearing it costs more than a join
  EscapingAppender(std::string& out, const EscapeTable& table) : out_(&out), table_(&table) {}
  EscapingAppender(const EscapingAppender&) = delete;
  EscapingAppender& operator=(const EscapingAppender&) = delete;
  ~EscapingAppender() { Flush(); }

  void Put(std::string_view text) {
    // Locals, so that the byte stores (which may alias anything) do not
    // force the count back to memory on every byte.
    const auto& text_of = table_->text_of;
    const auto& size_of = table_->size_of;
    std::size_t used = used_;
    for (const char c : text) {
      if (used > sizeof(buffer_) - kMaxReplacement) {
        out_->append(buffer_, used);
        used = 0;
      }
      // Every byte copies its whole slot, escaped or not: one fixed-size
      // copy and no branch to mispredict on the bytes that are escaped.
      const auto byte = static_cast<unsigned char>(c);
      std::memcpy(buffer_ + used, text_of[byte].data(), kMaxReplacement);
      used += size_of[byte];
    }
    used_ = used;
  }
  // Put of a single byte.
  void PutByte(char c) {
    if (used_ > sizeof(buffer_) - kMaxReplacement) Flush();
    const auto byte = static_cast<unsigned char>(c);
    std::memcpy(buffer_ + used_, table_->text_of[byte].data(), kMaxReplacement);
    used_ += table_->size_of[byte];
  }
  // Appends `text` as it is, for text known to hold no character the table
  // replaces.
  void PutVerbatim(std::string_view text) {
    if (sizeof(buffer_) - used_ < text.size()) {
      Flush();
      if (text.size() > sizeof(buffer_)) {
        out_->append(text);
        return;
      }
    }
    CopyShort(text, buffer_ + used_);
    used_ += text.size();
  }
  void Flush() {
    out_->append(buffer_, used_);
    used_ = 0;
  }

 private:
  // Copies `text` to `to` in fixed-size moves, reading and writing only
  // its bytes: the pieces are a few bytes to a few dozen, too short to be
  // worth a library call each.
  static void CopyShort(std::string_view text, char* to) {
    const char* from = text.data();
    std::size_t size = text.size();
    for (; size >= 16; size -= 16, from += 16, to += 16) std::memcpy(to, from, 16);
    if (size >= 8) {
      std::memcpy(to, from, 8);
      std::memcpy(to + size - 8, from + size - 8, 8);
    } else if (size >= 4) {
      std::memcpy(to, from, 4);
      std::memcpy(to + size - 4, from + size - 4, 4);
    } else if (size > 0) {
      to[0] = from[0];
      to[size / 2] = from[size / 2];
      to[size - 1] = from[size - 1];
    }
  }

  std::string* out_;
  const EscapeTable* table_;
  std::size_t used_ = 0;
  char buffer_[1024];
};

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
