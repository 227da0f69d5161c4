// Binding "Name=Value" arguments to the parameters' values.
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

core::Result<catalogue::ParameterValues> Bind(const catalogue::ResolvedAction& action,
                                              std::vector<std::string> assignments,
                                              std::optional<std::string> region = {}) {
  return BindParameters(action, assignments, region);
}

std::vector<std::string> Bound(const catalogue::ResolvedAction& action,
                               const catalogue::ParameterValues& values) {
  auto bound = catalogue::BindResolved(action, values);
  EXPECT_TRUE(bound && bound->ok());
  return bound && bound->ok() ? (*bound)->parameters : std::vector<std::string>();
}

TEST(BindTest, NamedValuesGoToTheirPositionsAndOthersFollowByName) {
  const auto action = Action(catalogue::kEcsService, "DescribeInstanceVncUrl");
  core::Result<catalogue::ParameterValues> values =
      Bind(action, {"Tag.1.Key=env", "instanceid=i-1", "Empty="});
  ASSERT_TRUE(values.ok()) << values.status().message();
  // Named as the template spells it; RegionId, not named, is not sent.
  EXPECT_EQ(Bound(action, *values),
            (std::vector<std::string>{"Action=DescribeInstanceVncUrl", "InstanceId=i-1",
                                      "Tag.1.Key=env", "Empty="}));
  // A value may hold '=' and anything else after the first '='.
  values = Bind(action, {"RegionId=a=b c"});
  ASSERT_TRUE(values.ok());
  EXPECT_EQ(values->Get("RegionId"), std::optional<std::string_view>("a=b c"));
}

TEST(BindTest, ANameThatOccursTwiceGetsTheValueAtBothPositions) {
  const auto action = Action(catalogue::kApiGatewayService, "DescribeDeployedApis");
  const core::StringListView names = action.request_template->parameter_names();
  ASSERT_EQ(names.Entry(1), "StageName");
  ASSERT_EQ(names.Entry(3), "StageName");
  core::Result<catalogue::ParameterValues> values = Bind(action, {"StageName=RELEASE"});
  ASSERT_TRUE(values.ok());
  EXPECT_EQ(Bound(action, *values),
            (std::vector<std::string>{"Action=DescribeDeployedApis", "StageName=RELEASE",
                                      "StageName=RELEASE"}));
}

TEST(BindTest, RegionOptionFillsRegionIdUnlessNamed) {
  const auto action = Action(catalogue::kEcsService, "DescribeZones");
  core::Result<catalogue::ParameterValues> values = Bind(action, {}, "cn-x");
  ASSERT_TRUE(values.ok());
  EXPECT_EQ(values->Get("RegionId"), std::optional<std::string_view>("cn-x"));
  values = Bind(action, {"RegionId=cn-y"}, "cn-x");
  ASSERT_TRUE(values.ok());
  EXPECT_EQ(values->Get("RegionId"), std::optional<std::string_view>("cn-y"));
  // An action without a RegionId of its own takes it as a further parameter.
  const auto stop = Action(catalogue::kEcsService, "StopInstance");
  values = Bind(stop, {}, "cn-x");
  ASSERT_TRUE(values.ok());
  EXPECT_EQ(Bound(stop, *values),
            (std::vector<std::string>{"Action=StopInstance", "RegionId=cn-x"}));
}

// The dialog's form and the command line bind through the same function, so
// what the user can see in either gives the same parameters.
TEST(BindTest, TheSameVisibleInputGivesTheSameRequestFromBothFaces) {
  const auto action = Action(catalogue::kEcsService, "DescribeInstanceVncUrl");
  core::Result<catalogue::ParameterValues> typed =
      Bind(action, {"InstanceId=i-1", "Tag.1.Key=env"});
  const std::vector<std::string_view> fields = {"", "i-1"};  // RegionId left blank
  const std::vector<std::pair<std::string_view, std::string_view>> pairs = {{"Tag.1.Key", "env"},
                                                                            {"Unused", ""}};
  core::Result<catalogue::ParameterValues> form =
      catalogue::ParameterValues::FromForm(action.request_template, fields, pairs);
  ASSERT_TRUE(typed.ok() && form.ok());
  auto from_cli = catalogue::BindResolved(action, *typed);
  auto from_dialog = catalogue::BindResolved(action, *form);
  ASSERT_TRUE(from_cli && from_dialog && from_cli->ok() && from_dialog->ok());
  EXPECT_EQ((*from_cli)->parameters, (*from_dialog)->parameters);
  EXPECT_EQ((*from_cli)->parameters, (std::vector<std::string>{"Action=DescribeInstanceVncUrl",
                                                               "InstanceId=i-1", "Tag.1.Key=env"}));
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
    core::Result<catalogue::ParameterValues> values = Bind(action, c.assignments);
    ASSERT_FALSE(values.ok()) << c.mentions;
    EXPECT_NE(values.status().message().find(c.mentions), std::string::npos)
        << values.status().message();
  }
}

}  // namespace
}  // namespace kestrune::cli
