// The shapes of good ECS replies that have a formatter of their own: the
// action catalogue says which shape each action's reply has, the report
// formats each shape, and the engine, which knows both, joins them. Kept
// here, below both, so that neither needs the other.
#pragma once

namespace kestrune::core {

enum class ReplyShape {
  kNone,  // no formatter: the reply's leaves are shown
  kInstanceTypes,
  kInstanceTypeFamilies,
  kTasks,
  kTaskAttribute,
  kInstanceStatus,
  kInstances,
  kVncUrl,
  kUserData,
  kRegions,
  kZones,
};

}  // namespace kestrune::core
