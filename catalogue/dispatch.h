// Binding: turns a chosen action and the user's parameter values into the
// ActionLine and the ordered action parameters of one request. Nothing here
// signs or sends; the engine hands the parameters to the request builder.
//
// One binding rule serves every service and both faces, so the same visible
// input gives the same request. Parameter 1 is always "Action=" + the action
// name. Then, for a template, each parameter i (i >= 2) the user gave a value
// (slot i - 1; an explicitly given empty value counts as given) is sent as
// names[i] + "=" + value in the template's order; a parameter the user did
// not give is not sent at all. The template's stored sample values are never
// sent: they are hints for the dialog's fields, nothing more. Last come the
// further parameters the user named, in the order given. A browsing entry
// without a template sends its own action name and the named parameters only.
//
// A further parameter's name must look like one (letters, digits, ".", "_",
// "-") and must not be one the request builder writes or a template
// parameter given twice; a composed parameter of request::kItemLimit
// characters or more is refused. Each refusal names the parameter; nothing is
// ever truncated and nothing partial is returned.
//
// Plain functions over constant data and caller-owned values; safe from any
// thread.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "core/status.h"
#include "request/query.h"

namespace kestrune::catalogue {

// One parameter the user named beyond the template's own.
struct NamedValue {
  std::string name;
  std::string value;
  friend bool operator==(const NamedValue&, const NamedValue&) = default;
};

// What the user gave for one request: slot k holds the value of the
// template's k-th parameter after "Action" (the parameter form's field k, or
// the command line's Name=Value for that name); `extras` are further
// parameters by name, in the order given.
class ParameterValueSlots {
 public:
  // More than the longest template has parameters (13).
  static constexpr std::size_t kCount = 16;

  ParameterValueSlots() = default;
  // The slots of the form's fields in order (at most kCount are read): a
  // non-empty field gives its slot, an empty one leaves it not given.
  static ParameterValueSlots FromFormFields(std::span<const std::string_view> fields);
  // The dialog's whole form: the captioned fields as above, then the free
  // name/value pairs in order. A pair whose value is blank is not sent (the
  // same blank rule as the fields); a value without a name is refused.
  static core::Result<ParameterValueSlots> FromForm(
      std::span<const std::string_view> fields,
      std::span<const std::pair<std::string_view, std::string_view>> pairs);

  // Gives slot k (1..kCount) a value, which may be empty. Refuses k outside.
  core::Status Set(std::size_t k, std::string_view value);
  // Takes slot k's value back (not given); no effect outside 1..kCount.
  void Reset(std::size_t k);
  // Slot k's value, or nullopt when it was not given or k is out of range.
  std::optional<std::string_view> Get(std::size_t k) const;

  // Adds a further parameter; its name is checked when the request is bound.
  void AddExtra(std::string_view name, std::string_view value) {
    extras_.push_back(NamedValue{std::string(name), std::string(value)});
  }
  // Sets (or, for nullopt, removes) the further parameter `name`.
  void SetExtra(std::string_view name, const std::optional<std::string>& value);
  const std::vector<NamedValue>& extras() const { return extras_; }

 private:
  std::array<std::optional<std::string>, kCount> slots_;
  std::vector<NamedValue> extras_;
};

// Whether `name` can be sent as a further parameter: letters, digits, ".",
// "_" and "-" only (so "Tag.1.Key" and "InstanceIds" pass), and not a name
// the request builder writes itself ("Action" included). The error names the
// parameter and the rule it breaks.
core::Status CheckParameterName(std::string_view name);

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

// The entry every front end uses: binds a resolved choice. ECS templates go
// through DispatchCategory (nullopt if it is not served); IoT and API Gateway
// templates through BindTemplate (a stored value is never sent in place of
// one the user left out); a choice without a template sends its own action
// name with the further parameters, and is nullopt when it has no action name
// either.
std::optional<core::Result<BoundRequest>> BindResolved(const ResolvedAction& action,
                                                       const ParameterValueSlots& slots);

}  // namespace kestrune::catalogue
