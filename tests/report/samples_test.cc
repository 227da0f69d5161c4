#include "report/samples.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune::report {
namespace {

using Rows = std::vector<Row>;

class SamplesTest : public ::testing::Test {
 protected:
  std::size_t Press(SampleAction action) { return ShowSample(action, state_, list_, display_); }
  const Rows& rows() const { return list_.produced(); }

  SampleState state_;
  RecordingResultList list_;
  DisplayText display_;
};

TEST(SampleDataTest, EveryListHoldsWholePairs) {
  SampleState state;
  for (const NamedSampleAction& named : SampleActions()) {
    for (std::uint32_t position : {0u, 1u, 2u}) {
      for (InstanceState instance : {InstanceState::kRunning, InstanceState::kStopped}) {
        state.SelectRegionPosition(position);
        state.set_instance_state(instance);
        const core::StringListView list = SampleList(named.action, state);
        EXPECT_EQ(list.Count() % 2, 0u) << named.name;
        EXPECT_EQ(list.Entry(1), "RequestId");
        EXPECT_EQ(list.Entry(2).size(), 36u);
      }
    }
  }
  EXPECT_EQ(SampleList(SampleAction::kDescribeRegions, state).Count(), 2u * 57u);
}

TEST(SampleDataTest, ActionsAndNames) {
  const std::string_view names[] = {"DescribeRegions", "DescribeZones", "DescribeInstanceStatus",
                                    "RebootInstance",  "StartInstance", "StopInstance"};
  ASSERT_EQ(SampleActions().size(), std::size(names));
  for (std::size_t i = 0; i < std::size(names); ++i) {
    EXPECT_EQ(SampleActions()[i].name, names[i]);
    EXPECT_EQ(SampleActionByName(names[i]), SampleActions()[i].action);
    EXPECT_EQ(SampleActionName(SampleActions()[i].action), names[i]);
  }
  EXPECT_FALSE(SampleActionByName("describeregions").has_value());
  EXPECT_FALSE(SampleActionByName("").has_value());
}

TEST_F(SamplesTest, RegionsGiveFiftySevenRows) {
  EXPECT_EQ(Press(SampleAction::kDescribeRegions), 57u);
  ASSERT_EQ(rows().size(), 57u);
  EXPECT_EQ(rows().front(), (Row{"RequestId", "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5"}));
  EXPECT_EQ(list_.ScreenOrder().front(), (Row{"LocalName", "欧洲中部 1 (法兰克福)"}));
  const std::vector<std::string> ids = {
      "cn-qingdao",     "cn-beijing",     "cn-zhangjiakou", "cn-huhehaote",   "cn-wulanchabu",
      "cn-hangzhou",    "cn-shanghai",    "cn-nanjing",     "cn-shenzhen",    "cn-heyuan",
      "cn-guangzhou",   "cn-fuzhou",      "cn-chengdu",     "cn-hongkong",    "ap-northeast-1",
      "ap-northeast-2", "ap-southeast-1", "ap-southeast-2", "ap-southeast-3", "ap-southeast-6",
      "ap-southeast-5", "ap-south-1",     "ap-southeast-7", "us-east-1",      "us-west-1",
      "eu-west-1",      "me-east-1",      "eu-central-1"};
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(rows()[1 + 2 * i], (Row{"RegionId", ids[i]}));
    EXPECT_EQ(rows()[2 + 2 * i].field, "LocalName");
  }
  // Full-width parentheses in some names, a blank and ASCII ones in others.
  EXPECT_EQ(rows()[2].info, "华北1（青岛）");
  EXPECT_EQ(rows()[16].info, "华东5（南京-本地地域）");
  EXPECT_EQ(rows()[28].info, "中国香港");
  EXPECT_EQ(rows()[30].info, "亚太东北 1 (东京)");
  EXPECT_EQ(rows()[52].info, "英国 (伦敦)");
}

TEST_F(SamplesTest, RegionNamesFollowTheDisplayEncoding) {
  DisplayText gbk(DisplayEncoding::kGbk);
  ShowSample(SampleAction::kDescribeRegions, state_, list_, gbk);
  ASSERT_EQ(rows().size(), 57u);
  // 欧洲中部 1 (法兰克福) in code page 936.
  EXPECT_EQ(list_.ScreenOrder().front().info,
            "\xC5\xB7\xD6\xDE\xD6\xD0\xB2\xBF 1 (\xB7\xA8\xC0\xBC\xBF\xCB\xB8\xA3)");
  // 华北1（青岛）: full-width parentheses have their own GBK codes.
  EXPECT_EQ(rows()[2].info,
            "\xBB\xAA\xB1\xB1"
            "1\xA3\xA8\xC7\xE0\xB5\xBA\xA3\xA9");
  EXPECT_EQ(rows()[1].info, "cn-qingdao");
}

