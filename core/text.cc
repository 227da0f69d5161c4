#include "core/text.h"

#include <algorithm>
#include <cstring>

namespace kestrune::core {

std::size_t TextLength(std::string_view text) {
  if (text.empty()) return 0;  // an empty view may carry no storage at all
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) : text.size();
}

std::size_t BoundedLength(std::string_view text) {
  std::size_t length = TextLength(text.substr(0, kTextLimit));
  return length < kTextLimit ? length : kTextCap;
}

std::size_t LongBoundedLength(std::string_view text) {
  std::size_t length = TextLength(text.substr(0, kLongTextCap + 1));
  return length <= kLongTextCap ? length : kLongTextCap;
}

bool CopyText(std::string& destination, std::string_view source) {
  std::size_t length = TextLength(source);
  if (length >= kTextLimit) return false;
  destination.assign(source.data(), length);
  return true;
}

bool AppendText(std::string& destination, std::string_view source) {
  std::size_t base = TextLength(destination);
  std::size_t length = TextLength(source);
  if (base >= kTextLimit || length >= kTextLimit || base + length >= kTextLimit) return false;
  destination.resize(base);
  destination.append(source.data(), length);
  return true;
}

std::size_t FindChar(std::string_view text, char ch) {
  std::string_view window = text.substr(0, BoundedLength(text));
  std::size_t at = window.find(ch);
  return at == std::string_view::npos ? kCharNotFound : at;
}

std::uint32_t FindText(std::string_view text, std::string_view pattern) {
  text = text.substr(0, TextLength(text));
  pattern = pattern.substr(0, BoundedLength(pattern));
  if (text.empty() || pattern.empty()) return kNotFound;
  // Only the first 8191 bytes are candidate starting places; the match itself
  // may run past them.
  std::size_t candidates = LongBoundedLength(text);
  for (std::size_t pos = 0; pos < candidates;) {
    const void* hit = std::memchr(text.data() + pos, pattern[0], candidates - pos);
    if (!hit) break;
    pos = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    if (text.size() - pos >= pattern.size() &&
        std::memcmp(text.data() + pos, pattern.data(), pattern.size()) == 0) {
      return static_cast<std::uint32_t>(pos + 1);
    }
    ++pos;
  }
  return kNotFound;
}

int CompareText(std::string_view first, std::string_view second) {
  first = first.substr(0, BoundedLength(first));
  second = second.substr(0, BoundedLength(second));
  // The shorter text's terminator takes part, so a prefix sorts first.
  std::size_t count = std::max(first.size(), second.size());
  for (std::size_t i = 0; i < count; ++i) {
    unsigned a = i < first.size() ? static_cast<unsigned char>(first[i]) : 0u;
    unsigned b = i < second.size() ? static_cast<unsigned char>(second[i]) : 0u;
    if (a != b) return a < b ? 1 : 2;
  }
  return 0;
}

int CompareBytes(std::string_view first, std::string_view second, std::size_t count) {
  if (first.size() < count || second.size() < count) return 1;
  return std::memcmp(first.data(), second.data(), count) == 0 ? 0 : 1;
}

StringList::StringList(StringListView view) {
  for (std::size_t n = 1, count = view.Count(); n <= count; ++n) Add(view.Entry(n));
}

void StringList::Add(std::string_view entry) {
  entry = entry.substr(0, TextLength(entry));
  if (entry.empty()) return;
  packed_.append(entry);
  packed_.push_back('\0');
}

bool ComposePair(StringListView names, StringListView values, std::size_t n,
                 std::string& destination) {
  std::string composed = destination;
  if (!AppendText(composed, names.Entry(n)) || !AppendText(composed, "=") ||
      !AppendText(composed, values.Entry(n))) {
    return false;
  }
  destination = std::move(composed);
  return true;
}

std::string FormatDecimal(std::uint32_t value) { return std::to_string(value); }

}  // namespace kestrune::core
