#include "report/samples.h"

namespace kestrune::report {

std::optional<SampleAction> SampleActionByName(std::string_view name) {
  for (const SampleButton& button : kSampleButtons) {
    if (button.caption == name) return button.action;
  }
  return std::nullopt;
}

std::string_view SampleActionName(SampleAction action) {
  for (const SampleButton& button : kSampleButtons) {
    if (button.action == action) return button.caption;
  }
  return {};
}

core::StringListView SampleList(SampleAction action, const SampleState& state) {
  switch (action) {
    case SampleAction::kDescribeRegions:
      return samples::kRegions;
    case SampleAction::kDescribeZones:
      switch (state.region_index()) {
        case 2:
          return samples::kZonesShenzhen;
        case 3:
          return samples::kZonesBeijing;
        default:
          return samples::kZonesShanghai;
      }
    case SampleAction::kDescribeInstanceStatus:
      return state.instance_state() == InstanceState::kStopped ? samples::kInstanceStopped
                                                               : samples::kInstanceRunning;
    case SampleAction::kRebootInstance:
      return samples::kReboot;
    case SampleAction::kStartInstance:
      return samples::kStart;
    case SampleAction::kStopInstance:
      return samples::kStop;
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
