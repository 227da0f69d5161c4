#include "sim/api.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>
#include <optional>

#include "sim/clock.h"

namespace kestrune::sim {
namespace {

using Result = std::variant<ActionReply, ApiError>;

constexpr std::string_view kIncorrectStatusMessage =
    "The current status of the resource does not support this operation.";

ApiError InstanceNotFound() {
  return {404, "InvalidInstanceId.NotFound", "The specified InstanceId does not exist."};
}

ApiError IncorrectInstanceStatus() {
  return {403, "IncorrectInstanceStatus", std::string(kIncorrectStatusMessage)};
}

std::optional<std::int64_t> ParseInt(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Reads an optional integer parameter within [low, high].
std::variant<std::int64_t, ApiError> IntParam(const std::vector<QueryParam>& params,
                                              std::string_view name, std::int64_t fallback,
                                              std::int64_t low, std::int64_t high) {
  const std::string_view text = ParamValue(params, name);
  if (text.empty()) return fallback;
  const auto value = ParseInt(text);
  if (!value || *value < low || *value > high) return InvalidParameterError(name);
  return *value;
}

// "[\"i-a\",\"i-b\"]" or "i-a,i-b" into ids.
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

struct Page {
  std::int64_t number;
  std::int64_t size;
};

std::variant<Page, ApiError> ReadPage(const std::vector<QueryParam>& params,
                                      std::int64_t max_size) {
  auto number = IntParam(params, "PageNumber", 1, 1, 1000000);
  if (auto* error = std::get_if<ApiError>(&number)) return *error;
  auto size = IntParam(params, "PageSize", 10, 1, max_size);
  if (auto* error = std::get_if<ApiError>(&size)) return *error;
  return Page{std::get<std::int64_t>(number), std::get<std::int64_t>(size)};
}

template <typename T>
std::vector<T> Slice(const std::vector<T>& all, const Page& page) {
  const auto begin = static_cast<std::size_t>((page.number - 1) * page.size);
  if (begin >= all.size()) return {};
  const std::size_t end = std::min(all.size(), begin + static_cast<std::size_t>(page.size));
  return std::vector<T>(all.begin() + static_cast<std::ptrdiff_t>(begin),
                        all.begin() + static_cast<std::ptrdiff_t>(end));
}

std::string Gib(double value) {
  char buffer[32];
  if (value == static_cast<double>(static_cast<std::int64_t>(value))) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
  }
  return buffer;
}

class Handler {
 public:
  Handler(World& world, const ActionCall& call)
      : world_(world),
        call_(call),
        params_(*call.params),
        root_(Node::Object(std::string(call.action) + "Response")) {
    root_.Str("RequestId", std::string(call.request_id));
  }

  std::string_view P(std::string_view name) const { return ParamValue(params_, name); }

  Result Done(std::size_t chunk_size = 0) { return ActionReply{std::move(root_), chunk_size}; }

  // Instance named by InstanceId, also in RegionId when that is given.
  std::variant<Instance*, ApiError> TargetInstance() {
    Instance* instance = world_.FindInstance(P("InstanceId"));
    if (instance == nullptr) return InstanceNotFound();
    const std::string_view region = P("RegionId");
    if (!region.empty() && instance->region != region) return InstanceNotFound();
    return instance;
  }

  Result DescribeRegions() {
    Node regions = Node::List("Regions", "Region");
    const bool gateway = call_.service == Service::kApiGateway;
    for (const RegionInfo& region : Regions()) {
      Node& item = regions.NewItem();
      item.Str("RegionId", std::string(region.id));
      const std::string endpoint =
          std::string(gateway ? "apigateway." : "ecs.") + std::string(region.id) + ".aliyuncs.com";
      if (gateway) {
        item.Str("LocalName", std::string(region.local_name));
        item.Str("RegionEndpoint", endpoint);
      } else {
        item.Str("RegionEndpoint", endpoint);
        item.Str("LocalName", std::string(region.local_name));
      }
    }
    root_.Add(std::move(regions));
    return Done();
  }

