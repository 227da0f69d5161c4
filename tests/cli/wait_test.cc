// Where a reply stands against a --wait-for condition, in both of the
// service's forms.
#include "cli/wait.h"

#include <gtest/gtest.h>

namespace kestrune::cli {
namespace {

WaitCheck Check(std::string_view wait_for, std::string_view body, bool json) {
  core::Result<WaitCondition> condition = ParseWaitCondition(wait_for, "Stopped,Deleted");
  EXPECT_TRUE(condition.ok()) << condition.status().message();
  return CheckWaitCondition(*condition, body, json);
}

// Two records; the second holds a Status of its own deeper down, which is
// not the record's.
std::string Xml(std::string_view second) {
  return "<?xml version='1.0'?><R><Instances><Instance><Status>Running</Status></Instance>"
         "<Instance><Disk><Status>In&amp;Use</Status></Disk><Status>" +
         std::string(second) + "</Status></Instance></Instances><Status>Top</Status></R>";
}

TEST(WaitTest, EveryRecordAtTheShallowestPlaceMustHoldAWantedValue) {
  EXPECT_EQ(Check("Instances.Instance.Status=Running", Xml("Running"), false).state,
            WaitState::kReached);
  const WaitCheck pending = Check("Instance.Status=Running", Xml("Starting"), false);
  EXPECT_EQ(pending.state, WaitState::kPending);
  EXPECT_EQ(pending.values, (std::vector<std::string>{"Running", "Starting"}));
  EXPECT_EQ(Check("Instance.Status=Running,Starting", Xml("Starting"), false).state,
            WaitState::kReached);
  EXPECT_EQ(Check("Instance.Status=Running", Xml("Stopped"), false).state, WaitState::kFailed);
  // The least deep Status of all is the reply's own.
  EXPECT_EQ(Check("Status=Top", Xml("Starting"), false).state, WaitState::kReached);
  EXPECT_EQ(Check("Disk.Status=In&Use", Xml("x"), false).state, WaitState::kReached);
  EXPECT_EQ(Check("Instance.Statuz=Running", Xml("x"), false).state, WaitState::kNotFound);
  // The root's name is no part of a path.
  EXPECT_EQ(Check("R.Status=Top", Xml("x"), false).state, WaitState::kNotFound);

  constexpr std::string_view kJson = R"({"Instances":{"Instance":[{"Status":"Running","Cpu":2},)"
                                     R"({"Status":"Starting","Cpu":4}]},"Ok":true})";
  EXPECT_EQ(Check("Instances.Instance.Status=Running", kJson, true).state, WaitState::kPending);
  EXPECT_EQ(Check("Cpu=2,4", kJson, true).state, WaitState::kReached);
  EXPECT_EQ(Check("Ok=true", kJson, true).state, WaitState::kReached);
  EXPECT_EQ(Check("Status=Running", "not json", true).state, WaitState::kNotFound);
}

}  // namespace
}  // namespace kestrune::cli
