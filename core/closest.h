// "Did you mean …": the accepted words closest to a mistyped one, by an edit
// distance that ignores ASCII case and counts a swap of two neighbouring
// letters as one step (the commonest slip of the fingers). Every face that
// suggests words uses this one rule.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::core {

// The fewest insertions, deletions, substitutions and swaps of neighbours that
// turn `a` into `b`, ignoring ASCII case.
std::size_t EditDistanceIgnoringCase(std::string_view a, std::string_view b);

// Up to `limit` of `candidates` closest to `word`, closest first (ties keep
// the candidates' order); a candidate more than max(2, size of word / 3)
// steps away is another word, not a typo, and is left out.
std::vector<std::string> ClosestWords(std::string_view word,
                                      std::span<const std::string_view> candidates,
                                      std::size_t limit = 3);

// "a", "a or b", "a, b or c".
std::string JoinAlternatives(std::span<const std::string> words);

}  // namespace kestrune::core
