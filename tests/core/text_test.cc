#include "core/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/find_substring.h"

namespace kestrune::core {
namespace {

using namespace std::literals;

TEST(TextTest, FindTextGivesOneBasedPositionOrNotFound) {
  EXPECT_EQ(FindText("abcabd", "abd"), 4u);
  EXPECT_EQ(FindText("abc", "c"), 3u);
  EXPECT_EQ(FindText("abc", "abc"), 1u);
  EXPECT_EQ(FindText("abc", "x"), kNotFound);
  EXPECT_EQ(FindText("", "a"), kNotFound);
  EXPECT_EQ(FindText("a", ""), kNotFound);
  EXPECT_EQ(FindText("ab", "abc"), kNotFound);
  EXPECT_EQ(FindText("aaab", "aab"), 2u);
  // The text ends at its terminator: nothing behind it is searched.
  EXPECT_EQ(FindText("ab\0cd"sv, "cd"), kNotFound);
}

TEST(TextTest, FindTextSearchWindowIs8191Bytes) {
  std::string text(9000, 'x');
  text.replace(8500, 3, "abc");
  EXPECT_EQ(FindText(text, "abc"), kNotFound);

  std::string edge(9000, 'x');
  edge.replace(8190, 3, "abc");  // starts on the last candidate byte
  EXPECT_EQ(FindText(edge, "abc"), 8191u);
  std::string past(9000, 'x');
  past.replace(8191, 3, "abc");  // starts one byte past the window
  EXPECT_EQ(FindText(past, "abc"), kNotFound);
}

TEST(StringListTest, CountAndEntries) {
  constexpr StringListView list{"ab\0cd\0\0"sv};
  static_assert(list.Count() == 2);
  static_assert(list.Entry(2) == "cd");
  EXPECT_EQ(list.Entry(1), "ab");
  EXPECT_EQ(list.Entry(3), "");
  EXPECT_EQ(list.Entry(0), "");
  EXPECT_EQ(StringListView{"\0\0"sv}.Count(), 0u);
  EXPECT_EQ(StringListView{}.Count(), 0u);
  // The end of the view also ends the list.
  EXPECT_EQ(StringListView{"ab\0cd"sv}.Count(), 2u);
  EXPECT_EQ(StringListView{"ab\0cd"sv}.Entry(2), "cd");
  // An empty entry ends the list; what follows it is not part of it.
  EXPECT_EQ(StringListView{"ab\0\0cd\0"sv}.Count(), 1u);
}

// As the library's search, over texts of three letters (near misses
// everywhere), patterns up to past one vector's width, every starting place.
TEST(FindSubstringTest, FindsWhatTheLibrarySearchFinds) {
  std::mt19937 rng(20261208);
  auto letters = [&](std::size_t count) {
    std::string text(count, ' ');
    for (char& c : text) c = static_cast<char>(std::uniform_int_distribution<int>('<', '>')(rng));
    return text;
  };
  for (int round = 0; round < 300; ++round) {
    const std::string text = letters(std::uniform_int_distribution<std::size_t>(0, 70)(rng));
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 24)(rng);
    const std::string pattern =
        round % 2 == 0 && length <= text.size()
            ? text.substr(text.size() - length - rng() % (text.size() - length + 1), length)
            : letters(length);
    for (std::size_t from = 0; from <= text.size() + 1; ++from) {
      EXPECT_EQ(FindSubstring(text, pattern, from), std::string_view(text).find(pattern, from))
          << "\"" << text << "\", \"" << pattern << "\", " << from;
    }
  }
}

}  // namespace
}  // namespace kestrune::core
