// Binding: turns a chosen action and the user's parameter values into the
// ActionLine and the ordered action parameters of one request. Nothing here
// signs or sends; the engine hands the parameters to the request builder.
//
// One binding rule serves every service and both faces, so the same visible
// input gives the same request. Parameter 1 is always "Action=" + the action
// name. Then, for a template, each parameter i (i >= 2) whose name the user
// gave a value (an explicitly given empty value counts as given) is sent as
// names[i] + "=" + value in the template's order; a parameter the user did
// not give is not sent at all. The template's stored sample values are never
// sent: they are hints for the dialog's fields, nothing more. Last come the
// further parameters the user named, in the order given. A browsing entry
// without a template sends its own action name and the named parameters only.
//
// A further parameter's name must look like one (letters, digits, ".", "_",
// "-") and must not be one the request builder writes; a name given more
// often than the template holds it (once, for a further parameter) is
// refused as given twice; a composed parameter of request::kItemLimit
// characters or more is refused. Each refusal names the parameter; nothing is
// ever truncated and nothing partial is returned.
//
// Plain functions over constant data and caller-owned values; safe from any
// thread.
#pragma once

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

// One value the user gave. `value` is nullopt only for a place of a name the
// template holds more than once that the user left empty (see below).
struct NamedValue {
  std::string name;
  std::optional<std::string> value;
  friend bool operator==(const NamedValue&, const NamedValue&) = default;
};

// What the user gave for one request: values by parameter name, in the
// order given. A name is given once: the template's parameter of that name
// (at every place the template holds it) or, for a name the template does
// not hold, a further parameter. A name the template holds more than once may
// also be given once per place, in order: each entry then fills the next
// place (nullopt: that place left out). An explicitly given empty value is
// given; a name not given is not sent.
class ParameterValues {
 public:
  ParameterValues() = default;
  // The dialog's whole form: field k (0-based) holds the value of the
  // template's parameter k + 1 (at most as many fields as the template has
  // parameters are read; without a template none), a non-empty field giving
  // it; then the free name/value pairs in order. A pair whose value is blank
  // is not sent (the same blank rule as the fields); a value without a name
  // is refused.
  static core::Result<ParameterValues> FromForm(
      const RequestTemplate* request_template, std::span<const std::string_view> fields,
      std::span<const std::pair<std::string_view, std::string_view>> pairs);

  // Gives `name` its value: the first entry of that name takes it, in its
  // place; else it is added last.
  void Set(std::string_view name, std::string_view value);
  // Adds another entry of `name` last (a further place of a name the
  // template holds more than once, or a name given again, which binding
  // refuses).
  void Add(std::string_view name, std::optional<std::string_view> value);
  // Removes every entry of `name`.
  void Erase(std::string_view name);
  // The first value given for `name`; nullopt when none was.
  std::optional<std::string_view> Get(std::string_view name) const;

  const std::vector<NamedValue>& entries() const { return entries_; }

 private:
  std::vector<NamedValue> entries_;
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
                                        const ParameterValues& values);
// Binds with no user values.
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
                                                           const ParameterValues& values);
// The three routes of DispatchCategory, over template groups 1, 11 and 14.
std::optional<core::Result<BoundRequest>> DispatchInstanceAction(unsigned action_number,
                                                                 const ParameterValues& values);
std::optional<core::Result<BoundRequest>> DispatchRegionAction(unsigned action_number,
                                                               const ParameterValues& values);
std::optional<core::Result<BoundRequest>> DispatchTypesAndTasksAction(
    unsigned action_number, const ParameterValues& values);

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
                                                       const ParameterValues& values);

}  // namespace kestrune::catalogue
