// FindSubstring on SSE2, which every x86-64 processor has. A place is a candidate
// only when both the pattern's first and its last byte match there; the
// compare of sixteen places at a time leaves few candidates in XML, where
// the first byte alone ("<") would stop the search at every tag.
#include <emmintrin.h>

#include <cstring>

#include "core/find_substring.h"

namespace kestrune::core {

std::size_t FindSubstring(std::string_view text, std::string_view pattern, std::size_t from) {
  const std::size_t length = pattern.size();
  if (length < 2 || from >= text.size() || text.size() - from < length) {
    return text.find(pattern, from);
  }
  const char* const data = text.data();
  const std::size_t end = text.size() - length + 1;  // one past the last place a match can start
  const __m128i first = _mm_set1_epi8(pattern.front());
  const __m128i last = _mm_set1_epi8(pattern.back());
  std::size_t at = from;
  // Both loads of a block stay inside the text: the second starts length - 1
  // bytes after the first, and at + 16 <= end.
  for (; at + 16 <= end; at += 16) {
    const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + length - 1));
    auto candidates = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, last))));
    while (candidates != 0) {
      const std::size_t place = at + static_cast<std::size_t>(__builtin_ctz(candidates));
      if (std::memcmp(data + place + 1, pattern.data() + 1, length - 2) == 0) return place;
      candidates &= candidates - 1;
    }
  }
  return text.find(pattern, at);
}

}  // namespace kestrune::core
