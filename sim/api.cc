#include "sim/api.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

#include "catalogue/action_kind.h"
#include "catalogue/paging.h"
#include "catalogue/parameters.h"
#include "sim/api_internal.h"

namespace kestrune::sim {
namespace {

std::optional<std::int64_t> ParseInt(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The catalogue's reply text for actions without state of their own (its
// grammar is described beside ActionInfo).
ActionResult Generic(ActionContext& c, std::string_view shape) {
  Node& root = c.root();
  std::size_t pos = 0;
  while (pos < shape.size()) {
    std::size_t end = shape.find(' ', pos);
    if (end == std::string_view::npos) end = shape.size();
    const std::string_view token = shape.substr(pos, end - pos);
    pos = end + 1;
    if (token.empty() || token == "-") continue;
    if (token[0] == '?') {
      root.Bool(std::string(token.substr(1)), true);
    } else if (token[0] == '@' || token[0] == '#') {
      const std::size_t slash = token.find('/');
      if (token[0] == '@') {
        auto page = ReadPage(c.params(), 100);
        if (auto* error = std::get_if<ApiError>(&page)) return *error;
        root.Num("TotalCount", 0);
        root.Num("PageNumber", std::get<Page>(page).number);
        root.Num("PageSize", std::get<Page>(page).size);
      }
      root.Add(Node::List(std::string(token.substr(1, slash - 1)),
                          std::string(token.substr(slash + 1))));
    } else if (const std::size_t eq = token.find('='); eq != std::string_view::npos) {
      const std::string_view prefix = token.substr(eq + 1);
      root.Str(std::string(token.substr(0, eq)),
               prefix.empty() || prefix.size() == 1 ? c.world().RandomId(prefix, 32 - prefix.size())
                                                    : c.world().RandomId(prefix));
    } else if (const std::size_t colon = token.find(':'); colon != std::string_view::npos) {
      root.Str(std::string(token.substr(0, colon)), std::string(token.substr(colon + 1)));
    } else {
      root.Str(std::string(token), std::string(c.P(token)));
    }
  }
  return c.Done();
}

// The handlers of every family; an action in none of them is answered by its
// catalogue reply.
constexpr std::array kFamilies = {RegionHandlers, InstanceHandlers, StorageHandlers,
                                  NetworkHandlers};

const ActionHandler* FindHandler(Service service, std::string_view name) {
  for (const auto& handlers : kFamilies) {
    for (const ActionHandler& handler : handlers()) {
      if (handler.service == service && handler.name == name) return &handler;
    }
  }
  return nullptr;
}

unsigned CatalogueNumber(Service service) {
  switch (service) {
    case Service::kEcs:
      return catalogue::kEcsService;
    case Service::kIot:
      return catalogue::kIotService;
    case Service::kApiGateway:
      return catalogue::kApiGatewayService;
  }
  return 0;
}

// A record list's item name: the container's, singular ("Disks": "Disk",
// "EipAddresses": "EipAddress", "AutoSnapshotPolicies": "AutoSnapshotPolicy").
std::string ItemName(std::string_view list) {
  std::string item(list);
  if (item.ends_with("ies")) return item.substr(0, item.size() - 3) + "y";
  if (item.ends_with("sses") || item.ends_with("ches") || item.ends_with("shes")) {
    item.resize(item.size() - 2);
  } else if (item.ends_with('s')) {
    item.pop_back();
  }
  return item;
}

}  // namespace

std::optional<catalogue::ResolvedAction> ListedAction(Service service, std::string_view action) {
  std::optional<catalogue::ResolvedAction> resolved =
      catalogue::ResolveActionName(CatalogueNumber(service), action);
  if (!resolved || resolved->action_name != action) return std::nullopt;
  return resolved;
}

std::variant<ActionReply, ApiError> AnswerByKind(World& world, const ActionCall& call) {
  ActionContext context(world, call);
  const unsigned service = CatalogueNumber(call.service);
  if (catalogue::KindOfAction(service, call.action) != catalogue::ActionKind::kReadOnly) {
    return context.Done();
  }
  const std::optional<catalogue::PagingInfo> paging = catalogue::PagingOf(service, call.action);
  const std::optional<std::vector<catalogue::ParameterInfo>> known =
      catalogue::KnownParameters(service, call.action);
  auto takes = [&known](std::string_view name) {
    return known &&
           std::any_of(known->begin(), known->end(),
                       [name](const catalogue::ParameterInfo& p) { return p.name == name; });
  };
  Node& root = context.root();
  if (takes("PageSize") || paging) {
    auto page = ReadPage(context.params(), paging ? paging->max_page_size : 100);
    if (auto* error = std::get_if<ApiError>(&page)) return *error;
    root.Num("TotalCount", 0);
    root.Num("PageNumber", std::get<Page>(page).number);
    root.Num("PageSize", std::get<Page>(page).size);
  }
  if (takes("NextToken")) {
    root.Str("NextToken", "");
    if (!takes("PageSize")) root.Num("TotalCount", 0);
  }
  if (paging) {
    root.Add(Node::List(std::string(paging->list_element), ItemName(paging->list_element)));
  }
  return context.Done();
}

ActionContext::ActionContext(World& world, const ActionCall& call)
    : world_(world),
      call_(call),
      params_(*call.params),
      root_(Node::Object(std::string(call.action) + "Response")) {
  root_.Str("RequestId", std::string(call.request_id));
}

ActionResult ActionContext::Done(std::size_t chunk_size) {
  return ActionReply{std::move(root_), chunk_size};
}

ActionResult ActionContext::PagedList(Node list, const std::vector<Node>& records,
                                      std::int64_t max_size) {
  auto page = ReadPage(params_, max_size);
  if (auto* error = std::get_if<ApiError>(&page)) return *error;
  const Page& p = std::get<Page>(page);
  root_.Num("TotalCount", static_cast<std::int64_t>(records.size()));
  root_.Num("PageNumber", p.number);
  root_.Num("PageSize", p.size);
  for (const Node& record : Slice(records, p)) list.Add(record);
  root_.Add(std::move(list));
  return Done();
}

std::variant<std::int64_t, ApiError> IntParam(const std::vector<QueryParam>& params,
                                              std::string_view name, std::int64_t fallback,
                                              std::int64_t low, std::int64_t high) {
  const std::string_view text = ParamValue(params, name);
  if (text.empty()) return fallback;
  const auto value = ParseInt(text);
  if (!value || *value < low || *value > high) return InvalidParameterError(name);
  return *value;
}

std::vector<std::string> ParseIdList(std::string_view text) {
  std::vector<std::string> ids;
  std::string current;
  for (char c : text) {
    if (c == '[' || c == ']' || c == '"' || c == ' ') continue;
    if (c == ',') {
      if (!current.empty()) ids.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) ids.push_back(current);
  return ids;
}

std::variant<Page, ApiError> ReadPage(const std::vector<QueryParam>& params,
                                      std::int64_t max_size) {
  auto number = IntParam(params, "PageNumber", 1, 1, 1000000);
  if (auto* error = std::get_if<ApiError>(&number)) return *error;
  auto size = IntParam(params, "PageSize", 10, 1, max_size);
  if (auto* error = std::get_if<ApiError>(&size)) return *error;
  return Page{std::get<std::int64_t>(number), std::get<std::int64_t>(size)};
}

ApiError MissingParameterError(std::string_view name) {
  return {400, "MissingParameter",
          "The input parameter \"" + std::string(name) +
              "\" that is mandatory for processing this request is not supplied."};
}

ApiError InvalidParameterError(std::string_view name) {
  return {400, "InvalidParameter",
          "The specified parameter \"" + std::string(name) + "\" is not valid."};
}

std::string_view ParamValue(const std::vector<QueryParam>& params, std::string_view name) {
  for (const QueryParam& p : params) {
    if (p.name == name) return p.value;
  }
  return {};
}

bool AsksForLaterPage(const std::vector<QueryParam>& params) {
  if (!ParamValue(params, "NextToken").empty()) return true;
  const auto number = ParseInt(ParamValue(params, "PageNumber"));
  return number && *number > 1;
}

std::variant<ActionReply, ApiError> RunAction(World& world, const ActionInfo& info,
                                              const ActionCall& call) {
  ActionContext context(world, call);
  if (const ActionHandler* handler = FindHandler(call.service, info.name)) {
    return handler->run(context);
  }
  return Generic(context, info.reply);
}

}  // namespace kestrune::sim
