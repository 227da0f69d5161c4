#include "core/spool.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrune::core {
namespace {

TEST(SpoolTest, KeepsTextOnDiskAndGivesItBackInOrder) {
  Spool spool;
  // More than one piece's worth, so that reading back takes several.
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += std::to_string(i) + ',';
  spool.Append(text);
  spool.Append("end");
  EXPECT_TRUE(spool.on_disk());
  EXPECT_EQ(spool.size(), text.size() + 3);
  std::string back;
  int pieces = 0;
  ASSERT_TRUE(spool.CopyTo([&](std::string_view piece) {
    back += piece;
    ++pieces;
  }));
  EXPECT_EQ(back, text + "end");
  EXPECT_GT(pieces, 1);
}

}  // namespace
}  // namespace kestrune::core
