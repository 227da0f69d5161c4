// The library's search, for processors without the vector instructions of
// find_text_sse2.cc.
#include "core/find_text.h"

namespace kestrune::core {

std::size_t FindText(std::string_view text, std::string_view pattern, std::size_t from) {
  return text.find(pattern, from);
}

}  // namespace kestrune::core
