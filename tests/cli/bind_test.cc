// Binding "Name=Value" arguments to the form's value slots.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/commands.h"

namespace kestrune::cli {
namespace {

catalogue::ResolvedAction Action(unsigned service, std::string_view name) {
  std::optional<catalogue::ResolvedAction> action = catalogue::ResolveActionName(service, name);
  EXPECT_TRUE(action.has_value()) << name;
  return *action;
}

core::Result<catalogue::ParameterValueSlots> Bind(const catalogue::ResolvedAction& action,
                                                  std::vector<std::string> assignments,
                                                  std::optional<std::string> region = {}) {
  return BindParameters(action, assignments, region);
}

std::optional<std::string> Slot(const catalogue::ParameterValueSlots& slots, std::size_t k) {
  std::optional<std::string_view> value = slots.Get(k);
  if (!value) return std::nullopt;
  return std::string(*value);
}

TEST(BindTest, NamedValuesGoToTheirPositionsAndTheRestAreSentEmpty) {
  const auto action = Action(catalogue::kEcsService, "DescribeInstanceVncUrl");
  core::Result<catalogue::ParameterValueSlots> slots = Bind(action, {"instanceid=i-1"});
  ASSERT_TRUE(slots.ok()) << slots.status().message();
  EXPECT_EQ(Slot(*slots, 1), "");  // RegionId: not named, sent empty
  EXPECT_EQ(Slot(*slots, 2), "i-1");
  EXPECT_EQ(Slot(*slots, 3), std::nullopt);  // past the template's parameters
  // A value may hold '=' and anything else after the first '='.
  slots = Bind(action, {"RegionId=a=b c"});
  ASSERT_TRUE(slots.ok());
  EXPECT_EQ(Slot(*slots, 1), "a=b c");
}

TEST(BindTest, ANameThatOccursTwiceGetsTheValueAtBothPositions) {
  const auto action = Action(catalogue::kApiGatewayService, "DescribeDeployedApis");
  const core::StringListView names = action.request_template->parameter_names();
  ASSERT_EQ(names.Entry(1), "StageName");
  ASSERT_EQ(names.Entry(3), "StageName");
  core::Result<catalogue::ParameterValueSlots> slots = Bind(action, {"StageName=RELEASE"});
  ASSERT_TRUE(slots.ok());
  EXPECT_EQ(Slot(*slots, 1), "RELEASE");
  EXPECT_EQ(Slot(*slots, 2), "");
  EXPECT_EQ(Slot(*slots, 3), "RELEASE");
}

TEST(BindTest, RegionOptionFillsRegionIdUnlessNamed) {
  const auto action = Action(catalogue::kEcsService, "DescribeZones");
  core::Result<catalogue::ParameterValueSlots> slots = Bind(action, {}, "cn-x");
  ASSERT_TRUE(slots.ok());
  EXPECT_EQ(Slot(*slots, 1), "cn-x");
  slots = Bind(action, {"RegionId=cn-y"}, "cn-x");
  ASSERT_TRUE(slots.ok());
  EXPECT_EQ(Slot(*slots, 1), "cn-y");
  slots = Bind(Action(catalogue::kEcsService, "StopInstance"), {}, "cn-x");
  ASSERT_FALSE(slots.ok());
  EXPECT_NE(slots.status().message().find("has no RegionId"), std::string::npos);
}

TEST(BindTest, OnlyTheFirstEightParametersCanBeGiven) {
  // ModifyApi's eighth parameter is ResultSample (and so is its thirteenth).
  const auto modify = Action(catalogue::kApiGatewayService, "ModifyApi");
  core::Result<catalogue::ParameterValueSlots> slots = Bind(modify, {"ResultSample=x"});
  ASSERT_TRUE(slots.ok()) << slots.status().message();
  EXPECT_EQ(Slot(*slots, 8), "x");
  // CreateApi holds ResultSample only beyond the eighth.
  const auto create = Action(catalogue::kApiGatewayService, "CreateApi");
  slots = Bind(create, {"ResultSample=x"});
  ASSERT_FALSE(slots.ok());
  EXPECT_NE(slots.status().message().find("beyond the eighth parameter"), std::string::npos);
}

TEST(BindTest, MalformedUnknownAndRepeatedNamesAreRefused) {
  const auto action = Action(catalogue::kEcsService, "DescribeInstanceVncUrl");
  struct Case {
    std::vector<std::string> assignments;
    std::string mentions;
  };
  for (const Case& c : std::vector<Case>{
           {{"RegionId"}, "malformed parameter \"RegionId\": expected Name=Value"},
           {{"=x"}, "malformed parameter"},
           {{"Bogus=1"}, "has no parameter \"Bogus\" (accepted: RegionId, InstanceId)"},
           {{"RegionId=a", "REGIONID=b"}, "parameter RegionId is given twice"},
           {{"Regi\non=1"}, "\"Regi\\non\""},
       }) {
    core::Result<catalogue::ParameterValueSlots> slots = Bind(action, c.assignments);
    ASSERT_FALSE(slots.ok()) << c.mentions;
    EXPECT_NE(slots.status().message().find(c.mentions), std::string::npos)
        << slots.status().message();
  }
  const auto none = Action(catalogue::kEcsService, "DescribeRegions");
  core::Result<catalogue::ParameterValueSlots> slots = Bind(none, {"RegionId=x"});
  ASSERT_FALSE(slots.ok());
  EXPECT_NE(slots.status().message().find("(it takes none)"), std::string::npos);
}

}  // namespace
}  // namespace kestrune::cli
