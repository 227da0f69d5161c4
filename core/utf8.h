// UTF-8 encoding of one code point. Stateless; safe from any thread.
#pragma once

#include <string>

namespace kestrune::core {

// Appends the UTF-8 form of `code_point` (at most U+10FFFF; callers replace
// surrogates and larger values beforehand).
void AppendUtf8(char32_t code_point, std::string& out);

}  // namespace kestrune::core
