// ASCII letter case, for the names this program matches without regard to it:
// HTTP header names, action and service names typed on the command line, the
// reply format parameter, locale names.
//
// Only 'A' to 'Z' fold; every other byte, UTF-8 included, stands for itself,
// so the result never depends on the C library's locale.
// Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace kestrune::core {

// `ch` with 'A' to 'Z' turned into 'a' to 'z'.
constexpr char LowerAscii(char ch) {
  return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
}

// `text` with every ASCII capital turned into its small letter.
std::string LowerAscii(std::string_view text);

// Whether both hold the same bytes once ASCII capitals are folded.
bool EqualsIgnoreCase(std::string_view first, std::string_view second);

}  // namespace kestrune::core
