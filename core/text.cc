#include "core/text.h"

#include <cstring>

namespace kestrune::core {

namespace {

constexpr std::size_t kTextLimit = 4096;
constexpr std::size_t kTextCap = kTextLimit - 1;
constexpr std::size_t kLongTextCap = 8191;

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

}  // namespace

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

}  // namespace kestrune::core