  Result DescribeZones() {
    const RegionInfo* region = FindRegion(P("RegionId"));
    Node zones = Node::List("Zones", "Zone");
    const std::vector<std::string> ids = ZonesOf(*region);
    const auto& types = InstanceTypes();
    for (std::size_t z = 0; z < ids.size(); ++z) {
      Node& zone = zones.NewItem();
      zone.Str("ZoneId", ids[z]);
      zone.Str("LocalName", ZoneLocalName(*region, region->zone_letters[z]));
      Node resources = Node::List("AvailableResourceCreation", "ResourceTypes");
      resources.Item("VSwitch")
          .Item("IoOptimized")
          .Item("Instance")
          .Item("DedicatedHost")
          .Item("Disk");
      zone.Add(std::move(resources));
      Node offered = Node::List("AvailableInstanceTypes", "InstanceTypes");
      for (std::size_t t = z % 3; t < types.size(); t += 9) offered.Item(types[t].id);
      zone.Add(std::move(offered));
      Node disks = Node::List("AvailableDiskCategories", "DiskCategories");
      disks.Item("cloud_essd").Item("cloud_ssd").Item("cloud_efficiency").Item("cloud_auto");
      zone.Add(std::move(disks));
      Node volumes = Node::List("AvailableVolumeCategories", "VolumeCategories");
      volumes.Item("cloud_essd").Item("cloud_ssd");
      zone.Add(std::move(volumes));
      Node dedicated = Node::List("AvailableDedicatedHostTypes", "DedicatedHostType");
      dedicated.Item("ddh.g7").Item("ddh.c7").Item("ddh.r7");
      zone.Add(std::move(dedicated));
    }
    root_.Add(std::move(zones));
    return Done();
  }

