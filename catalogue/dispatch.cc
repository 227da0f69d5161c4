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

core::Status GivenTwice(std::string_view name) {
  return core::Status::InvalidInput("parameter " + std::string(name) + " is given twice");
}

// Appends the values of the names the template does not hold, in the order
// given, after checking each name and that none repeats a name already bound.
core::Status AppendFurther(const ParameterValues& values, std::span<const std::string_view> held,
                           BoundRequest& bound) {
  for (const NamedValue& entry : values.entries()) {
    if (std::ranges::find(held, entry.name) != held.end()) continue;
    if (core::Status status = CheckParameterName(entry.name); !status.ok()) return status;
    for (const std::string& parameter : bound.parameters) {
      if (request::ItemName(parameter) == entry.name) return GivenTwice(entry.name);
    }
    if (!entry.value) continue;
    core::Result<std::string> text = Compose(entry.name, *entry.value);
    if (!text.ok()) return text.status();
    bound.parameters.push_back(std::move(text).value());
  }
  return core::Status::Ok();
}

core::Result<BoundRequest> BindValues(const RequestTemplate& request_template,
                                      const ParameterValues& values, unsigned category_number,
                                      unsigned action_number) {
  const std::vector<std::string_view> names = ListEntries(request_template.names);
  BoundRequest bound;
  bound.service = request_template.service;
  bound.category_number = category_number;
  bound.action_number = action_number;
  bound.request_template = &request_template;
  bound.parameters.reserve(names.size() + values.entries().size());

  for (std::size_t i = 0; i < names.size(); ++i) {
    std::optional<std::string_view> value;
    // Position 1 is the action itself; the user's values start at position 2.
    if (i == 0) {
      value = request_template.action();
    } else {
      const std::span<const std::string_view> params(names.data() + 1, names.size() - 1);
      const auto places = static_cast<std::size_t>(std::ranges::count(params, names[i]));
      const auto place =
          static_cast<std::size_t>(std::count(names.begin() + 1, names.begin() + i, names[i]));
      std::vector<const NamedValue*> given;
      for (const NamedValue& entry : values.entries()) {
        if (entry.name == names[i]) given.push_back(&entry);
      }
      if (given.size() > places && given.size() > 1) return GivenTwice(names[i]);
      // One value serves every place of its name; several fill them in order.
      const NamedValue* entry = given.size() == 1      ? given.front()
                                : place < given.size() ? given[place]
                                                       : nullptr;
      if (entry != nullptr && entry->value) value = *entry->value;
    }
    if (!value) continue;  // not given: not sent
    core::Result<std::string> text = Compose(names[i], *value);
    if (!text.ok()) return text.status();
    bound.parameters.push_back(std::move(text).value());
  }
  const std::span<const std::string_view> held(names.data() + (names.empty() ? 0 : 1),
                                               names.empty() ? 0 : names.size() - 1);
  if (core::Status status = AppendFurther(values, held, bound); !status.ok()) return status;
  if (!bound.parameters.empty()) bound.action_line = bound.parameters.front();
  return bound;
}

std::optional<core::Result<BoundRequest>> DispatchGroup(unsigned group, unsigned category_number,
                                                        unsigned action_number,
                                                        const ParameterValues& values) {
  const RequestTemplate* found = FindTemplate(kEcsService, group, action_number);
  if (found == nullptr) return std::nullopt;
  return BindValues(*found, values, category_number, action_number);
}

}  // namespace

// ---------------------------------------------------------------------------
// ParameterValues

