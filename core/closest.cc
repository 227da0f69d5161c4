#include "core/closest.h"

#include <algorithm>

#include "core/ascii.h"

namespace kestrune::core {

std::size_t EditDistanceIgnoringCase(std::string_view a, std::string_view b) {
  // Three rows of the table: a swap looks two rows back.
  std::vector<std::size_t> before(b.size() + 1);
  std::vector<std::size_t> previous(b.size() + 1);
  std::vector<std::size_t> current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = LowerAscii(a[i - 1]) == LowerAscii(b[j - 1]);
      current[j] =
          std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && LowerAscii(a[i - 1]) == LowerAscii(b[j - 2]) &&
          LowerAscii(a[i - 2]) == LowerAscii(b[j - 1])) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::vector<std::string> ClosestWords(std::string_view word,
                                      std::span<const std::string_view> candidates,
                                      std::size_t limit) {
  struct Candidate {
    std::size_t distance;
    std::string_view word;
  };
  // A typo changes a few letters; past a third of the word it is another word.
  const std::size_t reach = std::max<std::size_t>(2, word.size() / 3);
  std::vector<Candidate> near;
  for (std::string_view candidate : candidates) {
    const std::size_t distance = EditDistanceIgnoringCase(word, candidate);
    if (distance <= reach) near.push_back({distance, candidate});
  }
  std::stable_sort(near.begin(), near.end(),
                   [](const Candidate& x, const Candidate& y) { return x.distance < y.distance; });
  std::vector<std::string> closest;
  for (std::size_t i = 0; i < near.size() && i < limit; ++i) closest.emplace_back(near[i].word);
  return closest;
}

std::string JoinAlternatives(std::span<const std::string> words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? " or " : ", ";
    text += words[i];
  }
  return text;
}

}  // namespace kestrune::core
