// Byte-text primitives the catalogue and the engine share: a bounded text
// search and a view of a packed string list.
//
// A text ends at its first NUL byte or at the end of the view, whichever
// comes first. A StringList is a packed run of texts, each followed by NUL,
// the whole ended by an empty text ("ab\0cd\0\0"). Entries are numbered from
// 1 and are never empty.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrune::core {

// Result of a search that finds nothing.
inline constexpr std::uint32_t kNotFound = 65535;

// 1-based position of the first occurrence of `pattern` that starts within the
// first 8191 bytes of `text` (which ends at its first NUL; the pattern is
// taken up to 4095 bytes); kNotFound when there is none or either is empty.
std::uint32_t FindText(std::string_view text, std::string_view pattern);

// A read-only view of a packed StringList. Usable in constant expressions, so
// catalogue tables can be written as `StringListView{"a\0b\0"}`; the final
// empty entry may be left implicit (the view's end also ends the list).
class StringListView {
 public:
  constexpr StringListView() = default;
  constexpr StringListView(std::string_view packed) : packed_(packed) {}  // NOLINT

  // Number of entries before the first empty one.
  constexpr std::size_t Count() const {
    std::size_t count = 0;
    std::size_t pos = 0;
    while (pos < packed_.size() && packed_[pos] != '\0') {
      ++count;
      pos = NextEntry(pos);
    }
    return count;
  }
  // Entry n (1-based); the empty text for n = 0 or n past the last entry.
  constexpr std::string_view Entry(std::size_t n) const {
    if (n == 0) return {};
    std::size_t pos = 0;
    for (std::size_t i = 1; pos < packed_.size() && packed_[pos] != '\0'; ++i) {
      std::size_t next = NextEntry(pos);
      if (i == n) return packed_.substr(pos, EntryLength(pos));
      pos = next;
    }
    return {};
  }
  constexpr std::string_view packed() const { return packed_; }

 private:
  constexpr std::size_t EntryLength(std::size_t pos) const {
    std::size_t end = pos;
    while (end < packed_.size() && packed_[end] != '\0') ++end;
    return end - pos;
  }
  constexpr std::size_t NextEntry(std::size_t pos) const { return pos + EntryLength(pos) + 1; }
  std::string_view packed_;
};

}  // namespace kestrune::core