core::Result<ParameterValues> ParameterValues::FromForm(
    const RequestTemplate* request_template, std::span<const std::string_view> fields,
    std::span<const std::pair<std::string_view, std::string_view>> pairs) {
  ParameterValues values;
  if (request_template != nullptr) {
    const core::StringListView names = request_template->parameter_names();
    const std::vector<std::string_view> held = ListEntries(names);
    for (std::size_t k = 0; k < fields.size() && k < held.size(); ++k) {
      // A name held at several places keeps each field at its own place.
      if (std::ranges::count(held, held[k]) > 1) {
        values.Add(held[k],
                   fields[k].empty() ? std::nullopt : std::optional<std::string_view>(fields[k]));
      } else if (!fields[k].empty()) {
        values.Add(held[k], fields[k]);
      }
    }
  }
  for (const auto& [name, value] : pairs) {
    if (value.empty()) continue;
    if (name.empty()) {
      return core::Status::InvalidInput(std::string("the value ")
                                            .append(Quoted(Printable(value)))
                                            .append(" has no parameter name beside it"));
    }
    values.Add(name, value);
  }
  return values;
}

void ParameterValues::Set(std::string_view name, std::string_view value) {
  auto same = std::ranges::find(entries_, name, &NamedValue::name);
  if (same != entries_.end()) {
    same->value = std::string(value);
  } else {
    Add(name, value);
  }
}

void ParameterValues::Add(std::string_view name, std::optional<std::string_view> value) {
  entries_.push_back(
      NamedValue{std::string(name), value ? std::optional<std::string>(*value) : std::nullopt});
}

void ParameterValues::Erase(std::string_view name) {
  std::erase_if(entries_, [name](const NamedValue& entry) { return entry.name == name; });
}

std::optional<std::string_view> ParameterValues::Get(std::string_view name) const {
  for (const NamedValue& entry : entries_) {
    if (entry.name == name && entry.value) return std::string_view(*entry.value);
  }
  return std::nullopt;
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
                                        const ParameterValues& values) {
  const ResolvedAction numbers = ResolveTemplate(request_template);
  return BindValues(request_template, values, numbers.category_number, numbers.action_number);
}

core::Result<BoundRequest> BindTemplate(const RequestTemplate& request_template) {
  return BindTemplate(request_template, ParameterValues{});
}

std::optional<core::Result<BoundRequest>> DispatchCategory(unsigned category_number,
                                                           unsigned action_number,
                                                           const ParameterValues& values) {
  switch (category_number) {
    case 1:
      return DispatchInstanceAction(action_number, values);
    case 11:
    case 24:
      return DispatchGroup(11, category_number, action_number, values);
    case 14:
    case 15:
    case 16:
      return DispatchGroup(14, category_number, action_number, values);
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
      return DispatchGroup(category_number, category_number, action_number, values);
    default:
      return std::nullopt;
  }
}

std::optional<core::Result<BoundRequest>> DispatchInstanceAction(unsigned action_number,
                                                                 const ParameterValues& values) {
  return DispatchGroup(1, 1, action_number, values);
}

std::optional<core::Result<BoundRequest>> DispatchRegionAction(unsigned action_number,
                                                               const ParameterValues& values) {
  return DispatchGroup(11, 11, action_number, values);
}

std::optional<core::Result<BoundRequest>> DispatchTypesAndTasksAction(
    unsigned action_number, const ParameterValues& values) {
  return DispatchGroup(14, 16, action_number, values);
}

std::optional<core::Result<BoundRequest>> SendApiGatewayOther(unsigned action_number) {
  if (action_number != 1 && action_number != 2) return std::nullopt;
  const RequestTemplate* found = FindTemplate(kApiGatewayService, 8, action_number);
  if (found == nullptr) return std::nullopt;
  return BindTemplate(*found);
}

// ---------------------------------------------------------------------------

std::optional<core::Result<BoundRequest>> BindResolved(const ResolvedAction& action,
                                                       const ParameterValues& values) {
  if (action.request_template == nullptr) {
    if (action.action_name.empty()) return std::nullopt;
    BoundRequest bound;
    bound.service = action.service;
    bound.action_line = "Action=" + action.action_name;
    bound.parameters.push_back(bound.action_line);
    if (core::Status status = AppendFurther(values, {}, bound); !status.ok()) return status;
    return bound;
  }
  if (action.service == kEcsService) {
    return DispatchCategory(action.category_number, action.action_number, values);
  }
  return BindValues(*action.request_template, values, action.category_number, action.action_number);
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
