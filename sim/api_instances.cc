// Instances: their listing and status, launching and deleting them, state
// changes, and the attributes an instance carries (names, network, security
// group, VNC, user data, release time).
#include <functional>

#include "sim/api_internal.h"
#include "sim/clock.h"
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

void AddInstance(Node& list, const Instance& in) {
  Node& r = list.NewItem();
  r.Str("ImageId", in.image_id);
  r.Str("InstanceTypeFamily", in.family);
  r.Str("VlanId", "");
  r.Str("InstanceId", in.id);
  Node eip = Node::Object("EipAddress");
  eip.Str("IpAddress", in.eip_ip);
  eip.Str("AllocationId", in.eip_allocation);
  eip.Str("InternetChargeType", in.eip_ip.empty() ? "" : "PayByTraffic");
  eip.Num("Bandwidth", in.eip_ip.empty() ? 0 : 5);
  eip.Bool("IsSupportUnassociate", true);
  r.Add(std::move(eip));
  r.Num("InternetMaxBandwidthIn", 100);
  r.Str("ZoneId", in.zone);
  r.Str("InternetChargeType", "PayByTraffic");
  r.Str("SpotStrategy", "NoSpot");
  r.Str("StoppedMode", in.status == "Stopped" ? "KeepCharging" : "Not-applicable");
  r.Str("SerialNumber", in.serial);
  r.Bool("IoOptimized", true);
  r.Num("Memory", in.memory_mib);
  r.Num("Cpu", in.cpu);
  Node vpc = Node::Object("VpcAttributes");
  vpc.Str("NatIpAddress", "");
  Node private_ips = Node::List("PrivateIpAddress", "IpAddress");
  private_ips.Item(in.private_ip);
  vpc.Add(std::move(private_ips));
  vpc.Str("VSwitchId", in.vswitch_id);
  vpc.Str("VpcId", in.vpc_id);
  r.Add(std::move(vpc));
  r.Num("InternetMaxBandwidthOut", 5);
  r.Bool("DeviceAvailable", true);
  Node groups = Node::List("SecurityGroupIds", "SecurityGroupId");
  groups.Item(in.security_group);
  r.Add(std::move(groups));
  r.Str("SaleCycle", "");
  r.Str("AutoReleaseTime", in.auto_release_time);
  r.Str("InstanceName", in.name);
  r.Str("Description", in.description);
  r.Str("OSType", "linux");
  r.Str("OSName", in.image_id.starts_with("ubuntu")   ? "Ubuntu  22.04 64位"
                  : in.image_id.starts_with("centos") ? "CentOS  7.9 64位"
                                                      : "Alibaba Cloud Linux  3.2104 LTS 64位");
  r.Str("OSNameEn", in.image_id.starts_with("ubuntu")   ? "Ubuntu  22.04 64 bit"
                    : in.image_id.starts_with("centos") ? "CentOS  7.9 64 bit"
                                                        : "Alibaba Cloud Linux  3.2104 LTS 64 bit");
  r.Str("InstanceNetworkType", "vpc");
  Node public_ips = Node::List("PublicIpAddress", "IpAddress");
  if (in.eip_ip.empty()) public_ips.Item(in.public_ip);
  r.Add(std::move(public_ips));
  r.Str("HostName", in.host_name);
  r.Str("InstanceType", in.type);
  r.Str("CreationTime", FormatMinuteTimestamp(in.creation_ms));
  r.Str("StartTime", FormatMinuteTimestamp(in.creation_ms + 60000));
  r.Str("Status", in.status);
  r.Str("ClusterId", "");
  r.Str("RegionId", in.region);
  r.Str("GPUSpec", "");
  r.Str("InstanceChargeType", "PostPaid");
  r.Num("GPUAmount", 0);
  r.Str("ExpiredTime", "2099-12-31T15:59Z");
  Node inner = Node::List("InnerIpAddress", "IpAddress");
  r.Add(std::move(inner));
  r.Str("KeyPairName", "");
  r.Str("DeploymentSetId", "");
  r.Str("ResourceGroupId", "rg-acfmsimdefault01");
  r.Str("CreditSpecification", "");
  r.Bool("Recyclable", false);
  r.Str("DeletionProtection", "false");
  r.Num("LocalStorageCapacity", 0);
  r.Num("LocalStorageAmount", 0);
  Node locks = Node::List("OperationLocks", "LockReason");
  r.Add(std::move(locks));
  Node cpu = Node::Object("CpuOptions");
  cpu.Num("CoreCount", std::max(1, in.cpu / 2));
  cpu.Num("ThreadsPerCore", in.cpu > 1 ? 2 : 1);
  cpu.Str("Numa", "ON");
  r.Add(std::move(cpu));
  Node metadata = Node::Object("MetadataOptions");
  metadata.Str("HttpEndpoint", "enabled");
  metadata.Str("HttpTokens", "optional");
  r.Add(std::move(metadata));
  Node hibernation = Node::Object("HibernationOptions");
  hibernation.Bool("Configured", false);
  r.Add(std::move(hibernation));
  Node host = Node::Object("DedicatedHostAttribute");
  host.Str("DedicatedHostId", "");
  host.Str("DedicatedHostName", "");
  host.Str("DedicatedHostClusterId", "");
  r.Add(std::move(host));
  Node interfaces = Node::List("NetworkInterfaces", "NetworkInterface");
  Node& eni = interfaces.NewItem();
  eni.Str("Type", "Primary");
  eni.Str("MacAddress",
          "00:16:3e:" + in.id.substr(2, 2) + ":" + in.id.substr(4, 2) + ":" + in.id.substr(6, 2));
  eni.Str("PrimaryIpAddress", in.private_ip);
  eni.Str("NetworkInterfaceId", "eni-" + in.id.substr(2));
  Node eni_ips = Node::List("PrivateIpSets", "PrivateIpSet");
  eni_ips.NewItem().Str("PrivateIpAddress", in.private_ip).Bool("Primary", true);
  eni.Add(std::move(eni_ips));
  r.Add(std::move(interfaces));
  Node tags = Node::List("Tags", "Tag");
  tags.NewItem().Str("TagKey", "env").Str("TagValue", "simulated");
  r.Add(std::move(tags));
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

ActionResult DescribeInstances(ActionContext& c) {
  auto page = ReadPage(c.params(), 100);
  if (auto* error = std::get_if<ApiError>(&page)) return *error;
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
  const Page& p = std::get<Page>(page);
  c.root().Num("TotalCount", static_cast<std::int64_t>(all.size()));
  c.root().Num("PageNumber", p.number);
  c.root().Num("PageSize", p.size);
  Node list = Node::List("Instances", "Instance");
  for (const Instance* instance : Slice(all, p)) AddInstance(list, *instance);
  c.root().Add(std::move(list));
  return c.Done();
}

// Start, stop, reboot: a state change that needs a given state first.
ActionResult Transition(ActionContext& c, std::string_view needed, std::string_view next) {
  auto target = TargetInstance(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  Instance* instance = std::get<Instance*>(target);
  if (instance->status != needed) return IncorrectInstanceStatus();
  instance->status = next;
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
