// Binding: turns a chosen action and the user's parameter values into the
// ActionLine and the ordered action parameters of one request. Nothing here
// signs or sends; the engine hands the parameters to the request builder.
//
// One binding rule serves every service. Parameter 1 is always
// "Action=" + the template's action name. Parameter i (i >= 2) is
// names[i] + "=" + value, where the value is
//   - slot i - 1 of the ParameterValueSlots when the user gave that slot a
//     value (an explicitly given empty value counts as given), else
//   - the template's stored value at position i, which is empty past the end
//     of its values list.
// ECS templates store no values, so an ECS parameter whose slot was not given
// is sent as "name=" with nothing after it. IoT and API Gateway templates
// keep their stored sample values wherever the user gave none; parameters
// past the eighth always take their stored value. A name that occurs twice is
// bound twice, each time at its own position.
//
// A composed parameter of request::kItemLimit (200) characters or more is
// refused with an error naming the parameter; nothing is ever truncated and
// nothing partial is returned.
//
// Plain functions over constant data and caller-owned values; safe from any
// thread. ApiGroupDraft is a value owned by its user.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "core/status.h"
#include "request/query.h"

namespace kestrune::catalogue {

// The values of the parameter form's eight fields; slot k belongs to field k
// and binds the template's k-th parameter after "Action".
class ParameterValueSlots {
 public:
  static constexpr std::size_t kCount = 8;

  ParameterValueSlots() = default;
  // The slots of the form's fields in order (at most eight are read): a
  // non-empty field gives its slot, an empty one leaves it not given.
  static ParameterValueSlots FromFormFields(std::span<const std::string_view> fields);

  // Gives slot k (1..8) a value, which may be empty. Refuses k outside 1..8.
  core::Status Set(std::size_t k, std::string_view value);
  // Takes slot k's value back (not given); no effect outside 1..8.
  void Reset(std::size_t k);
  // Slot k's value, or nullopt when it was not given or k is outside 1..8.
  std::optional<std::string_view> Get(std::size_t k) const;

 private:
  std::array<std::optional<std::string>, kCount> slots_;
};

// The outcome of binding one action.
struct BoundRequest {
  // "Action=" + the action name; the formatters put it at the head of the
  // report text.
  std::string action_line;
  // "name=value" texts in binding order, action_line first.
  std::vector<std::string> parameters;
  // The template bound and the numbers under which the formatters know it.
  unsigned service = 0;
  unsigned category_number = 0;
  unsigned action_number = 0;
  const RequestTemplate* request_template = nullptr;
};

// Copies the bound parameters into the list the request builder takes. Refuses,
// leaving nothing partial, what the list refuses (more parameters than one
// request carries, an item too long).
core::Result<request::ActionParameterList> ToActionParameters(const BoundRequest& bound);

// Binds a template by the rule above, with its own stored values. The result
// carries the template's own numbering (ResolveTemplate).
core::Result<BoundRequest> BindTemplate(const RequestTemplate& request_template,
                                        const ParameterValueSlots& slots);
// Binds with the stored values alone (no user values).
core::Result<BoundRequest> BindTemplate(const RequestTemplate& request_template);

// ECS dispatch by CategoryNumber and ActionNumber (the pair ResolvedAction
// carries). Returns nullopt when the pair is not served: then no request may
// be sent. Served: category 1 (template group 1), 11 and 24 (group 11), 14, 15
// and 16 (group 14), and 2..10, 12, 13 (the group of the same number); the
// ActionNumber is the template's position in that group. A served pair gives
// the binding, or the error that refused it. The result keeps the numbers it
// was called with.
std::optional<core::Result<BoundRequest>> DispatchCategory(unsigned category_number,
                                                           unsigned action_number,
                                                           const ParameterValueSlots& slots);
// The three routes of DispatchCategory, over template groups 1, 11 and 14.
std::optional<core::Result<BoundRequest>> DispatchInstanceAction(unsigned action_number,
                                                                 const ParameterValueSlots& slots);
std::optional<core::Result<BoundRequest>> DispatchRegionAction(unsigned action_number,
                                                               const ParameterValueSlots& slots);
std::optional<core::Result<BoundRequest>> DispatchTypesAndTasksAction(
    unsigned action_number, const ParameterValueSlots& slots);

// The two API Gateway "API其他" actions with their stored values: 1 is
// DescribeRegions, 2 DescribeSystemParameters; nullopt for any other number.
std::optional<core::Result<BoundRequest>> SendApiGatewayOther(unsigned action_number);

// The CreateApiGroup values as a session has set them: starts as the stored
// values (the action and the two placeholders). Setting the name clears the
// description, as a name written over the stored list ends it; setting the
// description afterwards keeps the name. So name then description gives
// (CreateApiGroup, name, description).
class ApiGroupDraft {
 public:
  static constexpr std::size_t kMaxNameLength = 50;
  static constexpr std::size_t kMaxDescriptionLength = 180;

  ApiGroupDraft();

  // Refuse, changing nothing, a name over kMaxNameLength or a description over
  // kMaxDescriptionLength characters (bytes of the UTF-8 text).
  core::Status SetApiGroupName(std::string_view name);
  core::Status SetApiGroupDescription(std::string_view description);

  // The values list: the action name, then GroupName's and Description's.
  std::vector<std::string_view> values() const;

  // Binds CreateApiGroup with these values in place of the stored ones.
  core::Result<BoundRequest> Bind(const ParameterValueSlots& slots) const;

 private:
  std::string name_;
  std::string description_;
};

// The entry every front end uses: binds a resolved choice. ECS goes through
// DispatchCategory (nullopt if it is not served); IoT and API Gateway through
// BindTemplate, except CreateApiGroup, which takes `draft`'s values when one
// is given.
std::optional<core::Result<BoundRequest>> BindResolved(const ResolvedAction& action,
                                                       const ParameterValueSlots& slots,
                                                       const ApiGroupDraft* draft = nullptr);

}  // namespace kestrune::catalogue
