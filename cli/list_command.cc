// `kestrune list`: services, categories, actions and one action's
// parameters, as plain aligned text.
#include <algorithm>
#include <string>
#include <vector>

#include "catalogue/dispatch.h"
#include "catalogue/paging.h"
#include "catalogue/parameters.h"
#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "core/ascii.h"
#include "core/closest.h"
#include "core/text.h"
#include "nlohmann/json.hpp"

namespace kestrune::cli {
namespace {

void AppendPadded(std::string& out, std::string_view text, std::size_t width) {
  out += text;
  const std::size_t used = DisplayWidth(text);
  if (used < width) out.append(width - used, ' ');
}

std::string ListServices() {
  std::string out;
  for (const catalogue::ServiceInfo& service : catalogue::Services()) {
    AppendPadded(out, ServiceCommandName(service.number), 12);
    AppendPadded(out, service.name, 13);
    AppendPadded(out, service.host, 37);
    std::string_view version = service.version_item;
    if (std::size_t equals = version.find('='); equals != std::string_view::npos) {
      version.remove_prefix(equals + 1);
    }
    out += "API ";
    out += version;
    out += '\n';
  }
  return out;
}

std::string ListCategories(unsigned service_number) {
  const std::size_t service_position = catalogue::ServicePosition(service_number);
  const core::StringListView categories = catalogue::CategoryList(service_position);
  std::string out;
  for (std::size_t i = 0; i < categories.Count(); ++i) {
    std::string number = std::to_string(i + 1);
    out.append(number.size() < 3 ? 3 - number.size() : 0, ' ');
    out += number;
    out += "  ";
    const std::string_view name = categories.Entry(i + 1);
    AppendPadded(out, name, 20);
    const std::size_t count = catalogue::ActionList(service_position, i).Count();
    out += "  " + std::to_string(count) + (count == 1 ? " action\n" : " actions\n");
  }
  return out;
}

std::string ListActions(unsigned service_number, std::size_t category_position) {
  const std::size_t service_position = catalogue::ServicePosition(service_number);
  const core::StringListView actions = catalogue::ActionList(service_position, category_position);
  const bool ecs = service_number == catalogue::kEcsService;
  std::size_t width = 0;
  for (std::size_t i = 1; i <= actions.Count(); ++i) {
    width = std::max(width, DisplayWidth(actions.Entry(i)));
  }
  std::string out;
  for (std::size_t i = 0; i < actions.Count(); ++i) {
    const std::string_view name = actions.Entry(i + 1);
    const std::optional<catalogue::ResolvedAction> resolved =
        catalogue::ResolveBrowsingEntry(service_position, category_position, i);
    std::string line;
    AppendPadded(line, name, width);
    if (!resolved) {
      line += "  (not sendable)";
    } else if (!ecs) {
      line += "  " + resolved->action_name;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line;
    out += '\n';
  }
  return out;
}

// A caption worth showing beside its parameter's name: not one that only
// repeats the name ("RegionId:").
std::string_view OwnCaption(std::string_view name, std::string_view caption) {
  while (!caption.empty() && (caption.back() == ':' || caption.back() == ' ')) {
    caption.remove_suffix(1);
  }
  std::string bare;  // "Region ID" repeats "RegionId" too
  for (char c : caption) {
    if (c != ' ') bare += c;
  }
  return core::EqualsIgnoreCase(bare, name) ? std::string_view() : caption;
}

struct ActionRow {
  std::string name;  // a record list's field as List.N.Field
  std::string_view type;
  bool required = false;
  std::string caption;
};

// The action's parameters as `list` shows them: its published list (with its
// records' fields), else its template's names alone, untyped.
std::vector<ActionRow> ActionRows(const catalogue::ResolvedAction& action,
                                  const std::optional<catalogue::CheckedParameters>& checked) {
  const core::StringListView names = action.request_template != nullptr
                                         ? action.request_template->parameter_names()
                                         : core::StringListView{};
  const core::StringListView captions = catalogue::DisplayCaptions(action);
  auto caption_of = [&](std::string_view name) {
    for (std::size_t i = 1; i <= names.Count(); ++i) {
      if (names.Entry(i) == name) return std::string(OwnCaption(name, captions.Entry(i)));
    }
    return std::string();
  };
  std::vector<ActionRow> rows;
  if (!checked) {
    for (std::size_t i = 1; i <= names.Count(); ++i) {
      rows.push_back({std::string(names.Entry(i)), {}, false, caption_of(names.Entry(i))});
    }
    return rows;
  }
  for (const catalogue::ParameterInfo& info : checked->parameters) {
    rows.push_back(
        {info.name, catalogue::TypeName(info.type), info.required, caption_of(info.name)});
    for (const catalogue::ParameterInfo& member : info.members) {
      rows.push_back(
          {info.name + ".N." + member.name, catalogue::TypeName(member.type), member.required, {}});
    }
  }
  return rows;
}

// How the action pages, by the catalogue's paging table or its list.
std::string PagingLine(const catalogue::ResolvedAction& action,
                       const std::optional<catalogue::CheckedParameters>& checked) {
  if (std::optional<catalogue::PagingInfo> paging =
          catalogue::PagingOf(action.service, action.action_name)) {
    return "Paged by PageNumber and PageSize: --all-pages fetches every page, " +
           std::to_string(paging->max_page_size) + " records a page unless PageSize is given.\n";
  }
  auto takes = [&checked](std::string_view name) {
    return checked &&
           std::any_of(checked->parameters.begin(), checked->parameters.end(),
                       [name](const catalogue::ParameterInfo& p) { return p.name == name; });
  };
  for (const std::string_view number : {"PageNumber", "CurrentPage"}) {
    if (takes(number) && takes("PageSize")) {
      return "Paged by " + std::string(number) + " and PageSize; --all-pages does not walk it.\n";
    }
  }
  if (takes("NextToken")) return "Paged by NextToken; --all-pages does not walk it.\n";
  return {};
}

std::string DescribeAction(const catalogue::ResolvedAction& action) {
  const catalogue::RequestTemplate* request_template = action.request_template;
  const catalogue::ServiceInfo* service = catalogue::FindService(action.service);
  std::string out = std::string(service != nullptr ? service->name : "") + " " + action.action_name;
  // Where the selectors list it (an action can stand in several categories,
  // or in none).
  const std::size_t service_position = catalogue::ServicePosition(action.service);
  const core::StringListView categories = catalogue::CategoryList(service_position);
  std::string listed;
  for (std::size_t category = 0; category < categories.Count(); ++category) {
    const std::size_t entries = catalogue::ActionList(service_position, category).Count();
    for (std::size_t entry = 0; entry < entries; ++entry) {
      const std::optional<catalogue::ResolvedAction> resolved =
          catalogue::ResolveBrowsingEntry(service_position, category, entry);
      if (!resolved || resolved->action_name != action.action_name) continue;
      listed += listed.empty() ? " (listed under " : ", ";
      listed += std::to_string(category + 1);
      listed += ' ';
      listed += categories.Entry(category + 1);
      break;
    }
  }
  if (!listed.empty()) out += listed + ")";
  out += '\n';
  const std::optional<catalogue::CheckedParameters> checked = catalogue::ParametersToCheck(action);
  const std::vector<ActionRow> rows = ActionRows(action, checked);
  if (rows.empty()) {
    out += request_template != nullptr ? "No parameters of its own.\n"
                                       : "No parameter list in the catalogue.\n";
  } else {
    std::size_t width = std::string_view("Parameter").size();
    for (const ActionRow& row : rows) width = std::max(width, DisplayWidth(row.name));
    AppendPadded(out, "Parameter", width);
    out += checked ? "  Type        Required  Caption\n" : "  Caption\n";
    for (const ActionRow& row : rows) {
      std::string line;
      AppendPadded(line, row.name, width);
      line += "  ";
      if (checked) {
        AppendPadded(line, row.type, 10);
        line += row.required ? "  yes       " : "            ";
      }
      line += row.caption;
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line + '\n';
    }
  }
  if (!checked) {
    out +=
        "Any other parameter is accepted as Name=Value (this build holds no published list "
        "for the action: nothing is checked); a parameter not given is not sent.\n";
  } else if (!checked->complete) {
    out +=
        "Any other name is sent as typed, with a note (the list is of a newer API version); "
        "a parameter not given is not sent.\n";
  } else {
    out += "Any other name is refused unless --force; a parameter not given is not sent.\n";
  }
  out += PagingLine(action, checked);
  return out;
}

// The same for scripts: one JSON document.
std::string DescribeActionJson(const catalogue::ResolvedAction& action) {
  const std::optional<catalogue::CheckedParameters> checked = catalogue::ParametersToCheck(action);
  nlohmann::ordered_json out;
  out["service"] = std::string(ServiceCommandName(action.service));
  out["action"] = action.action_name;
  out["checked"] = !checked ? "no" : checked->complete ? "all" : "types and required";
  nlohmann::ordered_json parameters = nlohmann::ordered_json::array();
  for (const ActionRow& row : ActionRows(action, checked)) {
    nlohmann::ordered_json item;
    item["name"] = row.name;
    item["type"] = row.type.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(row.type);
    item["required"] = row.required;
    if (!row.caption.empty()) item["caption"] = row.caption;
    parameters.push_back(std::move(item));
  }
  out["parameters"] = std::move(parameters);
  nlohmann::ordered_json paging;
  if (std::optional<catalogue::PagingInfo> info =
          catalogue::PagingOf(action.service, action.action_name)) {
    paging["by"] = "PageNumber";
    paging["records"] = std::string(info->list_element);
    paging["maxPageSize"] = info->max_page_size;
    paging["allPages"] = true;
  } else if (const std::string line = PagingLine(action, checked); !line.empty()) {
    paging["by"] = line.substr(9, line.find_first_of(" ;", 9) - 9);  // "Paged by NAME ..."
    paging["allPages"] = false;
  }
  out["paging"] = std::move(paging);
  return out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// Every sendable action name of the service, once each, in listing order.
std::string ActionNames(unsigned service_number) {
  const std::size_t service_position = catalogue::ServicePosition(service_number);
  const std::size_t categories = catalogue::CategoryList(service_position).Count();
  std::vector<std::string> names;
  for (std::size_t category = 0; category < categories; ++category) {
    const std::size_t entries = catalogue::ActionList(service_position, category).Count();
    for (std::size_t entry = 0; entry < entries; ++entry) {
      const std::optional<catalogue::ResolvedAction> resolved =
          catalogue::ResolveBrowsingEntry(service_position, category, entry);
      if (resolved && std::find(names.begin(), names.end(), resolved->action_name) == names.end()) {
        names.push_back(resolved->action_name);
      }
    }
  }
  std::string out;
  for (const std::string& name : names) out += name + '\n';
  return out;
}

// `list --names [SERVICE]`: what shell completion offers after `call`.
int ListNames(const std::vector<std::string>& operands, Console& console) {
  if (operands.size() > 1) return UsageError(console, "list --names takes at most a service");
  std::string out;
  if (operands.empty()) {
    for (const catalogue::ServiceInfo& service : catalogue::Services()) {
      out += ActionNames(service.number);
    }
  } else {
    core::Result<unsigned> service = ParseServiceName(operands[0]);
    if (!service.ok()) return UsageError(console, service.status().message());
    out = ActionNames(*service);
  }
  console.Out(out);
  return kExitOk;
}

// A category given by its number (1-based) or its name.
std::optional<std::size_t> FindCategory(unsigned service_number, std::string_view given) {
  const core::StringListView categories =
      catalogue::CategoryList(catalogue::ServicePosition(service_number));
  const std::size_t count = categories.Count();
  if (!given.empty() && given.size() <= 3 &&
      std::all_of(given.begin(), given.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
    const std::size_t number = static_cast<std::size_t>(std::stoul(std::string(given)));
    if (number >= 1 && number <= count) return number - 1;
    return std::nullopt;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (core::EqualsIgnoreCase(categories.Entry(i + 1), given)) return i;
  }
  return std::nullopt;
}

}  // namespace

int RunList(const CommandLine& line, Console& console) {
  const std::vector<std::string>& operands = line.operands;
  if (line.names) return ListNames(operands, console);
  if (operands.size() > 2) {
    return UsageError(console, "list takes at most a service and a category or action (got \"" +
                                   EscapeLine(operands[2]) + "\" as well)");
  }
  // Only an action's description has a JSON form.
  const std::string json_refused = "--format json applies to list SERVICE ACTION only";
  const bool json = line.format == OutputFormat::kJson;
  if (json && operands.size() < 2) return UsageError(console, json_refused);
  if (operands.empty()) {
    console.Out(ForDisplay(console, OutputFormat::kTable, ListServices()));
    return kExitOk;
  }
  core::Result<unsigned> service = ParseServiceName(operands[0]);
  if (!service.ok()) return UsageError(console, service.status().message());
  if (operands.size() == 1) {
    console.Out(ForDisplay(console, OutputFormat::kTable, ListCategories(*service)));
    return kExitOk;
  }
  const std::string& given = operands[1];
  if (std::optional<std::size_t> category = FindCategory(*service, given)) {
    if (json) return UsageError(console, json_refused);
    console.Out(ForDisplay(console, OutputFormat::kTable, ListActions(*service, *category)));
    return kExitOk;
  }
  if (std::optional<catalogue::ResolvedAction> action =
          catalogue::ResolveActionName(*service, given)) {
    if (json) {
      console.Out(DescribeActionJson(*action));
    } else {
      console.Out(ForDisplay(console, OutputFormat::kTable, DescribeAction(*action)));
    }
    return kExitOk;
  }
  const std::string_view service_name = ServiceCommandName(*service);
  if (FindBrowsingEntry(*service, given)) {
    console.Out(
        ForDisplay(console, OutputFormat::kTable,
                   EscapeLine(given) + ": listed, but not sendable (no request template)\n"));
    return kExitOk;
  }
  const std::size_t categories =
      catalogue::CategoryList(catalogue::ServicePosition(*service)).Count();
  std::string message = std::string(service_name) + " has no category or action \"" +
                        EscapeLine(given) + "\" (categories are 1.." + std::to_string(categories) +
                        "; see kestrune list " + std::string(service_name) + ")";
  const std::vector<std::string> closest = catalogue::ClosestActionNames(*service, given);
  if (!closest.empty()) message += "; did you mean " + core::JoinAlternatives(closest) + "?";
  return UsageError(console, message);
}

}  // namespace kestrune::cli
