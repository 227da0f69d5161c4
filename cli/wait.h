// `kestrune call … --wait-for FIELD=VALUE[,VALUE…]`: the same call made again
// and again until a field of its reply holds one of the values wanted (an
// instance Running, a task Finished), a value named by --wait-fail shows up,
// or the time allowed runs out.
//
// The condition and the loop are the engine's (engine/wait_condition.h);
// this reads the options and prints.
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
#include "engine/wait_condition.h"
#include "report/result_list.h"
#include "request/credentials.h"

namespace kestrune::cli {

inline constexpr std::chrono::milliseconds kDefaultWaitInterval{5000};
inline constexpr std::chrono::milliseconds kDefaultWaitTimeout{180000};

using engine::CheckWaitCondition;
using engine::WaitCheck;
using engine::WaitCondition;
using engine::WaitState;

// Reads "Value[,Value…]", the values of `option`, none of them empty.
core::Result<std::vector<std::string>> ParseWaitValues(std::string_view option,
                                                       std::string_view text);

// Reads "Field.Path=Value[,Value…]" and, when given, "Value[,Value…]" of
// --wait-fail. Names are letters, digits and '_'; values are not empty.
core::Result<WaitCondition> ParseWaitCondition(std::string_view wait_for,
                                               std::optional<std::string_view> wait_fail);

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
              const catalogue::ResolvedAction& action, const catalogue::ParameterValues& values);

}  // namespace kestrune::cli
