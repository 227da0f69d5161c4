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
      return core::Status::InvalidInput(action + ": " + list.name +
                                        " is a list: give it as a JSON array or as " + list.name +
                                        ".1=...");
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

bool Gives(const std::vector<std::string>& parameters, std::string_view name) {
  return std::any_of(parameters.begin(), parameters.end(), [name](const std::string& item) {
    return item.starts_with(name) &&
           (item.size() > name.size() && (item[name.size()] == '=' || item[name.size()] == '.'));
  });
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

core::Status CheckBoundParameters(const ResolvedAction& action, BoundRequest& bound,
                                  bool accept_unknown) {
  std::optional<std::vector<ParameterInfo>> known =
      KnownParameters(action.service, action.action_name);
  if (!known || bound.parameters.empty()) return core::Status::Ok();
  // The template's own names are always accepted, as text.
  if (action.request_template != nullptr) {
    const core::StringListView names = action.request_template->parameter_names();
    for (std::size_t i = 1; i <= names.Count(); ++i) {
      if (FindByName(*known, names.Entry(i)) == nullptr) {
        known->push_back(
            ParameterInfo{std::string(names.Entry(i)), ParameterType::kString, false, false, {}});
      }
    }
  }
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
