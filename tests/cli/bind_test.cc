// Binding "Name=Value" arguments to the form's value slots.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/dispatch.h"
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

TEST(BindTest, NamedValuesGoToTheirPositionsAndOthersFollowByName) {
  const auto action = Action(catalogue::kEcsService, "DescribeInstanceVncUrl");
  core::Result<catalogue::ParameterValueSlots> slots =
      Bind(action, {"instanceid=i-1", "Tag.1.Key=env", "Empty="});
  ASSERT_TRUE(slots.ok()) << slots.status().message();
  EXPECT_EQ(Slot(*slots, 1), std::nullopt);  // RegionId: not named, not sent
  EXPECT_EQ(Slot(*slots, 2), "i-1");
  EXPECT_EQ(Slot(*slots, 3), std::nullopt);  // past the template's parameters
  EXPECT_EQ(slots->extras(),
            (std::vector<catalogue::NamedValue>{{"Tag.1.Key", "env"}, {"Empty", ""}}));
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
  EXPECT_EQ(Slot(*slots, 2), std::nullopt);
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
  // An action without a RegionId of its own takes it as a further parameter.
  slots = Bind(Action(catalogue::kEcsService, "StopInstance"), {}, "cn-x");
  ASSERT_TRUE(slots.ok());
  EXPECT_EQ(slots->extras(), (std::vector<catalogue::NamedValue>{{"RegionId", "cn-x"}}));
}

// The dialog's form and the command line bind through the same function, so
// what the user can see in either gives the same parameters.
TEST(BindTest, TheSameVisibleInputGivesTheSameRequestFromBothFaces) {
  const auto action = Action(catalogue::kEcsService, "DescribeInstanceVncUrl");
  core::Result<catalogue::ParameterValueSlots> typed =
      Bind(action, {"InstanceId=i-1", "Tag.1.Key=env"});
  const std::vector<std::string_view> fields = {"", "i-1"};  // RegionId left blank
  const std::vector<std::pair<std::string_view, std::string_view>> pairs = {{"Tag.1.Key", "env"},
                                                                            {"Unused", ""}};
  core::Result<catalogue::ParameterValueSlots> form =
      catalogue::ParameterValueSlots::FromForm(fields, pairs);
  ASSERT_TRUE(typed.ok() && form.ok());
  auto from_cli = catalogue::BindResolved(action, *typed);
  auto from_dialog = catalogue::BindResolved(action, *form);
  ASSERT_TRUE(from_cli && from_dialog && from_cli->ok() && from_dialog->ok());
  EXPECT_EQ((*from_cli)->parameters, (*from_dialog)->parameters);
  EXPECT_EQ((*from_cli)->parameters, (std::vector<std::string>{"Action=DescribeInstanceVncUrl",
                                                               "InstanceId=i-1", "Tag.1.Key=env"}));
}

TEST(BindTest, EveryParameterOfTheLongestTemplateCanBeGiven) {
  // CreateApi's thirteenth parameter is ResultSample.
  const auto create = Action(catalogue::kApiGatewayService, "CreateApi");
  core::Result<catalogue::ParameterValueSlots> slots = Bind(create, {"ResultSample=x"});
  ASSERT_TRUE(slots.ok()) << slots.status().message();
  EXPECT_EQ(Slot(*slots, 13), "x");
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
           {{"Bo gus=1"}, "\"Bo gus\" is not a parameter name"},
           {{"Timestamp=1"}, "\"Timestamp\" is written by the request itself"},
           {{"RegionId=a", "REGIONID=b"}, "parameter RegionId is given twice"},
           {{"Regi\non=1"}, "\"Regi?on\""},
       }) {
    core::Result<catalogue::ParameterValueSlots> slots = Bind(action, c.assignments);
    ASSERT_FALSE(slots.ok()) << c.mentions;
    EXPECT_NE(slots.status().message().find(c.mentions), std::string::npos)
        << slots.status().message();
  }
}

}  // namespace
}  // namespace kestrune::cli
