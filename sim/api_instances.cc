// Instances: their listing and status, launching and deleting them, state
// changes, and the attributes an instance carries (names, network, security
// group, VNC, user data, release time).
#include <charconv>
#include <cstdio>
#include <functional>
#include <optional>

#include "sim/api_internal.h"
#include "sim/signature.h"

namespace kestrune::sim {
namespace {

ApiError InstanceNotFound() {
  return {404, "InvalidInstanceId.NotFound", "The specified InstanceId does not exist."};
}

ApiError IncorrectInstanceStatus() {
  return {403, "IncorrectInstanceStatus",
          "The current status of the resource does not support this operation."};
}

ApiError QuotaExceeded() {
  return {403, "QuotaExceed.ElasticQuota",
          "The number of instances in this region has reached the quota."};
}

// Instance named by InstanceId, also in RegionId when that is given.
std::variant<Instance*, ApiError> TargetInstance(ActionContext& c) {
  Instance* instance = c.world().FindInstance(c.P("InstanceId"));
  if (instance == nullptr) return InstanceNotFound();
  const std::string_view region = c.P("RegionId");
  if (!region.empty() && instance->region != region) return InstanceNotFound();
  return instance;
}

ActionResult DescribeInstanceStatus(ActionContext& c) {
  auto page = ReadPage(c.params(), 50);
  if (auto* error = std::get_if<ApiError>(&page)) return *error;
  std::vector<const Instance*> all = c.world().InstancesIn(c.P("RegionId"));
  const std::string_view zone = c.P("ZoneId");
  if (!zone.empty()) {
    std::erase_if(all, [&](const Instance* i) { return i->zone != zone; });
  }
  const Page& p = std::get<Page>(page);
  c.root().Num("PageNumber", p.number);
  c.root().Num("TotalCount", static_cast<std::int64_t>(all.size()));
  c.root().Num("PageSize", p.size);
  Node statuses = Node::List("InstanceStatuses", "InstanceStatus");
  for (const Instance* instance : Slice(all, p)) {
    statuses.NewItem().Str("InstanceId", instance->id).Str("Status", instance->status);
  }
  c.root().Add(std::move(statuses));
  return c.Done();
}

// The instances of RegionId that pass the request's filters, in creation
// order.
std::variant<std::vector<const Instance*>, ApiError> MatchingInstances(ActionContext& c) {
  std::vector<const Instance*> all = c.world().InstancesIn(c.P("RegionId"));
  const std::string_view ids_text = c.P("InstanceIds");
  if (!ids_text.empty()) {
    const std::vector<std::string> ids = ParseIdList(ids_text);
    if (ids.size() > 100) return InvalidParameterError("InstanceIds");
    std::erase_if(all, [&](const Instance* i) {
      return std::find(ids.begin(), ids.end(), i->id) == ids.end();
    });
  }
  for (std::string_view field : {"ZoneId", "Status", "InstanceName", "VpcId", "InstanceType"}) {
    const std::string_view wanted = c.P(field);
    if (wanted.empty()) continue;
    std::erase_if(all, [&](const Instance* i) {
      const std::string& actual = field == "ZoneId"         ? i->zone
                                  : field == "Status"       ? i->status
                                  : field == "InstanceName" ? i->name
                                  : field == "VpcId"        ? i->vpc_id
                                                            : i->type;
      return actual != wanted;
    });
  }
  return all;
}

// A NextToken names the last instance sent by its creation sequence number,
// so deleting or launching instances between pages skips or repeats none of
// the others. The second half is a check: a token the simulator did not
// issue (cut short, retyped in capitals) is refused rather than read as some
// other place in the list.
constexpr std::uint64_t kTokenCheck = 0x9E3779B97F4A7C15ULL;

std::string TokenAfter(const Instance& last) {
  char token[40];
  const std::uint64_t sequence = last.sequence;
  const std::uint64_t check = sequence * kTokenCheck;
  std::snprintf(token, sizeof token, "%016llx%016llx", static_cast<unsigned long long>(sequence),
                static_cast<unsigned long long>(check));
  return token;
}

std::optional<std::uint64_t> TokenPosition(std::string_view token) {
  if (token.size() != 32 || token.find_first_not_of("0123456789abcdef") != std::string_view::npos) {
    return std::nullopt;
  }
  std::uint64_t halves[2] = {};
  for (int h = 0; h < 2; ++h) {
    (void)std::from_chars(token.data() + 16 * h, token.data() + 16 * (h + 1), halves[h], 16);
  }
  if (halves[1] != halves[0] * kTokenCheck) return std::nullopt;
  return halves[0];
}

// The token walk: MaxResults (default 10, at most 100) records after the
// NextToken's instance, and a NextToken for the rest ("" on the last page).
ActionResult DescribeInstancesByToken(ActionContext& c) {
  auto max_results = IntParam(c.params(), "MaxResults", 10, 1, 100);
  if (auto* error = std::get_if<ApiError>(&max_results)) return *error;
  std::uint64_t after = 0;
  if (!c.P("NextToken").empty()) {
    const auto position = TokenPosition(c.P("NextToken"));
    if (!position) return InvalidParameterError("NextToken");
    after = *position;
  }
  auto matching = MatchingInstances(c);
  if (auto* error = std::get_if<ApiError>(&matching)) return *error;
  const auto& all = std::get<std::vector<const Instance*>>(matching);
  const auto first =
      std::find_if(all.begin(), all.end(), [&](const Instance* i) { return i->sequence > after; });
  const auto left = static_cast<std::size_t>(all.end() - first);
  const auto count = std::min(left, static_cast<std::size_t>(std::get<std::int64_t>(max_results)));
  c.root().Num("TotalCount", static_cast<std::int64_t>(all.size()));
  c.root().Str("NextToken", count < left ? TokenAfter(*first[count - 1]) : "");
  c.root().Num("MaxResults", std::get<std::int64_t>(max_results));
  Node list = Node::List("Instances", "Instance");
  for (auto it = first; it != first + static_cast<std::ptrdiff_t>(count); ++it) {
    AddInstanceRecord(list, **it);
  }
  c.root().Add(std::move(list));
  return c.Done();
}

// Pages by number, or walks by NextToken when the request carries
// MaxResults or a NextToken, as the action's newer callers page.
ActionResult DescribeInstances(ActionContext& c) {
  if (!c.P("MaxResults").empty() || !c.P("NextToken").empty()) {
    return DescribeInstancesByToken(c);
  }
  auto page = ReadPage(c.params(), 100);
  if (auto* error = std::get_if<ApiError>(&page)) return *error;
  auto matching = MatchingInstances(c);
  if (auto* error = std::get_if<ApiError>(&matching)) return *error;
  const auto& all = std::get<std::vector<const Instance*>>(matching);
  const Page& p = std::get<Page>(page);
  c.root().Num("TotalCount", static_cast<std::int64_t>(all.size()));
  c.root().Num("PageNumber", p.number);
  c.root().Num("PageSize", p.size);
  Node list = Node::List("Instances", "Instance");
  for (const Instance* instance : Slice(all, p)) AddInstanceRecord(list, *instance);
  c.root().Add(std::move(list));
  return c.Done();
}

// Start, stop, reboot: a state change that needs a given state first.
ActionResult Transition(ActionContext& c, std::string_view needed, std::string_view next) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  Instance* instance = std::get<Instance*>(target);
  if (instance->status != needed) return IncorrectInstanceStatus();
  if (c.call().transition_ms > 0) {
    c.world().BeginTransition(*instance, next == "Stopped" ? "Stopping" : "Starting", next,
                              c.call().now_ms + c.call().transition_ms);
  } else {
    instance->status = next;
  }
  return c.Done();
}

ActionResult DeleteInstance(ActionContext& c) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  Instance* instance = std::get<Instance*>(target);
  if (instance->status != "Stopped" && c.P("Force") != "true") return IncorrectInstanceStatus();
  c.world().DeleteInstance(instance->id);
  return c.Done();
}

