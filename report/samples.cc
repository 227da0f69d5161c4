#include "report/samples.h"

#include <array>

namespace kestrune::report {
namespace {

using namespace std::string_view_literals;

// One pair per line.
// clang-format off

constexpr core::StringListView kZonesShanghai{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\0"
    "ZoneId\0" "cn-shanghai-f\0"sv};

constexpr core::StringListView kZonesShenzhen{
    "RequestId\0" "FFFFFFFF-5B4F-5B4F-DE1B-3DAE858545A5\0"
    "ZoneId\0" "cn-shenzhen-a\0"
    "ZoneId\0" "cn-shenzhen-c\0"sv};

constexpr core::StringListView kZonesBeijing{
    "RequestId\0" "FFFFFFFF-DE1B-DE1B-90A2-3DAE858545A5\0"
    "ZoneId\0" "cn-beijing-g\0"sv};

constexpr core::StringListView kInstanceRunning{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\0"
    "Status\0" "Running\0"
    "InstanceId\0" "i-wz9ggfw2esucbqffffff\0"
    "TotalCount\0" "1\0"
    "PageNumber\0" "1\0"
    "PageSize\0" "10\0"sv};

constexpr core::StringListView kInstanceStopped{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\0"
    "Status\0" "stopped\0"
    "InstanceId\0" "i-wz9ggfw2esucbqffffff\0"
    "TotalCount\0" "1\0"
    "PageNumber\0" "1\0"
    "PageSize\0" "10\0"sv};

constexpr core::StringListView kReboot{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\0"sv};

constexpr core::StringListView kStart{
    "RequestId\0" "FFFFFFFF-DE1B-90A2-5B4F-3DAE85ABDAA5\0"sv};

constexpr core::StringListView kStop{
    "RequestId\0" "FFFFFFFF-DE1B-5B4F-90A2-3DAE1AB345A5\0"sv};

// Region names mix full-width parentheses with ASCII ones after a blank, as
// the service itself names them.
constexpr core::StringListView kRegions{
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

constexpr std::array<NamedSampleAction, 6> kSampleActions = {{
    {"DescribeRegions", SampleAction::kDescribeRegions},
    {"DescribeZones", SampleAction::kDescribeZones},
    {"DescribeInstanceStatus", SampleAction::kDescribeInstanceStatus},
    {"RebootInstance", SampleAction::kRebootInstance},
    {"StartInstance", SampleAction::kStartInstance},
    {"StopInstance", SampleAction::kStopInstance},
}};

}  // namespace

std::span<const NamedSampleAction> SampleActions() { return kSampleActions; }

std::optional<SampleAction> SampleActionByName(std::string_view name) {
  for (const NamedSampleAction& named : kSampleActions) {
    if (named.name == name) return named.action;
  }
  return std::nullopt;
}

std::string_view SampleActionName(SampleAction action) {
  for (const NamedSampleAction& named : kSampleActions) {
    if (named.action == action) return named.name;
  }
  return {};
}

core::StringListView SampleList(SampleAction action, const SampleState& state) {
  switch (action) {
    case SampleAction::kDescribeRegions:
      return kRegions;
    case SampleAction::kDescribeZones:
      switch (state.region_index()) {
        case 2:
          return kZonesShenzhen;
        case 3:
          return kZonesBeijing;
        default:
          return kZonesShanghai;
      }
    case SampleAction::kDescribeInstanceStatus:
      return state.instance_state() == InstanceState::kStopped ? kInstanceStopped
                                                               : kInstanceRunning;
    case SampleAction::kRebootInstance:
      return kReboot;
    case SampleAction::kStartInstance:
      return kStart;
    case SampleAction::kStopInstance:
      return kStop;
  }
  return {};
}

std::size_t ShowSample(SampleAction action, SampleState& state, ResultList& list,
                       const DisplayText& display) {
  list.Clear();
  std::string_view packed = SampleList(action, state).packed();
  // Walk the pairs in one pass; the list ends at its first empty entry.
  auto next_entry = [&packed]() -> std::string_view {
    std::size_t end = packed.find('\0');
    std::string_view entry = packed.substr(0, end);
    packed.remove_prefix(end == std::string_view::npos ? packed.size() : end + 1);
    return entry;
  };
  std::size_t rows = 0;
  for (;;) {
    std::string_view name = next_entry();
    if (name.empty()) break;
    std::string_view value = next_entry();
    if (action == SampleAction::kDescribeRegions) {
      list.InsertTop(name, display.Convert(value));
    } else {
      list.InsertTop(name, value);
    }
    ++rows;
  }
  switch (action) {
    case SampleAction::kRebootInstance:
    case SampleAction::kStartInstance:
      state.set_instance_state(InstanceState::kRunning);
      break;
    case SampleAction::kStopInstance:
      state.set_instance_state(InstanceState::kStopped);
      break;
    default:
      break;
  }
  return rows;
}

}  // namespace kestrune::report
