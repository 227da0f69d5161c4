#include "core/find_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kestrune::core {
namespace {

// Against the library's own search, over texts of few letters (so that near
// misses are everywhere), patterns of every length up to well past one vector,
// matches at every distance from the end, and every starting place.
TEST(FindTextTest, FindsWhatTheLibrarySearchFinds) {
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> letter('<', '>');
  for (int round = 0; round < 300; ++round) {
    std::string text(std::uniform_int_distribution<std::size_t>(0, 70)(rng), ' ');
    for (char& c : text) c = static_cast<char>(letter(rng));
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 24)(rng);
    std::string pattern(length, ' ');
    if (length <= text.size() && round % 2 == 0) {
      pattern = text.substr(std::uniform_int_distribution<std::size_t>(0, text.size() - length)(rng),
                            length);
    } else {
      for (char& c : pattern) c = static_cast<char>(letter(rng));
    }
    for (std::size_t from = 0; from <= text.size() + 1; ++from) {
      EXPECT_EQ(FindText(text, pattern, from), std::string_view(text).find(pattern, from))
          << "text \"" << text << "\", pattern \"" << pattern << "\", from " << from;
    }
  }
}

}  // namespace
}  // namespace kestrune::core
