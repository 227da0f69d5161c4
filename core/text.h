// Byte-text and packed string-list primitives shared by every module.
//
// Texts are byte strings; a text ends at its first NUL byte or at the end of the
// view, whichever comes first. Lengths are capped exactly as the wire formats of
// this program expect: the common cap is 4095 bytes and the long one 8191, and
// the substring search only starts matches inside the first 8191 bytes.
//
// A StringList is a packed run of texts, each followed by NUL, the whole ended
// by an empty text ("ab\0cd\0\0"). Entries are numbered from 1 and are never
// empty. A PairList is a StringList read two entries at a time.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune::core {

// Result of a search that finds nothing.
inline constexpr std::uint32_t kNotFound = 65535;
// Largest text the common operations carry whole; texts of kTextLimit bytes or
// more are refused by the checked copies below.
inline constexpr std::size_t kTextCap = 4095;
inline constexpr std::size_t kTextLimit = 4096;
inline constexpr std::size_t kLongTextCap = 8191;
// FindChar's answer when the character is absent.
inline constexpr std::size_t kCharNotFound = 4096;

// Number of bytes before the first NUL (or the whole view).
std::size_t TextLength(std::string_view text);
// TextLength if it is below 4096, else 4095.
std::size_t BoundedLength(std::string_view text);
// TextLength if it is below 8192, else 8191.
std::size_t LongBoundedLength(std::string_view text);

// Replaces `destination` by `source` (up to its first NUL). Returns false, and
// leaves `destination` untouched, when the source is 4096 bytes or longer.
[[nodiscard]] bool CopyText(std::string& destination, std::string_view source);
// Appends `source` to `destination`. Returns false, leaving `destination`
// untouched, when either text, or the result, would be 4096 bytes or longer.
[[nodiscard]] bool AppendText(std::string& destination, std::string_view source);

// 0-based index of the first `ch` within the first BoundedLength(text) bytes;
// kCharNotFound when absent (also for the empty text).
std::size_t FindChar(std::string_view text, char ch);
// 1-based position of the first occurrence of `pattern` that starts within the
// first 8191 bytes of `text`; kNotFound when there is none or either is empty.
std::uint32_t FindText(std::string_view text, std::string_view pattern);
// 0 when equal, 1 when `first` sorts before `second`, 2 when after. Bytes
// compare unsigned; a text that is a prefix of the other sorts first.
int CompareText(std::string_view first, std::string_view second);
// 0 when the first `count` bytes of both are equal, 1 otherwise (also when
// either is shorter than `count`).
int CompareBytes(std::string_view first, std::string_view second, std::size_t count);

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

// An owning StringList, for lists built or edited at run time.
class StringList {
 public:
  StringList() = default;
  explicit StringList(StringListView view);
  // Appends an entry; empty entries are ignored, because an empty text ends
  // the list.
  void Add(std::string_view entry);
  std::size_t Count() const { return view().Count(); }
  std::string_view Entry(std::size_t n) const { return view().Entry(n); }
  StringListView view() const { return StringListView(packed_); }

 private:
  std::string packed_;  // entries with their NULs; the final empty entry is implicit
};

inline std::size_t ListCount(StringListView list) { return list.Count(); }
inline std::string_view ListEntry(std::size_t n, StringListView list) { return list.Entry(n); }

// Appends names[n] "=" values[n] to `destination` (the empty text stands for a
// missing entry). Returns false, leaving `destination` untouched, on overflow of
// the 4095-byte cap.
[[nodiscard]] bool ComposePair(StringListView names, StringListView values, std::size_t n,
                               std::string& destination);

// Decimal text of `value` ("%lu").
std::string FormatDecimal(std::uint32_t value);

}  // namespace kestrune::core
