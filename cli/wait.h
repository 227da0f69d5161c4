// `kestrune call … --wait-for FIELD=VALUE[,VALUE…]`: the same call made again
// and again until a field of its reply holds one of the values wanted (an
// instance Running, a task Finished), a value named by --wait-fail shows up,
// or the time allowed runs out.
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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "core/status.h"
#include "engine/engine.h"
#include "report/result_list.h"
#include "request/credentials.h"

namespace kestrune::cli {

inline constexpr std::chrono::milliseconds kDefaultWaitInterval{5000};
inline constexpr std::chrono::milliseconds kDefaultWaitTimeout{180000};

struct WaitCondition {
  std::vector<std::string> path;     // element names, outermost first
  std::vector<std::string> wanted;   // any of these ends the wait well
  std::vector<std::string> failing;  // any of these ends it at once, unreached
};

// Reads "Value[,Value…]", the values of `option`, none of them empty.
core::Result<std::vector<std::string>> ParseWaitValues(std::string_view option,
                                                       std::string_view text);

// Reads "Field.Path=Value[,Value…]" and, when given, "Value[,Value…]" of
// --wait-fail. Names are letters, digits and '_'; values are not empty.
core::Result<WaitCondition> ParseWaitCondition(std::string_view wait_for,
                                               std::optional<std::string_view> wait_fail);

enum class WaitState {
  kReached,   // every place holds a wanted value
  kPending,   // some place holds another value (or the list is empty now)
  kFailed,    // some place holds a --wait-fail value
  kNotFound,  // the path names nothing in this reply
};

struct WaitCheck {
  WaitState state = WaitState::kNotFound;
  std::vector<std::string> values;  // the distinct values found, in order
};

// Where `body` (the service's XML, or its JSON when `json`) stands.
WaitCheck CheckWaitCondition(const WaitCondition& condition, std::string_view body, bool json);

struct WaitSettings {
  WaitCondition condition;
  std::chrono::milliseconds interval = kDefaultWaitInterval;
  std::chrono::milliseconds timeout = kDefaultWaitTimeout;
  OutputFormat format = OutputFormat::kTsv;  // resolved, not kAuto
  bool raw = false;
  bool debug = false;
};

// Sends the call until the condition is reached, then prints the last reply
// as a lone call prints its one. Returns 0 when reached; kExitWaitEnded when
// the time ran out or a failing value came; kExitUsage, before polling any
// further, when the first good reply holds nothing at the path; and a failed
// call's own status (after the engine's retries) when one fails.
int CallUntil(Console& console, const WaitSettings& settings, engine::Engine& engine,
              report::RecordingResultList& list, const request::Credentials& credentials,
              const catalogue::ResolvedAction& action,
              const catalogue::ParameterValueSlots& values);

}  // namespace kestrune::cli
