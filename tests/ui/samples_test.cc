// The six sample buttons: rows read back from the list view in screen order,
// the region choice behind DescribeZones and the instance state behind
// DescribeInstanceStatus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "report/samples.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/resource_ids.h"

namespace kestrune::ui::testing {
namespace {

// The stored list of `action` as the screen shows it: every pair inserted at
// the top, so the last pair stands first.
std::vector<ScreenRow> OnScreen(report::SampleAction action,
                                const report::SampleState& state = {}) {
  const core::StringListView pairs = report::SampleList(action, state);
  std::vector<ScreenRow> rows;
  for (std::size_t n = 1; n + 1 <= pairs.Count(); n += 2) {
    rows.insert(rows.begin(), ScreenRow{W(pairs.Entry(n)), W(pairs.Entry(n + 1))});
  }
  return rows;
}

using SampleButtonTest = DialogTest;

TEST_F(SampleButtonTest, DescribeRegionsListsEveryRegionInWideText) {
  OpenDialog();
  Press(IDC_DESCRIBE_REGIONS);
  std::vector<ScreenRow> rows = Rows();
  ASSERT_EQ(rows.size(), 57u);
  EXPECT_EQ(rows.back(), (ScreenRow{L"RequestId", L"FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5"}));
  EXPECT_EQ(rows.front(), (ScreenRow{L"LocalName", W("欧洲中部 1 (法兰克福)")}));
  EXPECT_EQ(rows[1], (ScreenRow{L"RegionId", L"eu-central-1"}));
  // Full-width and ASCII parentheses come through as they are stored.
  EXPECT_EQ(rows[rows.size() - 3], (ScreenRow{L"LocalName", W("华北1（青岛）")}));
  EXPECT_EQ(rows, OnScreen(report::SampleAction::kDescribeRegions));
}

TEST_F(SampleButtonTest, DescribeZonesFollowsTheRegionChoice) {
  OpenDialog();
  Press(IDC_DESCRIBE_ZONES);
  EXPECT_EQ(Rows(), (std::vector<ScreenRow>{
                        {L"ZoneId", L"cn-shanghai-f"},
                        {L"RequestId", L"FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5"},
                    }));

  Choose(IDC_REGION, 1);
  EXPECT_EQ(Text(IDC_REGION), L"cn-shenzhen");
  EXPECT_EQ(Rows().size(), 2u) << "choosing a region alone changes no row";
  Press(IDC_DESCRIBE_ZONES);
  EXPECT_EQ(Rows(), (std::vector<ScreenRow>{
                        {L"ZoneId", L"cn-shenzhen-c"},
                        {L"ZoneId", L"cn-shenzhen-a"},
                        {L"RequestId", L"FFFFFFFF-5B4F-5B4F-DE1B-3DAE858545A5"},
                    }));

  Choose(IDC_REGION, 2);
  Press(IDC_DESCRIBE_ZONES);
  report::SampleState beijing;
  beijing.SelectRegionPosition(2);
  EXPECT_EQ(Rows(), OnScreen(report::SampleAction::kDescribeZones, beijing));
  EXPECT_EQ(Rows().front(), (ScreenRow{L"ZoneId", L"cn-beijing-g"}));

  Choose(IDC_REGION, 0);
  Press(IDC_DESCRIBE_ZONES);
  EXPECT_EQ(Rows(), OnScreen(report::SampleAction::kDescribeZones));
}

TEST_F(SampleButtonTest, InstanceStateFollowsStopStartAndReboot) {
  OpenDialog();
  auto status = [&] {
    Press(IDC_DESCRIBE_INSTANCE_STATUS);
    std::vector<ScreenRow> rows = Rows();
    EXPECT_EQ(rows.size(), 6u);
    for (const ScreenRow& row : rows) {
      if (row.field == L"Status") return row.info;
    }
    return std::wstring(L"<no Status row>");
  };
  EXPECT_EQ(status(), L"Running");
  EXPECT_EQ(Rows(), OnScreen(report::SampleAction::kDescribeInstanceStatus));
  EXPECT_EQ(Rows().front(), (ScreenRow{L"PageSize", L"10"}));

  Press(IDC_STOP_INSTANCE);
  EXPECT_EQ(Rows(),
            (std::vector<ScreenRow>{{L"RequestId", L"FFFFFFFF-DE1B-5B4F-90A2-3DAE1AB345A5"}}));
  EXPECT_EQ(status(), L"stopped");
  report::SampleState stopped;
  stopped.set_instance_state(report::InstanceState::kStopped);
  EXPECT_EQ(Rows(), OnScreen(report::SampleAction::kDescribeInstanceStatus, stopped));

  Press(IDC_START_INSTANCE);
  EXPECT_EQ(Rows(),
            (std::vector<ScreenRow>{{L"RequestId", L"FFFFFFFF-DE1B-90A2-5B4F-3DAE85ABDAA5"}}));
  EXPECT_EQ(status(), L"Running");

  Press(IDC_STOP_INSTANCE);
  EXPECT_EQ(status(), L"stopped");
  Press(IDC_REBOOT_INSTANCE);
  EXPECT_EQ(Rows(),
            (std::vector<ScreenRow>{{L"RequestId", L"FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5"}}));
  EXPECT_EQ(status(), L"Running");
}

TEST_F(SampleButtonTest, PressingTwiceShowsTheRowsOnceAndButtonsReplaceEachOther) {
  OpenDialog();
  // The buttons in the order they stand, which is the order of the actions; no
  // button before DescribeInstanceStatus stops the instance.
  const int ids[] = {IDC_DESCRIBE_REGIONS, IDC_DESCRIBE_ZONES, IDC_DESCRIBE_INSTANCE_STATUS,
                     IDC_REBOOT_INSTANCE,  IDC_START_INSTANCE, IDC_STOP_INSTANCE};
  ASSERT_EQ(report::SampleActions().size(), std::size(ids));
  for (std::size_t i = 0; i < std::size(ids); ++i) {
    const report::NamedSampleAction& named = report::SampleActions()[i];
    SCOPED_TRACE(std::string(named.name));
    EXPECT_EQ(Text(ids[i]), W(named.name));
    Press(ids[i]);
    EXPECT_EQ(Rows(), OnScreen(named.action));
    Press(ids[i]);
    EXPECT_EQ(Rows(), OnScreen(named.action));
  }
  Press(IDC_DESCRIBE_REGIONS);
  Press(IDC_DESCRIBE_ZONES);
  EXPECT_EQ(Rows().size(), 2u);
}

}  // namespace
}  // namespace kestrune::ui::testing
