#include "catalogue/paging.h"

#include "catalogue/catalogue.h"

namespace kestrune::catalogue {
namespace {

struct PagedAction {
  unsigned service;
  PagingInfo info;
};

// The service refuses a PageSize above these (InvalidParameter naming
// PageSize); most ECS lists take 100, a few older ones 50.
constexpr PagedAction kPagedActions[] = {
    {kEcsService, {"DescribeInstances", "Instances", 100}},
    {kEcsService, {"DescribeInstanceStatus", "InstanceStatuses", 50}},
    {kEcsService, {"DescribeTasks", "TaskSet", 100}},
    {kEcsService, {"DescribeDisks", "Disks", 100}},
    {kEcsService, {"DescribeImages", "Images", 100}},
    {kEcsService, {"DescribeSnapshots", "Snapshots", 100}},
    {kEcsService, {"DescribeSecurityGroups", "SecurityGroups", 50}},
    {kEcsService, {"DescribeVpcs", "Vpcs", 50}},
    {kEcsService, {"DescribeVSwitches", "VSwitches", 50}},
    {kEcsService, {"DescribeEipAddresses", "EipAddresses", 100}},
    {kEcsService, {"DescribeKeyPairs", "KeyPairs", 50}},
    {kEcsService, {"DescribeDedicatedHosts", "DedicatedHosts", 100}},
    {kEcsService, {"DescribeLaunchTemplates", "LaunchTemplateSets", 50}},
    {kEcsService, {"DescribeCommands", "Commands", 50}},
    {kEcsService, {"DescribeInvocations", "Invocations", 50}},
    {kEcsService, {"DescribeNetworkInterfaces", "NetworkInterfaceSets", 100}},
    {kEcsService, {"DescribeAutoSnapshotPolicyEx", "AutoSnapshotPolicies", 100}},
    {kApiGatewayService, {"DescribeApis", "ApiSummarys", 100}},
    {kApiGatewayService, {"DescribeApiGroups", "ApiGroupAttributes", 100}},
    {kApiGatewayService, {"DescribeApps", "Apps", 100}},
    {kApiGatewayService, {"DescribeDeployedApis", "DeployedApis", 100}},
};

}  // namespace

std::optional<PagingInfo> PagingOf(unsigned service_number, std::string_view action) {
  for (const PagedAction& paged : kPagedActions) {
    if (paged.service == service_number && paged.info.action == action) return paged.info;
  }
  return std::nullopt;
}

}  // namespace kestrune::catalogue
