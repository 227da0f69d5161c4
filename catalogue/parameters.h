// The parameters each listed action takes, by the vendor's published API
// metadata: name, type, whether required, and a list's members; and the one
// check every face runs on a bound request before anything is signed or sent.
//
// Constant data and stateless functions; safe from any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/dispatch.h"
#include "core/status.h"

namespace kestrune::catalogue {

enum class ParameterType {
  kString,
  kInteger,
  kLong,
  kBoolean,
  kFloat,
  kDouble,
  kJson,
  kRepeatList,
  kStruct,
  kArray
};

struct ParameterInfo {
  std::string name;
  ParameterType type = ParameterType::kString;
  bool required = false;
  bool in_body = false;
  // A RepeatList's (or Struct's) members, when each item is a record.
  std::vector<ParameterInfo> members;
};

// "String", "Integer", "RepeatList", ...
std::string_view TypeName(ParameterType type);

// The parameters of service 1, 2 or 3's action (exact name), in the
// metadata's order; nullopt when this build holds no list for it.
std::optional<std::vector<ParameterInfo>> KnownParameters(unsigned service_number,
                                                          std::string_view action);

// The most items one list parameter may carry.
inline constexpr std::size_t kMaxListItems = 100;

// The list an action's parameters are checked against: its KnownParameters
// with the names of its template added (always accepted, as text). The IoT
// lists are of a newer API version than the one sent: `complete` is false (a
// name such a list lacks may still be one the older version takes), and a
// parameter counts as required only when the template names it too.
struct CheckedParameters {
  std::vector<ParameterInfo> parameters;
  bool complete = true;
};
std::optional<CheckedParameters> ParametersToCheck(const ResolvedAction& action);

// For an action whose list is not complete: one line naming the given names
// ("Name=Value" each) the list lacks; nullopt when there are none.
std::optional<std::string> UnlistedNamesNote(const ResolvedAction& action,
                                             std::span<const std::string> assignments);

// The first fault the service finds in parameters as it receives them (lists
// spelled out flat): a required one absent or empty, else a value that cannot
// be of its type. Names the list does not hold are not looked at.
struct ReceivedFault {
  bool missing = false;  // else not of its type
  std::string name;
};
std::optional<ReceivedFault> CheckReceivedParameters(
    const ResolvedAction& action,
    std::span<const std::pair<std::string_view, std::string_view>> received);

// Checks the bound parameters of `action` against its list and rewrites them
// as they are to be sent: a list given as a JSON array becomes Name.1=...,
// Name.2=... (a record's fields Name.1.Field=...). Refused, naming the
// parameter: a name the list does not hold (with the closest names), unless
// `accept_unknown`; a required parameter not given; a value that cannot be of
// its type (an empty value is not checked); a list value that is not a JSON
// array, or one past kMaxListItems items; a name given twice. An action
// without a list is left as it is; a name an incomplete list lacks is sent.
// On a refusal `bound` is unchanged.
core::Status CheckBoundParameters(const ResolvedAction& action, BoundRequest& bound,
                                  bool accept_unknown);

}  // namespace kestrune::catalogue
