#include "core/wide_text.h"

#include <gtest/gtest.h>

namespace kestrune::core {
namespace {

TEST(WideTextTest, RoundTrips) {
  EXPECT_EQ(ToWide("中a"), std::wstring(L"\u4E2D"
                                        L"a"));
  std::string mixed = "欧洲中部 1 (法兰克福) \xF0\x9F\x98\x80 end";
  EXPECT_EQ(FromWide(ToWide(mixed)), mixed);
  EXPECT_EQ(ToWide(""), L"");
  // Bytes that are not UTF-8 become the replacement character.
  EXPECT_EQ(ToWide("a\xFF"
                   "b"),
            std::wstring(L"a\uFFFD"
                         L"b"));
}

}  // namespace
}  // namespace kestrune::core
