// The built-in sample responses of six ECS actions, shown by the dialog's
// sample buttons and by `kestrune sample` instead of contacting the service.
//
// Each response is a PairList of field name and value (the region names in
// UTF-8). Showing one empties the result list and inserts the pairs in stored
// order, each at the top, so the first pair (RequestId) ends at the bottom.
// Two pieces of state make the samples follow earlier choices: the sample
// instance's state (running or stopped) and the chosen region.
//
// The data is constant; a SampleState belongs to one front end and is not
// thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/text.h"
#include "report/display_text.h"
#include "report/result_list.h"

namespace kestrune::report {

enum class SampleAction {
  kDescribeRegions,
  kDescribeZones,
  kDescribeInstanceStatus,
  kRebootInstance,
  kStartInstance,
  kStopInstance,
};

struct SampleButton {
  int control_id;
  std::string_view caption;  // also the action's name
  SampleAction action;
};

// The dialog's sample buttons, in the order they stand.
inline constexpr std::array<SampleButton, 6> kSampleButtons = {{
    {4017, "DescribeRegions", SampleAction::kDescribeRegions},
    {4019, "DescribeZones", SampleAction::kDescribeZones},
    {4021, "DescribeInstanceStatus", SampleAction::kDescribeInstanceStatus},
    {4022, "RebootInstance", SampleAction::kRebootInstance},
    {4023, "StartInstance", SampleAction::kStartInstance},
    {4024, "StopInstance", SampleAction::kStopInstance},
}};

// The action whose name (exactly as the button caption) is `name`.
std::optional<SampleAction> SampleActionByName(std::string_view name);
std::string_view SampleActionName(SampleAction action);

namespace samples {

// One pair per line.
// clang-format off

using namespace std::string_view_literals;

inline constexpr core::StringListView kZonesShanghai{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\0"
    "ZoneId\0" "cn-shanghai-f\0"sv};

inline constexpr core::StringListView kZonesShenzhen{
    "RequestId\0" "FFFFFFFF-5B4F-5B4F-DE1B-3DAE858545A5\0"
    "ZoneId\0" "cn-shenzhen-a\0"
    "ZoneId\0" "cn-shenzhen-c\0"sv};

inline constexpr core::StringListView kZonesBeijing{
    "RequestId\0" "FFFFFFFF-DE1B-DE1B-90A2-3DAE858545A5\0"
    "ZoneId\0" "cn-beijing-g\0"sv};

inline constexpr core::StringListView kInstanceRunning{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\0"
    "Status\0" "Running\0"
    "InstanceId\0" "i-wz9ggfw2esucbqffffff\0"
    "TotalCount\0" "1\0"
    "PageNumber\0" "1\0"
    "PageSize\0" "10\0"sv};

inline constexpr core::StringListView kInstanceStopped{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\0"
    "Status\0" "stopped\0"
    "InstanceId\0" "i-wz9ggfw2esucbqffffff\0"
    "TotalCount\0" "1\0"
    "PageNumber\0" "1\0"
    "PageSize\0" "10\0"sv};

inline constexpr core::StringListView kReboot{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\0"sv};

inline constexpr core::StringListView kStart{
    "RequestId\0" "FFFFFFFF-DE1B-90A2-5B4F-3DAE85ABDAA5\0"sv};

inline constexpr core::StringListView kStop{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE1AB345A5\0"sv};

// Region names mix full-width parentheses with ASCII ones after a blank, as
// the service itself names them.
inline constexpr core::StringListView kRegions{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\0"
    "RegionId\0" "cn-qingdao\0"
    "LocalName\0" "华北1（青岛）\0"
    "RegionId\0" "cn-beijing\0"
    "LocalName\0" "华北2（北京）\0"
    "RegionId\0" "cn-zhangjiakou\0"
    "LocalName\0" "华北3（张家口）\0"
    "RegionId\0" "cn-huhehaote\0"
    "LocalName\0" "华北5（呼和浩特）\0"
    "RegionId\0" "cn-wulanchabu\0"
    "LocalName\0" "华北6（乌兰察布）\0"
    "RegionId\0" "cn-hangzhou\0"
    "LocalName\0" "华东1（杭州）\0"
    "RegionId\0" "cn-shanghai\0"
    "LocalName\0" "华东2（上海）\0"
    "RegionId\0" "cn-nanjing\0"
    "LocalName\0" "华东5（南京-本地地域）\0"
    "RegionId\0" "cn-shenzhen\0"
    "LocalName\0" "华南1（深圳）\0"
    "RegionId\0" "cn-heyuan\0"
    "LocalName\0" "华南2（河源）\0"
    "RegionId\0" "cn-guangzhou\0"
    "LocalName\0" "华南3（广州）\0"
    "RegionId\0" "cn-fuzhou\0"
    "LocalName\0" "华东6（福州-本地地域）\0"
    "RegionId\0" "cn-chengdu\0"
    "LocalName\0" "西南1（成都）\0"
    "RegionId\0" "cn-hongkong\0"
    "LocalName\0" "中国香港\0"
    "RegionId\0" "ap-northeast-1\0"
    "LocalName\0" "亚太东北 1 (东京)\0"
    "RegionId\0" "ap-northeast-2\0"
    "LocalName\0" "韩国（首尔）\0"
    "RegionId\0" "ap-southeast-1\0"
    "LocalName\0" "亚太东南 1 (新加坡)\0"
    "RegionId\0" "ap-southeast-2\0"
    "LocalName\0" "亚太东南 2 (悉尼)\0"
    "RegionId\0" "ap-southeast-3\0"
    "LocalName\0" "亚太东南 3 (吉隆坡)\0"
    "RegionId\0" "ap-southeast-6\0"
    "LocalName\0" "菲律宾（马尼拉）\0"
    "RegionId\0" "ap-southeast-5\0"
    "LocalName\0" "亚太东南 5 (雅加达)\0"
    "RegionId\0" "ap-south-1\0"
    "LocalName\0" "亚太南部 1 (孟买)\0"
    "RegionId\0" "ap-southeast-7\0"
    "LocalName\0" "泰国（曼谷）\0"
    "RegionId\0" "us-east-1\0"
    "LocalName\0" "美国（弗吉尼亚）\0"
    "RegionId\0" "us-west-1\0"
    "LocalName\0" "美国西部 1 (硅谷)\0"
    "RegionId\0" "eu-west-1\0"
    "LocalName\0" "英国 (伦敦)\0"
    "RegionId\0" "me-east-1\0"
    "LocalName\0" "中东东部 1 (迪拜)\0"
    "RegionId\0" "eu-central-1\0"
    "LocalName\0" "欧洲中部 1 (法兰克福)\0"sv};
// clang-format on

}  // namespace samples

enum class InstanceState : std::uint8_t { kRunning = 1, kStopped = 2 };

// What the samples remember between buttons.
class SampleState {
 public:
  InstanceState instance_state() const { return instance_state_; }
  void set_instance_state(InstanceState state) { instance_state_ = state; }

  // 0 before any choice; else the region selector's position + 1
  // (1 cn-shanghai, 2 cn-shenzhen, 3 cn-beijing).
  std::uint32_t region_index() const { return region_index_; }
  // Records a selection change of the region selector at 0-based `position`.
  void SelectRegionPosition(std::uint32_t position) { region_index_ = position + 1; }

 private:
  InstanceState instance_state_ = InstanceState::kRunning;
  std::uint32_t region_index_ = 0;
};

// The list `action` shows in `state`: the zones of the chosen region (of
// cn-shanghai before a choice or for an unknown index), the running or
// stopped status list, and so on.
core::StringListView SampleList(SampleAction action, const SampleState& state);

// Shows the sample response of `action`: clears `list`, inserts every pair in
// stored order (region names converted by `display`), then applies the
// action to `state` (reboot and start: running; stop: stopped). Making ECS
// the current service endpoint, as a sample button also does, is the
// caller's part. Returns the number of rows inserted.
std::size_t ShowSample(SampleAction action, SampleState& state, ResultList& list,
                       const DisplayText& display);

}  // namespace kestrune::report
