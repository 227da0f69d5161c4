// UTF-8 encoding and decoding of one code point at a time. Stateless; safe
// from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrune::core {

// Appends the UTF-8 form of `code_point` (at most U+10FFFF; callers replace
// surrogates and larger values beforehand).
void AppendUtf8(char32_t code_point, std::string& out);

// Decodes the sequence at the start of `text`. Returns its length (1 to 4)
// and sets `code_point`; returns 0, leaving `code_point` alone, when `text` is
// empty or does not start with a well-formed sequence: a stray continuation
// byte, a cut sequence, an overlong form, a surrogate or a value past
// U+10FFFF.
std::size_t DecodeUtf8(std::string_view text, char32_t& code_point);

// For `text` that does not start with a well-formed sequence: the bytes that
// one replacement character stands for, the lead byte and the continuation
// bytes that follow it up to the length the lead announces, so that one cut
// or damaged character gives one replacement. At least 1 for non-empty text.
std::size_t IllFormedUtf8Length(std::string_view text);

}  // namespace kestrune::core
