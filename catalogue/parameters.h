// The parameters each listed action takes, by the vendor's published API
// metadata: name, type, whether required, and a list's members; and the one
// check every face runs on a bound request before anything is signed or sent.
//
// Constant data and stateless functions; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
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

// Checks the bound parameters of `action` against its list and rewrites them
// as they are to be sent: a list given as a JSON array becomes Name.1=...,
// Name.2=... (a record's fields Name.1.Field=...). Refused, naming the
// parameter: a name the list does not hold (with the closest names), unless
// `accept_unknown`; a required parameter not given; a value that cannot be of
// its type (an empty value is not checked); a list value that is not a JSON
// array, or one past kMaxListItems items; a name given twice. An action
// without a list is left as it is. On a refusal `bound` is unchanged.
core::Status CheckBoundParameters(const ResolvedAction& action, BoundRequest& bound,
                                  bool accept_unknown);

}  // namespace kestrune::catalogue
