#include "core/ascii.h"

#include <gtest/gtest.h>

namespace kestrune::core {
namespace {

TEST(AsciiTest, EqualsIgnoreCaseIsAsciiOnly) {
  EXPECT_TRUE(EqualsIgnoreCase("DescribeAutoSnapshotPolicyEX", "describeautosnapshotpolicyex"));
  EXPECT_FALSE(EqualsIgnoreCase("Describe", "Describe "));
  EXPECT_FALSE(EqualsIgnoreCase("[", "{"));  // 0x5B and 0x7B differ by the case bit only
  EXPECT_TRUE(EqualsIgnoreCase("", ""));
  EXPECT_TRUE(EqualsIgnoreCase("实例", "实例"));
}

}  // namespace
}  // namespace kestrune::core