// RunInstances (`run`: several, started) and CreateInstance (one, stopped).
ActionResult Launch(ActionContext& c, bool run) {
  const std::string_view region_id = c.P("RegionId");
  const RegionInfo* region = FindRegion(region_id);
  if (region == nullptr) return InvalidParameterError("RegionId");
  const std::vector<std::string> zones = ZonesOf(*region);
  std::string zone = std::string(c.P("ZoneId"));
  if (zone.empty()) {
    zone = zones.front();
  } else if (std::find(zones.begin(), zones.end(), zone) == zones.end()) {
    return InvalidParameterError("ZoneId");
  }
  const auto& types = InstanceTypes();
  const std::string_view type = c.P("InstanceType");
  if (std::none_of(types.begin(), types.end(), [&](const auto& t) { return t.id == type; })) {
    return InvalidParameterError("InstanceType");
  }
  std::int64_t amount = 1;
  if (run) {
    auto value = IntParam(c.params(), "Amount", 1, 1, 100);
    if (auto* error = std::get_if<ApiError>(&value)) return *error;
    amount = std::get<std::int64_t>(value);
  }
  if (c.world().InstancesIn(region_id).size() + static_cast<std::size_t>(amount) >
      World::kMaxInstancesPerRegion) {
    return QuotaExceeded();
  }
  Node ids = Node::List("InstanceIdSets", "InstanceIdSet");
  std::string first;
  for (std::int64_t n = 0; n < amount; ++n) {
    Instance* instance = c.world().CreateInstance(region_id, zone, c.P("ImageId"), type,
                                                  run ? "Running" : "Stopped", c.call().now_ms);
    if (instance == nullptr) return QuotaExceeded();
    if (!c.P("InstanceName").empty()) instance->name = c.P("InstanceName");
    if (!c.P("Description").empty()) instance->description = c.P("Description");
    if (!c.P("HostName").empty()) instance->host_name = c.P("HostName");
    if (!c.P("UserData").empty()) instance->user_data = c.P("UserData");
    ids.Item(instance->id);
    if (first.empty()) first = instance->id;
  }
  if (run) {
    c.root().Add(std::move(ids));
  } else {
    c.root().Str("InstanceId", first);
  }
  c.root().Str("OrderId", c.world().RandomId("", 15));
  c.root().Str("TradePrice", "0.0");
  return c.Done();
}