  Result DescribeInstanceStatus() {
    auto page = ReadPage(params_, 50);
    if (auto* error = std::get_if<ApiError>(&page)) return *error;
    std::vector<const Instance*> all = world_.InstancesIn(P("RegionId"));
    const std::string_view zone = P("ZoneId");
    if (!zone.empty()) {
      std::erase_if(all, [&](const Instance* i) { return i->zone != zone; });
    }
    const Page& p = std::get<Page>(page);
    root_.Num("PageNumber", p.number);
    root_.Num("TotalCount", static_cast<std::int64_t>(all.size()));
    root_.Num("PageSize", p.size);
    Node statuses = Node::List("InstanceStatuses", "InstanceStatus");
    for (const Instance* instance : Slice(all, p)) {
      statuses.NewItem().Str("InstanceId", instance->id).Str("Status", instance->status);
    }
    root_.Add(std::move(statuses));
    return Done();
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
    r.Str("OSNameEn", in.image_id.starts_with("ubuntu") ? "Ubuntu  22.04 64 bit"
                      : in.image_id.starts_with("centos")
                          ? "CentOS  7.9 64 bit"
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

  Result DescribeInstances() {
    auto page = ReadPage(params_, 100);
    if (auto* error = std::get_if<ApiError>(&page)) return *error;
    std::vector<const Instance*> all = world_.InstancesIn(P("RegionId"));
    const std::string_view ids_text = P("InstanceIds");
    if (!ids_text.empty()) {
      const std::vector<std::string> ids = ParseIdList(ids_text);
      if (ids.size() > 100) return InvalidParameterError("InstanceIds");
      std::erase_if(all, [&](const Instance* i) {
        return std::find(ids.begin(), ids.end(), i->id) == ids.end();
      });
    }
    for (std::string_view field : {"ZoneId", "Status", "InstanceName", "VpcId", "InstanceType"}) {
      const std::string_view wanted = P(field);
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
    root_.Num("TotalCount", static_cast<std::int64_t>(all.size()));
    root_.Num("PageNumber", p.number);
    root_.Num("PageSize", p.size);
    Node list = Node::List("Instances", "Instance");
    for (const Instance* instance : Slice(all, p)) AddInstance(list, *instance);
    root_.Add(std::move(list));
    return Done();
  }

  // Start, stop, reboot: a state change that needs a given state first.
  Result Transition(std::string_view needed, std::string_view next) {
    auto target = TargetInstance();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    Instance* instance = std::get<Instance*>(target);
    if (instance->status != needed) return IncorrectInstanceStatus();
    instance->status = next;
    return Done();
  }

  Result DeleteInstance() {
    auto target = TargetInstance();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    Instance* instance = std::get<Instance*>(target);
    if (instance->status != "Stopped" && P("Force") != "true") return IncorrectInstanceStatus();
    world_.DeleteInstance(instance->id);
    return Done();
  }

  Result Launch(bool run) {
    const std::string_view region_id = P("RegionId");
    const RegionInfo* region = FindRegion(region_id);
    const std::vector<std::string> zones = ZonesOf(*region);
    std::string zone = std::string(P("ZoneId"));
    if (zone.empty()) {
      zone = zones.front();
    } else if (std::find(zones.begin(), zones.end(), zone) == zones.end()) {
      return InvalidParameterError("ZoneId");
    }
    const auto& types = InstanceTypes();
    const std::string_view type = P("InstanceType");
    if (std::none_of(types.begin(), types.end(), [&](const auto& t) { return t.id == type; })) {
      return InvalidParameterError("InstanceType");
    }
    std::int64_t amount = 1;
    if (run) {
      auto value = IntParam(params_, "Amount", 1, 1, 100);
      if (auto* error = std::get_if<ApiError>(&value)) return *error;
      amount = std::get<std::int64_t>(value);
    }
    if (world_.InstancesIn(region_id).size() + static_cast<std::size_t>(amount) >
        World::kMaxInstancesPerRegion) {
      return ApiError{403, "QuotaExceed.ElasticQuota",
                      "The number of instances in this region has reached the quota."};
    }
    Node ids = Node::List("InstanceIdSets", "InstanceIdSet");
    std::string first;
    for (std::int64_t n = 0; n < amount; ++n) {
      Instance* instance = world_.CreateInstance(region_id, zone, P("ImageId"), type,
                                                 run ? "Running" : "Stopped", call_.now_ms);
      if (!P("InstanceName").empty()) instance->name = P("InstanceName");
      if (!P("Description").empty()) instance->description = P("Description");
      if (!P("HostName").empty()) instance->host_name = P("HostName");
      if (!P("UserData").empty()) instance->user_data = P("UserData");
      ids.Item(instance->id);
      if (first.empty()) first = instance->id;
    }
    if (run) {
      root_.Add(std::move(ids));
    } else {
      root_.Str("InstanceId", first);
    }
    root_.Str("OrderId", world_.RandomId("", 15));
    root_.Str("TradePrice", "0.0");
    return Done();
  }

  Result ModifyInstanceAttribute() {
    auto target = TargetInstance();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    Instance* instance = std::get<Instance*>(target);
    if (!P("InstanceName").empty()) instance->name = P("InstanceName");
    if (!P("Description").empty()) instance->description = P("Description");
    if (!P("HostName").empty()) instance->host_name = P("HostName");
    if (!P("UserData").empty()) {
      if (P("UserData").size() > 32768) return InvalidParameterError("UserData");
      instance->user_data = P("UserData");
    }
    return Done();
  }

  Result ModifyInstanceVpcAttribute() {
    auto target = TargetInstance();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    Instance* instance = std::get<Instance*>(target);
    if (instance->status != "Stopped") return IncorrectInstanceStatus();
    instance->vswitch_id = P("VSwitchId");
    if (!P("PrivateIpAddress").empty()) instance->private_ip = P("PrivateIpAddress");
    return Done();
  }

  Result SecurityGroup(bool join) {
    auto target = TargetInstance();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    Instance* instance = std::get<Instance*>(target);
    if (join) {
      instance->security_group = P("SecurityGroupId");
    } else if (instance->security_group == P("SecurityGroupId")) {
      return ApiError{403, "InvalidSecurityGroup.LastOne",
                      "The specified security group is the last one of the instance."};
    }
    return Done();
  }

  Result DescribeInstanceVncUrl() {
    auto target = TargetInstance();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    const Instance* instance = std::get<Instance*>(target);
    // The console's address carries an encrypted session token; its length
    // (well over 255 characters) is what matters to clients.
    std::string token = Base64(instance->id + ":" + instance->region + ":" +
                               std::to_string(call_.now_ms) + ":" + world_.RandomId("", 160));
    std::string url =
        "wss://" + instance->region + "-vncproxy.aliyun.com/webproxy?s=" + PercentEncode(token);
    root_.Str("VncUrl", url);
    return Done();
  }

  Result ModifyInstanceVncPasswd() {
    auto target = TargetInstance();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    const std::string_view password = P("VncPassword");
    if (password.size() != 6 || !std::all_of(password.begin(), password.end(), [](char c) {
          return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        })) {
      return InvalidParameterError("VncPassword");
    }
    std::get<Instance*>(target)->vnc_password = password;
    return Done();
  }

  Result DescribeUserData() {
    auto target = TargetInstance();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    const Instance* instance = std::get<Instance*>(target);
    root_.Str("RegionId", instance->region);
    root_.Str("InstanceId", instance->id);
    root_.Str("UserData", instance->user_data);
    return Done();
  }

  Result InstanceOnly(const std::function<void(Instance&)>& change) {
    auto target = TargetInstance();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    change(*std::get<Instance*>(target));
    return Done();
  }

  Result RenewInstance() {
    auto period = IntParam(params_, "Period", 1, 1, 60);
    if (auto* error = std::get_if<ApiError>(&period)) return *error;
    return InstanceOnly([](Instance&) {});
  }

  Result ImageTask(bool import) {
    const std::string_view region = import ? P("RegionId") : P("DestinationRegionId");
    if (FindRegion(region) == nullptr) {
      return InvalidParameterError(import ? "RegionId" : "DestinationRegionId");
    }
    Task& task = world_.CreateTask(region, import ? "ImportImage" : "CopyImage", call_.now_ms);
    root_.Str("ImageId", world_.RandomId("m-"));
    if (import) {
      root_.Str("TaskId", task.id);
      root_.Str("RegionId", std::string(region));
    }
    return Done();
  }

  Result DescribeInstanceTypes() {
    const std::string_view family = P("InstanceTypeFamily");
    Node list = Node::List("InstanceTypes", "InstanceType");
    for (const InstanceTypeInfo& t : InstanceTypes()) {
      if (!family.empty() && t.family != family) continue;
      Node& r = list.NewItem();
      r.Str("InstanceTypeId", t.id);
      r.Num("CpuCoreCount", t.cpu);
      r.Str("MemorySize", Gib(t.memory_gib));
      r.Str("InstanceTypeFamily", t.family);
      r.Num("GPUAmount", t.gpu_amount);
      r.Str("GPUSpec", t.gpu_spec);
      r.Str("LocalStorageCategory", t.local_storage);
      r.Num("LocalStorageCapacity", t.local_storage_gib);
      r.Num("LocalStorageAmount", t.local_storage_amount);
      r.Num("EniQuantity", t.eni_quantity);
      r.Num("EniPrivateIpAddressQuantity", std::min(20, 6 + t.cpu / 2));
      r.Num("EniIpv6AddressQuantity", std::min(20, 1 + t.cpu / 4));
      r.Num("EniTotalQuantity", t.eni_quantity * 2);
      r.Bool("EniTrunkSupported", true);
      r.Num("InstanceBandwidthRx", 1024000LL * std::min(32, 1 + t.cpu / 4));
      r.Num("InstanceBandwidthTx", 1024000LL * std::min(32, 1 + t.cpu / 4));
      r.Num("InstancePpsRx", 100000LL * std::min(240, 3 + t.cpu));
      r.Num("InstancePpsTx", 100000LL * std::min(240, 3 + t.cpu));
      r.Num("TotalEniQueueQuantity", std::min(64, 2 * t.cpu));
      r.Num("PrimaryEniQueueNumber", std::min(32, t.cpu));
      r.Num("SecondaryEniQueueNumber", std::min(16, t.cpu));
      r.Num("MaximumQueueNumberPerEni", std::min(32, t.cpu));
      r.Num("QueuePairNumber", std::min(32, t.cpu));
      r.Str("InstanceFamilyLevel",
            t.family == "ecs.t5" || t.family == "ecs.t6" ? "CreditEntryLevel" : "EnterpriseLevel");
      r.Str("CpuArchitecture", t.cpu_model.starts_with("T-HEAD") ? "ARM" : "X86");
      r.Str("PhysicalProcessorModel", t.cpu_model);
      r.Str("CpuSpeedFrequency", "2.7");
      r.Str("CpuTurboFrequency", "3.5");
      r.Str("NvmeSupport", "required");
      r.Num("DiskQuantity", 17);
    }
    root_.Add(std::move(list));
    return Done(2048);
  }

  Result DescribeInstanceTypeFamilies() {
    const std::string_view generation = P("Generation");
    Node list = Node::List("InstanceTypeFamilies", "InstanceTypeFamily");
    for (const FamilyInfo& family : InstanceTypeFamilies()) {
      if (!generation.empty() && family.generation != generation) continue;
      list.NewItem()
          .Str("InstanceTypeFamilyId", std::string(family.id))
          .Str("Generation", std::string(family.generation));
    }
    root_.Add(std::move(list));
    return Done();
  }

  static std::string TaskTime(std::int64_t ms) { return ms == 0 ? "" : FormatTimestamp(ms); }

  Result DescribeTasks() {
    auto page = ReadPage(params_, 100);
    if (auto* error = std::get_if<ApiError>(&page)) return *error;
    std::vector<const Task*> all = world_.TasksIn(P("RegionId"));
    const std::vector<std::string> ids = ParseIdList(P("TaskIds"));
    if (!ids.empty()) {
      std::erase_if(all, [&](const Task* t) {
        return std::find(ids.begin(), ids.end(), t->id) == ids.end();
      });
    }
    for (std::string_view field : {"TaskAction", "TaskStatus"}) {
      const std::string_view wanted = P(field);
      if (wanted.empty()) continue;
      std::erase_if(all, [&](const Task* t) {
        return (field == "TaskAction" ? t->action : t->status) != wanted;
      });
    }
    const Page& p = std::get<Page>(page);
    root_.Str("RegionId", std::string(P("RegionId")));
    root_.Num("TotalCount", static_cast<std::int64_t>(all.size()));
    root_.Num("PageNumber", p.number);
    root_.Num("PageSize", p.size);
    Node set = Node::List("TaskSet", "Task");
    for (const Task* task : Slice(all, p)) {
      set.NewItem()
          .Str("TaskId", task->id)
          .Str("TaskAction", task->action)
          .Str("TaskStatus", task->status)
          .Str("SupportCancel", task->support_cancel ? "true" : "false")
          .Str("CreationTime", TaskTime(task->creation_ms))
          .Str("FinishedTime", TaskTime(task->finished_ms));
    }
    root_.Add(std::move(set));
    return Done();
  }

  std::variant<Task*, ApiError> TargetTask() {
    Task* task = world_.FindTask(P("TaskId"));
    if (task == nullptr || task->region != P("RegionId")) {
      return ApiError{404, "InvalidTaskId.NotFound", "The specified TaskId does not exist."};
    }
    return task;
  }

  Result DescribeTaskAttribute() {
    auto target = TargetTask();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    const Task& task = *std::get<Task*>(target);
    const bool finished = task.status == "Finished";
    const std::string progress = finished ? "100%" : task.status == "Processing" ? "42%" : "0%";
    root_.Str("RegionId", task.region);
    root_.Str("TaskId", task.id);
    root_.Str("TaskAction", task.action);
    root_.Str("TaskStatus", task.status);
    root_.Str("TaskProcess", progress);
    root_.Str("Progress", progress);
    root_.Str("SupportCancel", task.support_cancel ? "true" : "false");
    root_.Num("TotalCount", 1);
    root_.Num("SuccessCount", finished ? 1 : 0);
    root_.Num("FailedCount", 0);
    root_.Str("CreationTime", TaskTime(task.creation_ms));
    root_.Str("FinishedTime", TaskTime(task.finished_ms));
    Node set = Node::List("OperationProgressSet", "OperationProgress");
    Node& op = set.NewItem();
    op.Str("OperationStatus", finished ? "Success" : task.status);
    op.Str("ErrorCode", "");
    op.Str("ErrorMsg", "");
    Node related = Node::List("RelatedItemSet", "RelatedItem");
    related.NewItem().Str("Name", "ImageId").Str("Value", "m-" + task.id.substr(2));
    op.Add(std::move(related));
    root_.Add(std::move(set));
    return Done();
  }

  Result CancelTask() {
    auto target = TargetTask();
    if (auto* error = std::get_if<ApiError>(&target)) return *error;
    Task& task = *std::get<Task*>(target);
    if (task.status != "Processing" || !task.support_cancel) {
      return ApiError{403, "IncorrectTaskStatus",
                      "The current status of the task does not support this operation."};
    }
    task.status = "Cancelled";
    task.support_cancel = false;
    task.finished_ms = call_.now_ms;
    return Done();
  }

  // Pages a built list of records into the reply, with the page fields first.
  Result PagedList(Node list, const std::vector<Node>& records, std::int64_t max_size = 100) {
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

  Result DescribeDisks() {
    const std::string_view only_instance = P("InstanceId");
    const std::vector<std::string> ids = ParseIdList(P("DiskIds"));
    std::vector<Node> records;
    for (const Instance* in : world_.InstancesIn(P("RegionId"))) {
      const std::string disk_id = "d-" + in->id.substr(2);
      if (!only_instance.empty() && in->id != only_instance) continue;
      if (!ids.empty() && std::find(ids.begin(), ids.end(), disk_id) == ids.end()) continue;
      Node d = Node::Object("Disk");
      d.Str("DiskId", disk_id);
      d.Str("RegionId", in->region);
      d.Str("ZoneId", in->zone);
      d.Str("DiskName", in->name + "-system");
      d.Str("Description", "");
      d.Str("Type", "system");
      d.Str("Category", "cloud_essd");
      d.Str("PerformanceLevel", "PL0");
      d.Num("Size", 40);
      d.Str("ImageId", in->image_id);
      d.Str("SourceSnapshotId", "");
      d.Bool("Portable", false);
      d.Str("Status", "In_use");
      d.Str("InstanceId", in->id);
      d.Str("Device", "/dev/xvda");
      d.Bool("DeleteWithInstance", true);
      d.Bool("DeleteAutoSnapshot", true);
      d.Bool("EnableAutoSnapshot", true);
      d.Bool("Encrypted", false);
      d.Str("DiskChargeType", "PostPaid");
      d.Str("CreationTime", FormatMinuteTimestamp(in->creation_ms));
      d.Str("AttachedTime", FormatMinuteTimestamp(in->creation_ms + 60000));
      records.push_back(std::move(d));
    }
    return PagedList(Node::List("Disks", "Disk"), records);
  }

  Result DescribeSecurityGroups() {
    const std::string region(P("RegionId"));
    std::vector<Node> records;
    Node g = Node::Object("SecurityGroup");
    g.Str("SecurityGroupId", "sg-" + region + "-default");
    g.Str("SecurityGroupName", "default");
    g.Str("Description", "System created security group.");
    g.Str("SecurityGroupType", "normal");
    const auto instances = world_.InstancesIn(region);
    g.Str("VpcId", instances.empty() ? "" : instances.front()->vpc_id);
    g.Str("CreationTime", "2024-01-01T00:00:00Z");
    g.Str("ResourceGroupId", "rg-acfmsimdefault01");
    records.push_back(std::move(g));
    root_.Str("RegionId", region);
    return PagedList(Node::List("SecurityGroups", "SecurityGroup"), records);
  }

  Result DescribeVpcs() {
    const std::string region(P("RegionId"));
    const auto instances = world_.InstancesIn(region);
    std::vector<Node> records;
    if (!instances.empty()) {
      const std::string& vpc_id = instances.front()->vpc_id;
      Node v = Node::Object("Vpc");
      v.Str("VpcId", vpc_id);
      v.Str("RegionId", region);
      v.Str("Status", "Available");
      v.Str("VpcName", "default-vpc");
      v.Str("CidrBlock", "172.16.0.0/12");
      v.Str("VRouterId", "vrt-" + vpc_id.substr(4));
      v.Str("Description", "");
      v.Bool("IsDefault", true);
      v.Str("CreationTime", "2024-01-01T00:00:00Z");
      Node switches = Node::List("VSwitchIds", "VSwitchId");
      for (const std::string& zone : ZonesOf(*FindRegion(region)))
        switches.Item("vsw-" + zone + "-sim");
      v.Add(std::move(switches));
      records.push_back(std::move(v));
    }
    return PagedList(Node::List("Vpcs", "Vpc"), records, 50);
  }

  Result DescribeVSwitches() {
    // Keyed by VpcId (the catalogue sends no RegionId): find the VPC's region.
    std::string region(P("RegionId"));
    const std::string_view vpc = P("VpcId");
    for (const RegionInfo& candidate : Regions()) {
      if (!region.empty() || vpc.empty()) break;
      const auto instances = world_.InstancesIn(candidate.id);
      if (!instances.empty() && instances.front()->vpc_id == vpc) region = candidate.id;
    }
    std::vector<Node> records;
    if (const RegionInfo* info = FindRegion(region)) {
      const auto instances = world_.InstancesIn(region);
      const std::string vpc_id = instances.empty() ? "" : instances.front()->vpc_id;
      int n = 0;
      for (const std::string& zone : ZonesOf(*info)) {
        Node w = Node::Object("VSwitch");
        w.Str("VSwitchId", "vsw-" + zone + "-sim");
        w.Str("VpcId", vpc_id);
        w.Str("Status", "Available");
        w.Str("CidrBlock", "172." + std::to_string(16 + (info - Regions().data())) + "." +
                               std::to_string(n++ * 16) + ".0/20");
        w.Str("ZoneId", zone);
        w.Num("AvailableIpAddressCount", 4089);
        w.Str("VSwitchName", "default-" + zone);
        w.Str("Description", "");
        w.Bool("IsDefault", true);
        w.Str("CreationTime", "2024-01-01T00:00:00Z");
        records.push_back(std::move(w));
      }
    }
    return PagedList(Node::List("VSwitches", "VSwitch"), records, 50);
  }

  Result DescribeImages() {
    struct Image {
      const char* id;
      const char* name;
      const char* os;
      const char* platform;
    };
    static constexpr Image kImages[] = {
        {"aliyun_3_x64_20G_alibase_20240819.vhd", "Alibaba Cloud Linux 3.2104 LTS 64位",
         "Alibaba Cloud Linux  3.2104 LTS 64位", "Aliyun"},
        {"ubuntu_22_04_x64_20G_alibase_20240812.vhd", "Ubuntu 22.04 64位", "Ubuntu  22.04 64位",
         "Ubuntu"},
        {"centos_7_9_x64_20G_alibase_20240628.vhd", "CentOS 7.9 64位", "CentOS  7.9 64位",
         "CentOS"},
        {"debian_12_6_x64_20G_alibase_20240819.vhd", "Debian 12.6 64位", "Debian  12.6 64位",
         "Debian"},
        {"win2022_21H2_x64_dtc_zh-cn_40G_alibase_20240816.vhd",
         "Windows Server 2022 数据中心版 64位中文版", "Windows Server  2022 数据中心版 64位中文版",
         "Windows Server 2022"},
    };
    const std::string_view name = P("ImageName");
    std::vector<Node> records;
    for (const Image& image : kImages) {
      if (!name.empty() && std::string_view(image.name).find(name) == std::string_view::npos &&
          std::string_view(image.id).find(name) == std::string_view::npos) {
        continue;
      }
      Node i = Node::Object("Image");
      i.Str("ImageId", image.id);
      i.Str("ImageName", image.id);
      i.Str("ImageVersion", "");
      i.Str("Description", image.name);
      i.Num("Size", std::string_view(image.id).starts_with("win") ? 40 : 20);
      i.Str("Architecture", "x86_64");
      i.Str("OSName", image.os);
      i.Str("OSType", std::string_view(image.id).starts_with("win") ? "windows" : "linux");
      i.Str("Platform", image.platform);
      i.Str("ImageOwnerAlias", "system");
      i.Bool("IsSupportIoOptimized", true);
      i.Bool("IsSelfShared", false);
      i.Str("Status", "Available");
      i.Str("Usage", "instance");
      i.Str("CreationTime", "2024-08-19T00:00:00Z");
      records.push_back(std::move(i));
    }
    root_.Str("RegionId", std::string(P("RegionId")));
    return PagedList(Node::List("Images", "Image"), records);
  }

  Result DescribeEipAddresses() {
    std::vector<Node> records;
    for (const Instance* in : world_.InstancesIn(P("RegionId"))) {
      if (in->eip_allocation.empty()) continue;
      Node e = Node::Object("EipAddress");
      e.Str("AllocationId", in->eip_allocation);
      e.Str("IpAddress", in->eip_ip);
      e.Str("RegionId", in->region);
      e.Str("Status", "InUse");
      e.Str("InstanceId", in->id);
      e.Str("InstanceType", "EcsInstance");
      e.Str("Bandwidth", "5");
      e.Str("InternetChargeType", "PayByTraffic");
      e.Str("ChargeType", "PostPaid");
      e.Str("AllocationTime", FormatTimestamp(in->creation_ms));
      records.push_back(std::move(e));
    }
    return PagedList(Node::List("EipAddresses", "EipAddress"), records);
  }

  Result Generic(std::string_view shape) {
    std::size_t pos = 0;
    while (pos < shape.size()) {
      std::size_t end = shape.find(' ', pos);
      if (end == std::string_view::npos) end = shape.size();
      const std::string_view token = shape.substr(pos, end - pos);
      pos = end + 1;
      if (token.empty() || token == "-") continue;
      if (token[0] == '?') {
        root_.Bool(std::string(token.substr(1)), true);
      } else if (token[0] == '@' || token[0] == '#') {
        const std::size_t slash = token.find('/');
        if (token[0] == '@') {
          auto page = ReadPage(params_, 100);
          if (auto* error = std::get_if<ApiError>(&page)) return *error;
          root_.Num("TotalCount", 0);
          root_.Num("PageNumber", std::get<Page>(page).number);
          root_.Num("PageSize", std::get<Page>(page).size);
        }
        root_.Add(Node::List(std::string(token.substr(1, slash - 1)),
                             std::string(token.substr(slash + 1))));
      } else if (const std::size_t eq = token.find('='); eq != std::string_view::npos) {
        const std::string_view prefix = token.substr(eq + 1);
        root_.Str(std::string(token.substr(0, eq)),
                  prefix.empty() || prefix.size() == 1 ? world_.RandomId(prefix, 32 - prefix.size())
                                                       : world_.RandomId(prefix));
      } else if (const std::size_t colon = token.find(':'); colon != std::string_view::npos) {
        root_.Str(std::string(token.substr(0, colon)), std::string(token.substr(colon + 1)));
      } else {
        root_.Str(std::string(token), std::string(P(token)));
      }
    }
    return Done();
  }

 private:
  World& world_;
  const ActionCall& call_;
  const std::vector<QueryParam>& params_;
  Node root_;
};

}  // namespace

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

std::variant<ActionReply, ApiError> RunAction(World& world, const ActionInfo& info,
                                              const ActionCall& call) {
  Handler h(world, call);
  const std::string_view name = info.name;
  if (call.service == Service::kEcs) {
    if (name == "DescribeRegions") return h.DescribeRegions();
    if (name == "DescribeZones") return h.DescribeZones();
    if (name == "DescribeInstanceStatus") return h.DescribeInstanceStatus();
    if (name == "DescribeInstances") return h.DescribeInstances();
    if (name == "StartInstance") return h.Transition("Stopped", "Running");
    if (name == "StopInstance") return h.Transition("Running", "Stopped");
    if (name == "RebootInstance") return h.Transition("Running", "Running");
    if (name == "DeleteInstance") return h.DeleteInstance();
    if (name == "RunInstances") return h.Launch(true);
    if (name == "CreateInstance") return h.Launch(false);
    if (name == "ModifyInstanceAttribute") return h.ModifyInstanceAttribute();
    if (name == "ModifyInstanceVpcAttribute") return h.ModifyInstanceVpcAttribute();
    if (name == "JoinSecurityGroup") return h.SecurityGroup(true);
    if (name == "LeaveSecurityGroup") return h.SecurityGroup(false);
    if (name == "DescribeInstanceVncUrl") return h.DescribeInstanceVncUrl();
    if (name == "ModifyInstanceVncPasswd") return h.ModifyInstanceVncPasswd();
    if (name == "DescribeUserData" || name == "DescribeUserdata") return h.DescribeUserData();
    if (name == "ModifyInstanceAutoReleaseTime") {
      const std::string release(h.P("AutoReleaseTime"));
      return h.InstanceOnly([&](Instance& i) { i.auto_release_time = release; });
    }
    if (name == "RenewInstance") return h.RenewInstance();
    if (name == "AttachDisk" || name == "DetachDisk") return h.InstanceOnly([](Instance&) {});
    if (name == "ImportImage") return h.ImageTask(true);
    if (name == "CopyImage") return h.ImageTask(false);
    if (name == "DescribeInstanceTypes") return h.DescribeInstanceTypes();
    if (name == "DescribeInstanceTypeFamilies") return h.DescribeInstanceTypeFamilies();
    if (name == "DescribeTasks") return h.DescribeTasks();
    if (name == "DescribeDisks") return h.DescribeDisks();
    if (name == "DescribeSecurityGroups") return h.DescribeSecurityGroups();
    if (name == "DescribeVpcs") return h.DescribeVpcs();
    if (name == "DescribeVSwitches") return h.DescribeVSwitches();
    if (name == "DescribeImages") return h.DescribeImages();
    if (name == "DescribeEipAddresses") return h.DescribeEipAddresses();
    if (name == "DescribeTaskAttribute") return h.DescribeTaskAttribute();
    if (name == "CancelTask") return h.CancelTask();
  } else if (call.service == Service::kApiGateway && name == "DescribeRegions") {
    return h.DescribeRegions();
  }
  return h.Generic(info.reply);
}

}  // namespace kestrune::sim