TEST_F(SamplesTest, ZonesFollowTheChosenRegion) {
  const Rows shanghai{{"RequestId", "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5"},
                      {"ZoneId", "cn-shanghai-f"}};
  const Rows shenzhen{{"RequestId", "FFFFFFFF-5B4F-5B4F-DE1B-3DAE858545A5"},
                      {"ZoneId", "cn-shenzhen-a"},
                      {"ZoneId", "cn-shenzhen-c"}};
  const Rows beijing{{"RequestId", "FFFFFFFF-DE1B-DE1B-90A2-3DAE858545A5"},
                     {"ZoneId", "cn-beijing-g"}};
  EXPECT_EQ(state_.region_index(), 0u);
  Press(SampleAction::kDescribeZones);
  EXPECT_EQ(rows(), shanghai);

  const std::pair<std::uint32_t, const Rows*> choices[] = {
      {1, &shenzhen}, {0, &shanghai}, {2, &beijing}, {3, &shanghai}, {1, &shenzhen}};
  for (auto [position, expected] : choices) {
    state_.SelectRegionPosition(position);
    EXPECT_EQ(state_.region_index(), position + 1);
    EXPECT_EQ(Press(SampleAction::kDescribeZones), expected->size());
    EXPECT_EQ(rows(), *expected) << "position " << position;
  }
}

TEST_F(SamplesTest, InstanceStateFollowsStopStartAndReboot) {
  const Rows running{{"RequestId", "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5"},
                     {"Status", "Running"},
                     {"InstanceId", "i-wz9ggfw2esucbqffffff"},
                     {"TotalCount", "1"},
                     {"PageNumber", "1"},
                     {"PageSize", "10"}};
  Rows stopped = running;
  stopped[1].info = "stopped";

  Press(SampleAction::kDescribeInstanceStatus);
  EXPECT_EQ(rows(), running);

  Press(SampleAction::kStopInstance);
  EXPECT_EQ(rows(), (Rows{{"RequestId", "FFFFFFFF-DE1B-5B4F-90A2-3DAE1AB345A5"}}));
  EXPECT_EQ(state_.instance_state(), InstanceState::kStopped);
  Press(SampleAction::kDescribeInstanceStatus);
  EXPECT_EQ(rows(), stopped);
  // Showing the status does not change it.
  Press(SampleAction::kDescribeInstanceStatus);
  EXPECT_EQ(rows(), stopped);

  Press(SampleAction::kStartInstance);
  EXPECT_EQ(rows(), (Rows{{"RequestId", "FFFFFFFF-DE1B-90A2-5B4F-3DAE85ABDAA5"}}));
  Press(SampleAction::kDescribeInstanceStatus);
  EXPECT_EQ(rows(), running);

  Press(SampleAction::kStopInstance);
  Press(SampleAction::kRebootInstance);
  EXPECT_EQ(rows(), (Rows{{"RequestId", "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5"}}));
  EXPECT_EQ(state_.instance_state(), InstanceState::kRunning);
  Press(SampleAction::kDescribeInstanceStatus);
  EXPECT_EQ(rows(), running);
}

TEST_F(SamplesTest, PressingTwiceShowsTheRowsOnce) {
  list_.InsertTop("from", "a request");
  for (const NamedSampleAction& named : SampleActions()) {
    Press(named.action);
    Rows first = rows();
    Press(named.action);
    EXPECT_EQ(rows(), first) << named.name;
    EXPECT_EQ(rows().front().field, "RequestId") << named.name;
  }
}

TEST_F(SamplesTest, OtherStateIsNotTouched) {
  state_.SelectRegionPosition(2);
  Press(SampleAction::kStopInstance);
  Press(SampleAction::kDescribeRegions);
  Press(SampleAction::kDescribeZones);
  EXPECT_EQ(state_.region_index(), 3u);
  EXPECT_EQ(state_.instance_state(), InstanceState::kStopped);
}

}  // namespace
}  // namespace kestrune::report
