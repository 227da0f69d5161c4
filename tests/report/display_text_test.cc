#include "report/display_text.h"

#include <gtest/gtest.h>

#include "core/wide_text.h"

namespace kestrune::report {
namespace {

TEST(DisplayTextTest, Utf8IsShownAsItStands) {
  DisplayText utf8;
  EXPECT_EQ(utf8.encoding(), DisplayEncoding::kUtf8);
  EXPECT_EQ(utf8.Convert("华东2（上海） ok"), "华东2（上海） ok");
  EXPECT_EQ(utf8.Convert(""), "");
}

TEST(DisplayTextTest, GbkConvertsChineseValues) {
  DisplayText gbk(DisplayEncoding::kGbk);
  EXPECT_EQ(gbk.Convert("华东2（上海）"),
            "\xBB\xAA\xB6\xAB"
            "2\xA3\xA8\xC9\xCF\xBA\xA3\xA3\xA9");
  EXPECT_EQ(gbk.Convert("cn-hangzhou"), "cn-hangzhou");
  EXPECT_EQ(gbk.Convert(""), "");
}

TEST(DisplayTextTest, GbkMarksWhatItCannotShow) {
  DisplayText gbk(DisplayEncoding::kGbk);
  // U+1F600 has no GBK form; a stray continuation byte and a cut sequence are
  // not UTF-8. Each becomes one '?', and the text around it survives.
  EXPECT_EQ(gbk.Convert("a\xF0\x9F\x98\x80"
                        "b"),
            "a?b");
  EXPECT_EQ(gbk.Convert("a\x80"
                        "b"),
            "a?b");
  std::string cut = gbk.Convert("\xE4\xB8\xAD\xE4\xB8");
  ASSERT_GE(cut.size(), 3u);
  EXPECT_EQ(cut.substr(0, 3), "\xD6\xD0?");
  EXPECT_EQ(cut.find_first_not_of('?', 2), std::string::npos);
}

TEST(DisplayTextTest, LongValuesConvertWhole) {
  std::string value;
  while (value.size() < 20000) value += "华东2（上海）";
  DisplayText gbk(DisplayEncoding::kGbk);
  std::string converted = gbk.Convert(value);
  // Every character here takes two bytes in GBK except the digit.
  std::size_t pieces = value.size() / std::string("华东2（上海）").size();
  EXPECT_EQ(converted.size(), pieces * 13);
  EXPECT_EQ(core::FromWide(core::ToWide(value)), value);
}

}  // namespace
}  // namespace kestrune::report
