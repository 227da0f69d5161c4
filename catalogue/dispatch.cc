// Binding of templates to user values, and the ECS dispatch by numbers.
#include "catalogue/dispatch.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "core/text.h"
#include "request/signer.h"

namespace kestrune::catalogue {
namespace {

std::vector<std::string_view> ListEntries(core::StringListView list) {
  std::vector<std::string_view> entries;
  const std::size_t count = list.Count();
  entries.reserve(count);
  for (std::size_t n = 1; n <= count; ++n) entries.push_back(list.Entry(n));
  return entries;
}

// `text` in double quotes; built by appending, which keeps GCC 12's
// -Wrestrict false positive on a literal followed by a string quiet.
std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted.append(text).append(1, '"');
  return quoted;
}

// The name as a message may quote it: control bytes become "?".
std::string Printable(std::string_view text) {
  std::string shown(text.substr(0, 60));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return shown;
}

core::Result<std::string> Compose(std::string_view name, std::string_view value) {
  std::string text;
  text.reserve(name.size() + 1 + value.size());
  text.append(name).append("=").append(value);
  if (text.size() >= request::kItemLimit) {
    return core::Status::InvalidInput(
        "The value of parameter " + std::string(name) +
        " is too long: name, \"=\" and value make " +
        std::to_string(static_cast<std::uint32_t>(text.size())) +
        " characters, and a parameter must stay under " +
        std::to_string(static_cast<std::uint32_t>(request::kItemLimit)) + ".");
  }
  return text;
}

// Appends the further parameters the user named, after checking each name
// and that none repeats a name already bound.
core::Status AppendExtras(const ParameterValueSlots& slots, BoundRequest& bound) {
  for (const NamedValue& extra : slots.extras()) {
    if (core::Status status = CheckParameterName(extra.name); !status.ok()) return status;
    for (const std::string& parameter : bound.parameters) {
      if (request::ItemName(parameter) == extra.name) {
        return core::Status::InvalidInput("parameter " + extra.name + " is given twice");
      }
    }
    core::Result<std::string> text = Compose(extra.name, extra.value);
    if (!text.ok()) return text.status();
    bound.parameters.push_back(std::move(text).value());
  }
  return core::Status::Ok();
}

core::Result<BoundRequest> BindValues(const RequestTemplate& request_template,
                                      const ParameterValueSlots& slots, unsigned category_number,
                                      unsigned action_number) {
  const std::vector<std::string_view> names = ListEntries(request_template.names);
  BoundRequest bound;
  bound.service = request_template.service;
  bound.category_number = category_number;
  bound.action_number = action_number;
  bound.request_template = &request_template;
  bound.parameters.reserve(names.size() + slots.extras().size());

  for (std::size_t i = 0; i < names.size(); ++i) {
    std::optional<std::string_view> value;
    // Position 1 is the action itself; the user's values start at position 2.
    if (i == 0) {
      value = request_template.action();
    } else {
      value = slots.Get(i);
    }
    if (!value) continue;  // not given: not sent
    core::Result<std::string> text = Compose(names[i], *value);
    if (!text.ok()) return text.status();
    bound.parameters.push_back(std::move(text).value());
  }
  if (core::Status status = AppendExtras(slots, bound); !status.ok()) return status;
  if (!bound.parameters.empty()) bound.action_line = bound.parameters.front();
  return bound;
}

std::optional<core::Result<BoundRequest>> DispatchGroup(unsigned group, unsigned category_number,
                                                        unsigned action_number,
                                                        const ParameterValueSlots& slots) {
  const RequestTemplate* found = FindTemplate(kEcsService, group, action_number);
  if (found == nullptr) return std::nullopt;
  return BindValues(*found, slots, category_number, action_number);
}

}  // namespace

// ---------------------------------------------------------------------------
// ParameterValueSlots

ParameterValueSlots ParameterValueSlots::FromFormFields(std::span<const std::string_view> fields) {
  ParameterValueSlots slots;
  for (std::size_t k = 1; k <= fields.size() && k <= kCount; ++k) {
    if (!fields[k - 1].empty()) slots.slots_[k - 1] = std::string(fields[k - 1]);
  }
  return slots;
}

core::Result<ParameterValueSlots> ParameterValueSlots::FromForm(
    std::span<const std::string_view> fields,
    std::span<const std::pair<std::string_view, std::string_view>> pairs) {
  ParameterValueSlots slots = FromFormFields(fields);
  for (const auto& [name, value] : pairs) {
    if (value.empty()) continue;
    if (name.empty()) {
      return core::Status::InvalidInput(std::string("the value ")
                                            .append(Quoted(Printable(value)))
                                            .append(" has no parameter name beside it"));
    }
    slots.AddExtra(name, value);
  }
  return slots;
}

