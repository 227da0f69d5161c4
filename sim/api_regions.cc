// The account's fixed offer: regions, their zones, and the instance types and
// families that can be launched.
#include <cstdio>

#include "sim/api_internal.h"

namespace kestrune::sim {
namespace {

std::string Gib(double value) {
  char buffer[32];
  if (value == static_cast<double>(static_cast<std::int64_t>(value))) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
  }
  return buffer;
}

ActionResult DescribeRegions(ActionContext& c) {
  Node regions = Node::List("Regions", "Region");
  const bool gateway = c.call().service == Service::kApiGateway;
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
  c.root().Add(std::move(regions));
  return c.Done();
}

ActionResult DescribeZones(ActionContext& c) {
  const RegionInfo* region = FindRegion(c.P("RegionId"));
  if (region == nullptr) return InvalidParameterError("RegionId");
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
  c.root().Add(std::move(zones));
  return c.Done();
}

ActionResult DescribeInstanceTypes(ActionContext& c) {
  const std::string_view family = c.P("InstanceTypeFamily");
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
  c.root().Add(std::move(list));
  return c.Done(2048);
}

ActionResult DescribeInstanceTypeFamilies(ActionContext& c) {
  const std::string_view generation = c.P("Generation");
  Node list = Node::List("InstanceTypeFamilies", "InstanceTypeFamily");
  for (const FamilyInfo& family : InstanceTypeFamilies()) {
    if (!generation.empty() && family.generation != generation) continue;
    list.NewItem()
        .Str("InstanceTypeFamilyId", std::string(family.id))
        .Str("Generation", std::string(family.generation));
  }
  c.root().Add(std::move(list));
  return c.Done();
}

constexpr ActionHandler kHandlers[] = {
    {Service::kEcs, "DescribeRegions", DescribeRegions},
    {Service::kApiGateway, "DescribeRegions", DescribeRegions},
    {Service::kEcs, "DescribeZones", DescribeZones},
    {Service::kEcs, "DescribeInstanceTypes", DescribeInstanceTypes},
    {Service::kEcs, "DescribeInstanceTypeFamilies", DescribeInstanceTypeFamilies},
};

}  // namespace

std::span<const ActionHandler> RegionHandlers() { return kHandlers; }

}  // namespace kestrune::sim
