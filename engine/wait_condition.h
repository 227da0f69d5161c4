// Waiting for a reply to say something: the same call made again and again
// until a field of its reply holds one of the values wanted (an instance
// Running, a task Finished), a failing value shows up, the time allowed runs
// out or the caller gives up. Both faces wait through this: the command
// line's --wait-for and the dialog's "wait for" box.
//
// A field is a path of element names below the reply's root, such as
// "Instances.Instance.Status", or its last names alone ("Status"). Where a
// path is found at several depths, the shallowest counts (a record's Status,
// not the Status of something inside the record). Every place it is found
// must hold a wanted value: a list is ready when all its records are.
//
// Plain values and stateless functions; the loop runs on the caller's thread.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"

namespace kestrune::engine {

struct WaitCondition {
  std::vector<std::string> path;     // element names, outermost first
  std::vector<std::string> wanted;   // any of these ends the wait well
  std::vector<std::string> failing;  // any of these ends it at once, unreached
};

// "Instances.Instance.Status" as its names; nullopt unless every name is
// letters, digits and '_' and none is empty.
std::optional<std::vector<std::string>> SplitWaitField(std::string_view field);
// "Value[,Value…]" as its values; nullopt when one of them is empty.
std::optional<std::vector<std::string>> SplitWaitValues(std::string_view text);
// The names or values again as one text, `separator` between them (".",
// " or "), as both faces word a wait.
std::string JoinWaitParts(const std::vector<std::string>& parts, std::string_view separator);

enum class WaitState {
  kReached,   // every place holds a wanted value
  kPending,   // some place holds another value (or the list is empty now)
  kFailed,    // some place holds a failing value
  kNotFound,  // the path names nothing in this reply
};

struct WaitCheck {
  WaitState state = WaitState::kNotFound;
  std::vector<std::string> values;  // the distinct values found, in order
};

// Where `body` (the service's XML, or its JSON when `json`) stands.
WaitCheck CheckWaitCondition(const WaitCondition& condition, std::string_view body, bool json);

enum class WaitEnd {
  kReached,     // the last reply holds a wanted value everywhere
  kFailed,      // the last reply holds a failing value
  kTimedOut,    // the time ran out with the value still not reached
  kNotFound,    // the first good reply holds nothing at the path: polling could never end well
  kCallFailed,  // a call failed after the engine's own retries
  kCancelled,   // the caller gave up while waiting between calls
};

struct WaitPlan {
  WaitCondition condition;
  std::chrono::milliseconds interval{5000};
  std::chrono::milliseconds timeout{180000};
  bool json = false;  // the replies are JSON
};

struct WaitProgress {
  WaitEnd end = WaitEnd::kCallFailed;
  int calls = 0;
  WaitCheck last;  // where the last good reply stood
};

// Calls `call` (one request, with the engine's own retries; it returns the
// request's result) until the plan's condition is settled, pausing the
// plan's interval between calls with `pause` (which returns false when the
// caller gives up), the last call at the deadline itself. `checked` (may be
// empty) hears of every good reply's standing.
WaitProgress RepeatUntil(const WaitPlan& plan, const std::function<const RequestResult&()>& call,
                         const std::function<bool(std::chrono::milliseconds)>& pause,
                         const std::function<void(int call, const WaitCheck&)>& checked = {});

// "Running, Starting", or "nothing": what a check found, for messages.
std::string DescribeWaitValues(const WaitCheck& check);

}  // namespace kestrune::engine
