#include "catalogue/parameters.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <span>

#include "core/ascii.h"
#include "core/closest.h"
#include "nlohmann/json.hpp"

namespace kestrune::catalogue {
namespace {

using namespace std::string_view_literals;

struct ListedParameters {
  unsigned service;
  std::string_view action;
  std::string_view parameters;  // the packed form the generator writes
};

#include "catalogue/parameter_table.inc"

constexpr bool Sorted() {
  for (std::size_t i = 1; i < kListedParameters.size(); ++i) {
    const ListedParameters& a = kListedParameters[i - 1];
    const ListedParameters& b = kListedParameters[i];
    if (a.service > b.service || (a.service == b.service && a.action >= b.action)) return false;
  }
  return true;
}
static_assert(Sorted(), "the table is sorted by service, then action, once each");

std::optional<ParameterType> TypeOfLetter(char letter) {
  switch (letter) {
    case 's':
      return ParameterType::kString;
    case 'i':
      return ParameterType::kInteger;
    case 'l':
      return ParameterType::kLong;
    case 'b':
      return ParameterType::kBoolean;
    case 'f':
      return ParameterType::kFloat;
    case 'd':
      return ParameterType::kDouble;
    case 'j':
      return ParameterType::kJson;
    case 'r':
      return ParameterType::kRepeatList;
    case 't':
      return ParameterType::kStruct;
    case 'a':
      return ParameterType::kArray;
    default:
      return std::nullopt;
  }
}

// Reads parameters from `packed` at `pos` up to a ')' or the end.
std::vector<ParameterInfo> Unpack(std::string_view packed, std::size_t& pos) {
  std::vector<ParameterInfo> list;
  while (pos < packed.size() && packed[pos] != ')') {
    ParameterInfo info;
    info.type = TypeOfLetter(packed[pos++]).value_or(ParameterType::kString);
    for (; pos < packed.size() && (packed[pos] == '!' || packed[pos] == '^'); ++pos) {
      (packed[pos] == '!' ? info.required : info.in_body) = true;
    }
    const std::size_t end = packed.find_first_of(",()", pos);
    info.name = std::string(packed.substr(pos, end - pos));
    pos = end == std::string_view::npos ? packed.size() : end;
    if (pos < packed.size() && packed[pos] == '(') {
      ++pos;
      info.members = Unpack(packed, pos);
      if (pos < packed.size()) ++pos;  // ')'
    }
    list.push_back(std::move(info));
    if (pos < packed.size() && packed[pos] == ',') ++pos;
  }
  return list;
}

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

template <typename Int>
bool FitsInteger(std::string_view text) {
  Int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool FitsType(ParameterType type, std::string_view value) {
  if (value.empty()) return true;
  switch (type) {
    case ParameterType::kInteger:
      return FitsInteger<std::int32_t>(value);
    case ParameterType::kLong:
      return FitsInteger<std::int64_t>(value);
    case ParameterType::kBoolean:
      return core::EqualsIgnoreCase(value, "true") || core::EqualsIgnoreCase(value, "false");
    case ParameterType::kFloat:
    case ParameterType::kDouble: {
      double number = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
      return error == std::errc() && end == value.data() + value.size() && std::isfinite(number);
    }
    default:
      return true;
  }
}

const ParameterInfo* FindByName(const std::vector<ParameterInfo>& list, std::string_view name) {
  for (const ParameterInfo& info : list) {
    if (info.name == name) return &info;
  }
  return nullptr;
}

struct Checker {
  const std::string& action;
  std::vector<std::string> out;
  std::set<std::string, std::less<>> seen;

  core::Status Emit(std::string name, std::string_view value) {
    if (!seen.insert(name).second) {
      return core::Status::InvalidInput("parameter " + name + " is given twice");
    }
    out.push_back(std::move(name) + "=" + std::string(value));
    return core::Status::Ok();
  }

  core::Status TypeError(std::string_view name, ParameterType type) const {
    return core::Status::InvalidInput(action + ": " + std::string(name) + " must be " +
                                      (type == ParameterType::kInteger ? "an " : "a ") +
                                      std::string(TypeName(type)));
  }

  // `rest` follows "List." in a given name: the item number, then a member.
  core::Status Item(const ParameterInfo& list, std::string_view full, std::string_view rest,
                    std::string_view value) {
    const std::size_t dot = rest.find('.');
    const std::string_view number = rest.substr(0, dot);
    if (!IsDigits(number) || number.size() > 4 || number[0] == '0') {
      return core::Status::InvalidInput(action + ": " + std::string(full) + ": an item of " +
                                        list.name + " is numbered from 1");
    }
    if (std::stoul(std::string(number)) > kMaxListItems) {
      return core::Status::InvalidInput(action + ": " + std::string(full) + ": " + list.name +
                                        " takes at most " + std::to_string(kMaxListItems) +
                                        " items");
    }
    if (list.members.empty()) {
      if (dot != std::string_view::npos) return Unknown(full, {});
      return Emit(std::string(full), value);
    }
    if (dot == std::string_view::npos) return Unknown(full, {});
    return Member(list.members, full, rest.substr(dot + 1), value);
  }

  // A record's member (or a member's own item) by name.
  core::Status Member(const std::vector<ParameterInfo>& members, std::string_view full,
                      std::string_view rest, std::string_view value) {
    const std::size_t dot = rest.find('.');
    const ParameterInfo* member = FindByName(members, rest.substr(0, dot));
    if (member == nullptr) return Unknown(full, {});
    if (dot != std::string_view::npos) {
      if (member->type == ParameterType::kRepeatList) {
        return Item(*member, full, rest.substr(dot + 1), value);
      }
      if (member->type != ParameterType::kStruct) return Unknown(full, {});
      return Emit(std::string(full), value);
    }
    if (!FitsType(member->type, value)) return TypeError(full, member->type);
    return Emit(std::string(full), value);
  }

  core::Status Unknown(std::string_view name, const std::vector<ParameterInfo>& known) const {
    std::string message = action + " has no parameter \"" + std::string(name) + "\"";
    std::vector<std::string_view> names;
    names.reserve(known.size());
    for (const ParameterInfo& info : known) names.push_back(info.name);
    const std::vector<std::string> closest = core::ClosestWords(name, names);
    if (!closest.empty()) message += "; did you mean " + core::JoinAlternatives(closest) + "?";
    return core::Status::InvalidInput(message + " (--force sends it as typed)");
  }

  static std::optional<std::string> Scalar(const nlohmann::json& item) {
    if (item.is_string()) return item.get<std::string>();
    if (item.is_boolean()) return item.get<bool>() ? "true" : "false";
    if (item.is_number()) return item.dump();
    return std::nullopt;
  }

  // A list given whole as a JSON array.
  core::Status Expand(const ParameterInfo& list, std::string_view value) {
    const nlohmann::json parsed = nlohmann::json::parse(value, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_array()) {
      const std::string first =
          list.name + ".1" + (list.members.empty() ? "" : "." + list.members.front().name);
      return core::Status::InvalidInput(action + ": " + list.name +
                                        " is a list: give it as a JSON array or as " + first +
                                        "=...");
    }
    if (parsed.size() > kMaxListItems) {
      return core::Status::InvalidInput(action + ": " + list.name + " takes at most " +
                                        std::to_string(kMaxListItems) + " items");
    }
    std::size_t k = 0;
    for (const nlohmann::json& item : parsed) {
      const std::string prefix = list.name + "." + std::to_string(++k);
      if (std::optional<std::string> scalar = Scalar(item); scalar && list.members.empty()) {
        if (core::Status status = Emit(prefix, *scalar); !status.ok()) return status;
        continue;
      }
      if (!item.is_object() || list.members.empty()) {
        return core::Status::InvalidInput(action + ": item " + std::to_string(k) + " of " +
                                          list.name + " is not " +
                                          (list.members.empty() ? "a plain value" : "an object"));
      }
      for (const auto& [key, field] : item.items()) {
        std::optional<std::string> text = Scalar(field);
        if (!text) {
          return core::Status::InvalidInput(action + ": " + prefix + "." + key +
                                            " is not a plain value");
        }
        const std::string name = prefix + "." + key;
        if (core::Status status = Member(list.members, name, key, *text); !status.ok()) {
          return status;
        }
      }
    }
    return core::Status::Ok();
  }

  core::Status One(const std::vector<ParameterInfo>& known, std::string_view name,
                   std::string_view value, bool accept_unknown) {
    if (const ParameterInfo* info = FindByName(known, name)) {
      if (info->type == ParameterType::kRepeatList) return Expand(*info, value);
      if (!FitsType(info->type, value)) return TypeError(name, info->type);
      return Emit(std::string(name), value);
    }
    if (const std::size_t dot = name.find('.'); dot != std::string_view::npos) {
      if (const ParameterInfo* info = FindByName(known, name.substr(0, dot))) {
        if (info->type == ParameterType::kRepeatList) {
          return Item(*info, name, name.substr(dot + 1), value);
        }
        if (info->type == ParameterType::kStruct || info->type == ParameterType::kArray) {
          return Emit(std::string(name), value);
        }
      }
    }
    if (!accept_unknown) return Unknown(name, known);
    return Emit(std::string(name), value);
  }
};

// Whether `given` ("Name=Value", or a flat name alone) gives parameter
// `name` or an item of it. Case is ignored: a few lists spell a name in lower
// case ("regionId") where the catalogue's templates say "RegionId", and the
// service takes either.
bool GivesName(std::string_view given, std::string_view name) {
  return given.size() > name.size() && core::EqualsIgnoreCase(given.substr(0, name.size()), name) &&
         (given[name.size()] == '=' || given[name.size()] == '.');
}

bool Gives(const std::vector<std::string>& parameters, std::string_view name) {
  return std::any_of(parameters.begin(), parameters.end(),
                     [name](const std::string& item) { return GivesName(item, name); });
}

// The entry of `list` a flat name as the service receives it falls under
// ("Tag.2.Key" under Tag's member Key); nullptr when none or when the name
// is an item of a list of plain values, whose type the list does not say.
const ParameterInfo* Leaf(const std::vector<ParameterInfo>& list, std::string_view name) {
  if (const ParameterInfo* exact = FindByName(list, name)) return exact;
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos) return nullptr;
  const ParameterInfo* head = FindByName(list, name.substr(0, dot));
  if (head == nullptr || head->type != ParameterType::kRepeatList || head->members.empty()) {
    return nullptr;
  }
  const std::size_t member = name.find('.', dot + 1);
  if (member == std::string_view::npos) return nullptr;
  return Leaf(head->members, name.substr(member + 1));
}

// Whether the list holds the name the user gave, or the list or record it
// is an item or field of.
bool Holds(const std::vector<ParameterInfo>& list, std::string_view name) {
  if (FindByName(list, name) != nullptr) return true;
  const std::size_t dot = name.find('.');
  const ParameterInfo* head =
      dot == std::string_view::npos ? nullptr : FindByName(list, name.substr(0, dot));
  return head != nullptr && head->type != ParameterType::kString;
}

}  // namespace

std::string_view TypeName(ParameterType type) {
  constexpr std::array kNames = {"String"sv, "Integer"sv, "Long"sv,       "Boolean"sv, "Float"sv,
                                 "Double"sv, "Json"sv,    "RepeatList"sv, "Struct"sv,  "Array"sv};
  return kNames[static_cast<std::size_t>(type)];
}

std::optional<std::vector<ParameterInfo>> KnownParameters(unsigned service_number,
                                                          std::string_view action) {
  const auto* found = std::lower_bound(
      kListedParameters.begin(), kListedParameters.end(), std::pair(service_number, action),
      [](const ListedParameters& entry, const std::pair<unsigned, std::string_view>& key) {
        return entry.service < key.first ||
               (entry.service == key.first && entry.action < key.second);
      });
  if (found == kListedParameters.end() || found->service != service_number ||
      found->action != action) {
    return std::nullopt;
  }
  std::size_t pos = 0;
  return Unpack(found->parameters, pos);
}

std::optional<CheckedParameters> ParametersToCheck(const ResolvedAction& action) {
  std::optional<std::vector<ParameterInfo>> known =
      KnownParameters(action.service, action.action_name);
  if (!known) return std::nullopt;
  CheckedParameters checked{std::move(*known), action.service != kIotService};
  const core::StringListView names = action.request_template != nullptr
                                         ? action.request_template->parameter_names()
                                         : core::StringListView{};
  auto named = [&names](std::string_view name) {
    for (std::size_t i = 1; i <= names.Count(); ++i) {
      if (core::EqualsIgnoreCase(names.Entry(i), name)) return true;
    }
    return false;
  };
  if (!checked.complete) {
    for (ParameterInfo& info : checked.parameters)
      info.required = info.required && named(info.name);
  }
  for (std::size_t i = 1; i <= names.Count(); ++i) {
    if (FindByName(checked.parameters, names.Entry(i)) == nullptr) {
      checked.parameters.push_back(
          ParameterInfo{std::string(names.Entry(i)), ParameterType::kString, false, false, {}});
    }
  }
  return checked;
}

std::optional<std::string> UnlistedNamesNote(const ResolvedAction& action,
                                             std::span<const std::string> assignments) {
  const std::optional<CheckedParameters> checked = ParametersToCheck(action);
  if (!checked || checked->complete) return std::nullopt;
  std::string unlisted;
  for (const std::string& assignment : assignments) {
    const std::string_view name = std::string_view(assignment).substr(0, assignment.find('='));
    if (Holds(checked->parameters, name)) continue;
    unlisted += (unlisted.empty() ? "" : ", ") + std::string(name);
  }
  if (unlisted.empty()) return std::nullopt;
  return action.action_name + ": " + unlisted +
         " not in the newer API version's list this build holds; sent as typed";
}

std::optional<ReceivedFault> CheckReceivedParameters(
    const ResolvedAction& action,
    std::span<const std::pair<std::string_view, std::string_view>> received) {
  const std::optional<CheckedParameters> checked = ParametersToCheck(action);
  if (!checked) return std::nullopt;
  for (const ParameterInfo& info : checked->parameters) {
    const bool given = std::any_of(received.begin(), received.end(), [&info](const auto& item) {
      return !item.second.empty() &&
             (core::EqualsIgnoreCase(item.first, info.name) || GivesName(item.first, info.name));
    });
    if (info.required && !given) return ReceivedFault{true, info.name};
  }
  for (const auto& [name, value] : received) {
    const ParameterInfo* leaf = Leaf(checked->parameters, name);
    if (leaf != nullptr && !FitsType(leaf->type, value)) {
      return ReceivedFault{false, std::string(name)};
    }
  }
  return std::nullopt;
}

core::Status CheckBoundParameters(const ResolvedAction& action, BoundRequest& bound,
                                  bool accept_unknown) {
  std::optional<CheckedParameters> checked = ParametersToCheck(action);
  if (!checked || bound.parameters.empty()) return core::Status::Ok();
  const std::vector<ParameterInfo>* known = &checked->parameters;
  accept_unknown = accept_unknown || !checked->complete;
  Checker checker{action.action_name, {bound.parameters.front()}, {}};
  for (std::size_t i = 1; i < bound.parameters.size(); ++i) {
    const std::string_view item = bound.parameters[i];
    const std::size_t equals = item.find('=');
    if (core::Status status =
            checker.One(*known, item.substr(0, equals), item.substr(equals + 1), accept_unknown);
        !status.ok()) {
      return status;
    }
  }
  for (const ParameterInfo& info : *known) {
    if (info.required && !Gives(checker.out, info.name)) {
      return core::Status::InvalidInput(action.action_name + " needs " + info.name + " (" +
                                        std::string(TypeName(info.type)) + "); nothing was sent");
    }
  }
  bound.parameters = std::move(checker.out);
  return core::Status::Ok();
}

}  // namespace kestrune::catalogue
