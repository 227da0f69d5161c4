// The network around the instances: security groups, the region's VPC and
// its switches, and elastic IPs.
#include "sim/api_internal.h"
#include "sim/clock.h"

namespace kestrune::sim {
namespace {

ActionResult DescribeSecurityGroups(ActionContext& c) {
  const std::string region(c.P("RegionId"));
  std::vector<Node> records;
  Node g = Node::Object("SecurityGroup");
  g.Str("SecurityGroupId", "sg-" + region + "-default");
  g.Str("SecurityGroupName", "default");
  g.Str("Description", "System created security group.");
  g.Str("SecurityGroupType", "normal");
  const auto instances = c.world().InstancesIn(region);
  g.Str("VpcId", instances.empty() ? "" : instances.front()->vpc_id);
  g.Str("CreationTime", "2024-01-01T00:00:00Z");
  g.Str("ResourceGroupId", "rg-acfmsimdefault01");
  records.push_back(std::move(g));
  c.root().Str("RegionId", region);
  return c.PagedList(Node::List("SecurityGroups", "SecurityGroup"), records);
}

ActionResult DescribeVpcs(ActionContext& c) {
  const std::string region(c.P("RegionId"));
  const RegionInfo* info = FindRegion(region);
  if (info == nullptr) return InvalidParameterError("RegionId");
  const auto instances = c.world().InstancesIn(region);
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
    for (const std::string& zone : ZonesOf(*info)) switches.Item("vsw-" + zone + "-sim");
    v.Add(std::move(switches));
    records.push_back(std::move(v));
  }
  return c.PagedList(Node::List("Vpcs", "Vpc"), records, 50);
}

ActionResult DescribeVSwitches(ActionContext& c) {
  // Keyed by VpcId (the catalogue sends no RegionId): find the VPC's region.
  std::string region(c.P("RegionId"));
  const std::string_view vpc = c.P("VpcId");
  for (const RegionInfo& candidate : Regions()) {
    if (!region.empty() || vpc.empty()) break;
    const auto instances = c.world().InstancesIn(candidate.id);
    if (!instances.empty() && instances.front()->vpc_id == vpc) region = candidate.id;
  }
  std::vector<Node> records;
  if (const RegionInfo* info = FindRegion(region)) {
    const auto instances = c.world().InstancesIn(region);
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
  return c.PagedList(Node::List("VSwitches", "VSwitch"), records, 50);
}

ActionResult DescribeEipAddresses(ActionContext& c) {
  std::vector<Node> records;
  for (const Instance* in : c.world().InstancesIn(c.P("RegionId"))) {
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
  return c.PagedList(Node::List("EipAddresses", "EipAddress"), records);
}

constexpr ActionHandler kHandlers[] = {
    {Service::kEcs, "DescribeSecurityGroups", DescribeSecurityGroups},
    {Service::kEcs, "DescribeVpcs", DescribeVpcs},
    {Service::kEcs, "DescribeVSwitches", DescribeVSwitches},
    {Service::kEcs, "DescribeEipAddresses", DescribeEipAddresses},
};

}  // namespace

std::span<const ActionHandler> NetworkHandlers() { return kHandlers; }

}  // namespace kestrune::sim
