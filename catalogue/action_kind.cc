#include "catalogue/action_kind.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "catalogue/parameters.h"

namespace kestrune::catalogue {
namespace {

using namespace std::string_view_literals;

// The verbs of the three services' actions that only read. A name such as
// "Describe" followed by anything reads; no action of these APIs that starts
// so changes state. IoT's BatchGetDeviceState reads several devices at once.
constexpr std::array kReadOnlyVerbs = {"Describe"sv, "List"sv,  "Query"sv,
                                       "Get"sv,      "Check"sv, "BatchGet"sv};

}  // namespace

bool TakesClientToken(unsigned service_number, std::string_view action) {
  const std::optional<std::vector<ParameterInfo>> listed = KnownParameters(service_number, action);
  return listed && std::ranges::any_of(*listed, [](const ParameterInfo& parameter) {
           return parameter.name == "ClientToken";
         });
}

ActionKind KindOfAction(unsigned service_number, std::string_view action) {
  for (std::string_view verb : kReadOnlyVerbs) {
    // The verb and then a capital: "Getaway" is no read.
    if (action.size() > verb.size() && action.starts_with(verb) && action[verb.size()] >= 'A' &&
        action[verb.size()] <= 'Z') {
      return ActionKind::kReadOnly;
    }
  }
  return TakesClientToken(service_number, action) ? ActionKind::kIdempotent : ActionKind::kMutating;
}

}  // namespace kestrune::catalogue
