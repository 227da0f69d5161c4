// Binding of templates to user values, and the ECS dispatch by numbers.
#include "catalogue/dispatch.h"

#include <cstdint>
#include <utility>

#include "core/text.h"

namespace kestrune::catalogue {
namespace {

// Where CreateApiGroup stands among the templates: the one action whose values
// a session's ApiGroupDraft replaces.
struct TemplatePlace {
  unsigned service;
  unsigned group;
  unsigned position;
};
constexpr TemplatePlace kCreateApiGroupPlace = {kApiGatewayService, 1, 1};

const RequestTemplate* FindCreateApiGroup() {
  return FindTemplate(kCreateApiGroupPlace.service, kCreateApiGroupPlace.group,
                      kCreateApiGroupPlace.position);
}

std::vector<std::string_view> ListEntries(core::StringListView list) {
  std::vector<std::string_view> entries;
  const std::size_t count = list.Count();
  entries.reserve(count);
  for (std::size_t n = 1; n <= count; ++n) entries.push_back(list.Entry(n));
  return entries;
}

core::Result<std::string> Compose(std::string_view name, std::string_view value) {
  std::string text;
  text.reserve(name.size() + 1 + value.size());
  text.append(name).append("=").append(value);
  if (text.size() >= request::kItemLimit) {
    return core::Status::InvalidInput(
        "The value of parameter " + std::string(name) +
        " is too long: name, \"=\" and value make " +
        core::FormatDecimal(static_cast<std::uint32_t>(text.size())) +
        " characters, and a parameter must stay under " +
        core::FormatDecimal(static_cast<std::uint32_t>(request::kItemLimit)) + ".");
  }
  return text;
}

// `values` holds the action name first, then the stored values by position.
core::Result<BoundRequest> BindValues(const RequestTemplate& request_template,
                                      const std::vector<std::string_view>& values,
                                      const ParameterValueSlots& slots, unsigned category_number,
                                      unsigned action_number) {
  const std::vector<std::string_view> names = ListEntries(request_template.names);
  BoundRequest bound;
  bound.service = request_template.service;
  bound.category_number = category_number;
  bound.action_number = action_number;
  bound.request_template = &request_template;
  bound.parameters.reserve(names.size());

  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string_view value = i < values.size() ? values[i] : std::string_view{};
    // Position 1 is the action itself; the user's values start at position 2.
    if (i > 0) {
      if (std::optional<std::string_view> given = slots.Get(i)) value = *given;
    }
    core::Result<std::string> text = Compose(names[i], value);
    if (!text.ok()) return text.status();
    bound.parameters.push_back(std::move(text).value());
  }
  if (!bound.parameters.empty()) bound.action_line = bound.parameters.front();
  return bound;
}

std::optional<core::Result<BoundRequest>> DispatchGroup(unsigned group, unsigned category_number,
                                                        unsigned action_number,
                                                        const ParameterValueSlots& slots) {
  const RequestTemplate* found = FindTemplate(kEcsService, group, action_number);
  if (found == nullptr) return std::nullopt;
  return BindValues(*found, ListEntries(found->values), slots, category_number, action_number);
}

bool IsCreateApiGroup(const RequestTemplate& request_template) {
  return request_template.service == kCreateApiGroupPlace.service &&
         request_template.group == kCreateApiGroupPlace.group &&
         request_template.position == kCreateApiGroupPlace.position;
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

core::Status ParameterValueSlots::Set(std::size_t k, std::string_view value) {
  if (k == 0 || k > kCount) {
    return core::Status::InvalidInput("There is no parameter field " +
                                      core::FormatDecimal(static_cast<std::uint32_t>(k)) +
                                      "; the fields are numbered 1 to 8.");
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
  return BindValues(request_template, ListEntries(request_template.values), slots,
                    numbers.category_number, numbers.action_number);
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
// ApiGroupDraft

ApiGroupDraft::ApiGroupDraft() {
  const RequestTemplate* create = FindCreateApiGroup();
  if (create != nullptr) {
    name_ = std::string(create->values.Entry(2));
    description_ = std::string(create->values.Entry(3));
  }
}

core::Status ApiGroupDraft::SetApiGroupName(std::string_view name) {
  if (name.size() > kMaxNameLength) {
    return core::Status::InvalidInput(
        "The API group name has " + core::FormatDecimal(static_cast<std::uint32_t>(name.size())) +
        " characters; at most " + core::FormatDecimal(static_cast<std::uint32_t>(kMaxNameLength)) +
        " are allowed.");
  }
  name_ = std::string(name);
  description_.clear();
  return core::Status::Ok();
}

core::Status ApiGroupDraft::SetApiGroupDescription(std::string_view description) {
  if (description.size() > kMaxDescriptionLength) {
    return core::Status::InvalidInput(
        "The API group description has " +
        core::FormatDecimal(static_cast<std::uint32_t>(description.size())) +
        " characters; at most " +
        core::FormatDecimal(static_cast<std::uint32_t>(kMaxDescriptionLength)) + " are allowed.");
  }
  description_ = std::string(description);
  return core::Status::Ok();
}

std::vector<std::string_view> ApiGroupDraft::values() const {
  const RequestTemplate* create = FindCreateApiGroup();
  std::string_view action = create != nullptr ? create->action() : std::string_view{};
  return {action, name_, description_};
}

core::Result<BoundRequest> ApiGroupDraft::Bind(const ParameterValueSlots& slots) const {
  const RequestTemplate* create = FindCreateApiGroup();
  if (create == nullptr) return core::Status::Error("CreateApiGroup is not in the catalogue.");
  // An API Gateway template is known by its group and position.
  return BindValues(*create, values(), slots, kCreateApiGroupPlace.group,
                    kCreateApiGroupPlace.position);
}

// ---------------------------------------------------------------------------

std::optional<core::Result<BoundRequest>> BindResolved(const ResolvedAction& action,
                                                       const ParameterValueSlots& slots,
                                                       const ApiGroupDraft* draft) {
  if (action.request_template == nullptr) return std::nullopt;
  if (action.service == kEcsService) {
    return DispatchCategory(action.category_number, action.action_number, slots);
  }
  if (draft != nullptr && IsCreateApiGroup(*action.request_template)) return draft->Bind(slots);
  return BindValues(*action.request_template, ListEntries(action.request_template->values), slots,
                    action.category_number, action.action_number);
}

}  // namespace kestrune::catalogue
