#include "core/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/find_substring.h"

namespace kestrune::core {
namespace {

using namespace std::literals;

TEST(TextTest, LengthsAreCapped) {
  EXPECT_EQ(TextLength("abc\0def"sv), 3u);
  EXPECT_EQ(BoundedLength(std::string(4095, 'x')), 4095u);
  EXPECT_EQ(BoundedLength(std::string(4096, 'x')), 4095u);
  EXPECT_EQ(BoundedLength(std::string(9000, 'x')), 4095u);
  EXPECT_EQ(LongBoundedLength(std::string(8191, 'x')), 8191u);
  EXPECT_EQ(LongBoundedLength(std::string(9000, 'x')), 8191u);
  EXPECT_EQ(LongBoundedLength("ab"), 2u);
}

TEST(TextTest, CopyAndAppendRefuseTextsThatWouldNotFit) {
  std::string destination = "keep";
  EXPECT_TRUE(CopyText(destination, std::string(4095, 'a')));
  EXPECT_EQ(destination.size(), 4095u);
  destination = "keep";
  EXPECT_FALSE(CopyText(destination, std::string(4096, 'a')));
  EXPECT_EQ(destination, "keep");

  destination = "abc";
  EXPECT_TRUE(AppendText(destination, "de"));
  EXPECT_EQ(destination, "abcde");
  destination = std::string(4000, 'a');
  EXPECT_FALSE(AppendText(destination, std::string(96, 'b')));
  EXPECT_EQ(destination, std::string(4000, 'a'));
  EXPECT_TRUE(AppendText(destination, std::string(95, 'b')));
  EXPECT_EQ(destination.size(), 4095u);
}

TEST(TextTest, AppendStopsAtTheTerminatorOfBothTexts) {
  // A buffer that still holds an old tail behind its terminator appends at
  // the terminator and keeps nothing of the tail.
  std::string destination = "abc\0XYZ"s;
  EXPECT_TRUE(AppendText(destination, "de\0junk"sv));
  EXPECT_EQ(destination, "abcde");
}

TEST(TextTest, FindCharWithinTheCappedText) {
  EXPECT_EQ(FindChar("a:b", ':'), 1u);
  EXPECT_EQ(FindChar("ab", ':'), kCharNotFound);
  EXPECT_EQ(FindChar("", ':'), kCharNotFound);
  std::string late(5000, 'x');
  late[4500] = ':';
  EXPECT_EQ(FindChar(late, ':'), kCharNotFound);
}

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

TEST(TextTest, CompareTextOrdersPrefixesFirst) {
  EXPECT_EQ(CompareText("Action=X", "AccessKeyId=K"), 2);
  EXPECT_EQ(CompareText("AccessKeyId=K", "Action=X"), 1);
  EXPECT_EQ(CompareText("Tag", "Tag2"), 1);
  EXPECT_EQ(CompareText("Tag2", "Tag"), 2);
  EXPECT_EQ(CompareText("abc", "abc"), 0);
  EXPECT_EQ(CompareText("", ""), 0);
  EXPECT_EQ(CompareText("", "a"), 1);
  // Bytes compare unsigned: a UTF-8 lead byte sorts after ASCII.
  EXPECT_EQ(CompareText("\xE4", "z"), 2);
  // "=" is an ordinary byte: Tag2=x sorts before Tag=y.
  EXPECT_EQ(CompareText("Tag2=x", "Tag=y"), 1);
}

TEST(TextTest, CompareBytes) {
  EXPECT_EQ(CompareBytes("abcd", "abce", 3), 0);
  EXPECT_EQ(CompareBytes("abcd", "abce", 4), 1);
  EXPECT_EQ(CompareBytes("ab", "abc", 3), 1);
}

TEST(StringListTest, CountAndEntries) {
  constexpr StringListView list{"ab\0cd\0\0"sv};
  static_assert(list.Count() == 2);
  static_assert(list.Entry(2) == "cd");
  EXPECT_EQ(ListCount(list), 2u);
  EXPECT_EQ(ListEntry(1, list), "ab");
  EXPECT_EQ(ListEntry(2, list), "cd");
  EXPECT_EQ(ListEntry(3, list), "");
  EXPECT_EQ(ListEntry(0, list), "");
  EXPECT_EQ(ListCount(StringListView{"\0\0"sv}), 0u);
  EXPECT_EQ(ListCount(StringListView{}), 0u);
  // The end of the view also ends the list.
  EXPECT_EQ(ListCount(StringListView{"ab\0cd"sv}), 2u);
  EXPECT_EQ(ListEntry(2, StringListView{"ab\0cd"sv}), "cd");
  // An empty entry ends the list; what follows it is not part of it.
  EXPECT_EQ(ListCount(StringListView{"ab\0\0cd\0"sv}), 1u);
}

TEST(StringListTest, OwningListSkipsEmptyEntries) {
  StringList list;
  list.Add("one");
  list.Add("");
  list.Add("two");
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Entry(2), "two");
  StringList copy(list.view());
  EXPECT_EQ(copy.Entry(1), "one");
}

TEST(StringListTest, ComposePair) {
  constexpr StringListView names{"Action\0RegionId\0"sv};
  constexpr StringListView values{"DescribeZones\0cn-beijing\0"sv};
  std::string destination;
  ASSERT_TRUE(ComposePair(names, values, 2, destination));
  EXPECT_EQ(destination, "RegionId=cn-beijing");
  // A value position past the values list gives the empty value.
  std::string missing;
  ASSERT_TRUE(ComposePair(names, StringListView{"DescribeZones\0"sv}, 2, missing));
  EXPECT_EQ(missing, "RegionId=");
}

TEST(TextTest, FormatDecimal) {
  EXPECT_EQ(FormatDecimal(45), "45");
  EXPECT_EQ(FormatDecimal(0), "0");
  EXPECT_EQ(FormatDecimal(4294967295u), "4294967295");
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
