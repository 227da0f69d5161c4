#include "core/ascii.h"

namespace kestrune::core {

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& ch : lower) ch = LowerAscii(ch);
  return lower;
}

bool EqualsIgnoreCase(std::string_view first, std::string_view second) {
  if (first.size() != second.size()) return false;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (LowerAscii(first[i]) != LowerAscii(second[i])) return false;
  }
  return true;
}

}  // namespace kestrune::core