ActionResult ModifyInstanceAttribute(ActionContext& c) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  Instance* instance = std::get<Instance*>(target);
  if (!c.P("InstanceName").empty()) instance->name = c.P("InstanceName");
  if (!c.P("Description").empty()) instance->description = c.P("Description");
  if (!c.P("HostName").empty()) instance->host_name = c.P("HostName");
  if (!c.P("UserData").empty()) {
    if (c.P("UserData").size() > 32768) return InvalidParameterError("UserData");
    instance->user_data = c.P("UserData");
  }
  return c.Done();
}

ActionResult ModifyInstanceVpcAttribute(ActionContext& c) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  Instance* instance = std::get<Instance*>(target);
  if (instance->status != "Stopped") return IncorrectInstanceStatus();
  instance->vswitch_id = c.P("VSwitchId");
  if (!c.P("PrivateIpAddress").empty()) instance->private_ip = c.P("PrivateIpAddress");
  return c.Done();
}

ActionResult SecurityGroup(ActionContext& c, bool join) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  Instance* instance = std::get<Instance*>(target);
  if (join) {
    instance->security_group = c.P("SecurityGroupId");
  } else if (instance->security_group == c.P("SecurityGroupId")) {
    return ApiError{403, "InvalidSecurityGroup.LastOne",
                    "The specified security group is the last one of the instance."};
  }
  return c.Done();
}