core::Status ParameterValueSlots::Set(std::size_t k, std::string_view value) {
  if (k == 0 || k > kCount) {
    return core::Status::InvalidInput("There is no parameter field " +
                                      std::to_string(static_cast<std::uint32_t>(k)) +
                                      "; the fields are numbered 1 to " +
                                      std::to_string(static_cast<std::uint32_t>(kCount)) + ".");
  }
  slots_[k - 1] = std::string(value);
  return core::Status::Ok();
}

void ParameterValueSlots::Reset(std::size_t k) {
  if (k >= 1 && k <= kCount) slots_[k - 1].reset();
}

std::optional<std::string_view> ParameterValueSlots::Get(std::size_t k) const {
  if (k == 0 || k > kCount || !slots_[k - 1]) return std::nullopt;
  return std::string_view(*slots_[k - 1]);
}

void ParameterValueSlots::SetExtra(std::string_view name, const std::optional<std::string>& value) {
  auto same = std::find_if(extras_.begin(), extras_.end(),
                           [name](const NamedValue& extra) { return extra.name == name; });
  if (!value) {
    if (same != extras_.end()) extras_.erase(same);
  } else if (same != extras_.end()) {
    same->value = *value;
  } else {
    AddExtra(name, *value);
  }
}

// ---------------------------------------------------------------------------
// Binding

core::Result<request::ActionParameterList> ToActionParameters(const BoundRequest& bound) {
  request::ActionParameterList list;
  for (const std::string& parameter : bound.parameters) {
    core::Status appended = list.Append(parameter);
    if (!appended.ok()) {
      std::string_view action = bound.request_template != nullptr ? bound.request_template->action()
                                                                  : std::string_view("the action");
      return core::Status::InvalidInput(std::string(action) + ": " + appended.message());
    }
  }
  return list;
}

core::Result<BoundRequest> BindTemplate(const RequestTemplate& request_template,
                                        const ParameterValueSlots& slots) {
  const ResolvedAction numbers = ResolveTemplate(request_template);
  return BindValues(request_template, slots, numbers.category_number, numbers.action_number);
}

core::Result<BoundRequest> BindTemplate(const RequestTemplate& request_template) {
  return BindTemplate(request_template, ParameterValueSlots{});
}

std::optional<core::Result<BoundRequest>> DispatchCategory(unsigned category_number,
                                                           unsigned action_number,
                                                           const ParameterValueSlots& slots) {
  switch (category_number) {
    case 1:
      return DispatchInstanceAction(action_number, slots);
    case 11:
    case 24:
      return DispatchGroup(11, category_number, action_number, slots);
    case 14:
    case 15:
    case 16:
      return DispatchGroup(14, category_number, action_number, slots);
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 12:
    case 13:
      return DispatchGroup(category_number, category_number, action_number, slots);
    default:
      return std::nullopt;
  }
}

std::optional<core::Result<BoundRequest>> DispatchInstanceAction(unsigned action_number,
                                                                 const ParameterValueSlots& slots) {
  return DispatchGroup(1, 1, action_number, slots);
}

std::optional<core::Result<BoundRequest>> DispatchRegionAction(unsigned action_number,
                                                               const ParameterValueSlots& slots) {
  return DispatchGroup(11, 11, action_number, slots);
}

std::optional<core::Result<BoundRequest>> DispatchTypesAndTasksAction(
    unsigned action_number, const ParameterValueSlots& slots) {
  return DispatchGroup(14, 16, action_number, slots);
}

std::optional<core::Result<BoundRequest>> SendApiGatewayOther(unsigned action_number) {
  if (action_number != 1 && action_number != 2) return std::nullopt;
  const RequestTemplate* found = FindTemplate(kApiGatewayService, 8, action_number);
  if (found == nullptr) return std::nullopt;
  return BindTemplate(*found);
}

// ---------------------------------------------------------------------------

std::optional<core::Result<BoundRequest>> BindResolved(const ResolvedAction& action,
                                                       const ParameterValueSlots& slots) {
  if (action.request_template == nullptr) {
    if (action.action_name.empty()) return std::nullopt;
    BoundRequest bound;
    bound.service = action.service;
    bound.action_line = "Action=" + action.action_name;
    bound.parameters.push_back(bound.action_line);
    if (core::Status status = AppendExtras(slots, bound); !status.ok()) return status;
    return bound;
  }
  if (action.service == kEcsService) {
    return DispatchCategory(action.category_number, action.action_number, slots);
  }
  return BindValues(*action.request_template, slots, action.category_number, action.action_number);
}

core::Status CheckParameterName(std::string_view name) {
  if (name.empty()) return core::Status::InvalidInput("a parameter needs a name");
  for (char c : name) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!allowed) {
      return core::Status::InvalidInput(
          Quoted(Printable(name))
              .append(" is not a parameter name (letters, digits, \".\", \"_\" and \"-\" only)"));
    }
  }
  if (name == "Action" || request::IsBuilderOwned(name)) {
    return core::Status::InvalidInput(
        Quoted(name).append(" is written by the request itself and cannot be given"));
  }
  return core::Status::Ok();
}

}  // namespace kestrune::catalogue
