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

#include <cstdint>
#include <optional>
#include <span>
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

struct NamedSampleAction {
  std::string_view name;  // as the service spells the action
  SampleAction action;
};

// Every action with a sample response, DescribeRegions first and
// StopInstance last.
std::span<const NamedSampleAction> SampleActions();

// The action whose name is exactly `name`.
std::optional<SampleAction> SampleActionByName(std::string_view name);
std::string_view SampleActionName(SampleAction action);

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
