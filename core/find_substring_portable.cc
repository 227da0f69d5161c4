// The library's search, for processors without the vector instructions of
// find_substring_sse2.cc.
#include "core/find_substring.h"

namespace kestrune::core {

std::size_t FindSubstring(std::string_view text, std::string_view pattern, std::size_t from) {
  return text.find(pattern, from);
}

}  // namespace kestrune::core