ActionResult DescribeInstanceVncUrl(ActionContext& c) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  const Instance* instance = std::get<Instance*>(target);
  // The console's address carries an encrypted session token; its length
  // (well over 255 characters) is what matters to clients.
  std::string token = Base64(instance->id + ":" + instance->region + ":" +
                             std::to_string(c.call().now_ms) + ":" + c.world().RandomId("", 160));
  std::string url =
      "wss://" + instance->region + "-vncproxy.aliyun.com/webproxy?s=" + PercentEncode(token);
  c.root().Str("VncUrl", url);
  return c.Done();
}

ActionResult ModifyInstanceVncPasswd(ActionContext& c) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  const std::string_view password = c.P("VncPassword");
  if (password.size() != 6 || !std::all_of(password.begin(), password.end(), [](char ch) {
        return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
      })) {
    return InvalidParameterError("VncPassword");
  }
  std::get<Instance*>(target)->vnc_password = password;
  return c.Done();
}

ActionResult DescribeUserData(ActionContext& c) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  const Instance* instance = std::get<Instance*>(target);
  c.root().Str("RegionId", instance->region);
  c.root().Str("InstanceId", instance->id);
  c.root().Str("UserData", instance->user_data);
  return c.Done();
}

// Actions that need only an existing instance, then change it (or nothing).
ActionResult InstanceOnly(ActionContext& c, const std::function<void(Instance&)>& change) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  change(*std::get<Instance*>(target));
  return c.Done();
}

ActionResult ModifyInstanceAutoReleaseTime(ActionContext& c) {
  const std::string release(c.P("AutoReleaseTime"));
  return InstanceOnly(c, [&](Instance& i) { i.auto_release_time = release; });
}

ActionResult RenewInstance(ActionContext& c) {
  auto period = IntParam(c.params(), "Period", 1, 1, 60);
  if (auto* error = std::get_if<ApiError>(&period)) return *error;
  return InstanceOnly(c, [](Instance&) {});
}

ActionResult AttachOrDetachDisk(ActionContext& c) {
  return InstanceOnly(c, [](Instance&) {});
}

constexpr ActionHandler kHandlers[] = {
    {Service::kEcs, "DescribeInstanceStatus", DescribeInstanceStatus},
    {Service::kEcs, "DescribeInstances", DescribeInstances},
    {Service::kEcs, "StartInstance",
     [](ActionContext& c) { return Transition(c, "Stopped", "Running"); }},
    {Service::kEcs, "StopInstance",
     [](ActionContext& c) { return Transition(c, "Running", "Stopped"); }},
    {Service::kEcs, "RebootInstance",
     [](ActionContext& c) { return Transition(c, "Running", "Running"); }},
    {Service::kEcs, "DeleteInstance", DeleteInstance},
    {Service::kEcs, "RunInstances", [](ActionContext& c) { return Launch(c, true); }},
    {Service::kEcs, "CreateInstance", [](ActionContext& c) { return Launch(c, false); }},
    {Service::kEcs, "ModifyInstanceAttribute", ModifyInstanceAttribute},
    {Service::kEcs, "ModifyInstanceVpcAttribute", ModifyInstanceVpcAttribute},
    {Service::kEcs, "JoinSecurityGroup", [](ActionContext& c) { return SecurityGroup(c, true); }},
    {Service::kEcs, "LeaveSecurityGroup", [](ActionContext& c) { return SecurityGroup(c, false); }},
    {Service::kEcs, "DescribeInstanceVncUrl", DescribeInstanceVncUrl},
    {Service::kEcs, "ModifyInstanceVncPasswd", ModifyInstanceVncPasswd},
    {Service::kEcs, "DescribeUserData", DescribeUserData},
    {Service::kEcs, "DescribeUserdata", DescribeUserData},
    {Service::kEcs, "ModifyInstanceAutoReleaseTime", ModifyInstanceAutoReleaseTime},
    {Service::kEcs, "RenewInstance", RenewInstance},
    {Service::kEcs, "AttachDisk", AttachOrDetachDisk},
    {Service::kEcs, "DetachDisk", AttachOrDetachDisk},
};

}  // namespace

std::span<const ActionHandler> InstanceHandlers() { return kHandlers; }

}  // namespace kestrune::sim
