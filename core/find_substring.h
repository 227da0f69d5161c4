// Substring search for long texts such as XML replies, where the first byte
// of a tag ("<") stands every few bytes and a search that stops at each one
// spends most of its time there.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrune::core {

// As text.find(pattern, from): where `pattern` first occurs in `text` at or
// after `from`, or std::string_view::npos. Where the processor has SSE2
// (every x86-64 one) sixteen places are tried at once, each only on its
// first and last byte before the rest is compared.
std::size_t FindSubstring(std::string_view text, std::string_view pattern, std::size_t from = 0);

}  // namespace kestrune::core
