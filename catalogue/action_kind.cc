#include "catalogue/action_kind.h"

#include <algorithm>
#include <array>

#include "catalogue/catalogue.h"

namespace kestrune::catalogue {
namespace {

using namespace std::string_view_literals;

// The verbs of the three services' actions that only read. A name such as
// "Describe" followed by anything reads; no action of these APIs that starts
// so changes state.
constexpr std::array kReadOnlyVerbs = {"Describe"sv, "List"sv, "Query"sv, "Get"sv, "Check"sv};

// ECS 2014-05-26 changes that take a ClientToken (the vendor's API metadata),
// those this build's lists hold; sorted for the binary search. IoT 2016-05-30
// and API Gateway 2016-07-14 take none.
constexpr std::array kEcsClientTokenActions = {
    "AddBandwidthPackageIps"sv,
    "AllocateDedicatedHosts"sv,
    "AllocateEipAddress"sv,
    "AssignIpv6Addresses"sv,
    "AssignPrivateIpAddresses"sv,
    "AuthorizeSecurityGroup"sv,
    "AuthorizeSecurityGroupEgress"sv,
    "CopyImage"sv,
    "CopySnapshot"sv,
    "CreateActivation"sv,
    "CreateAutoProvisioningGroup"sv,
    "CreateCapacityReservation"sv,
    "CreateCommand"sv,
    "CreateDeploymentSet"sv,
    "CreateDisk"sv,
    "CreateElasticityAssurance"sv,
    "CreateHpcCluster"sv,
    "CreateImage"sv,
    "CreateImageComponent"sv,
    "CreateImagePipeline"sv,
    "CreateInstance"sv,
    "CreateNatGateway"sv,
    "CreateNetworkInterface"sv,
    "CreatePrefixList"sv,
    "CreateRouteEntry"sv,
    "CreateSecurityGroup"sv,
    "CreateSnapshot"sv,
    "CreateSnapshotGroup"sv,
    "CreateVSwitch"sv,
    "CreateVpc"sv,
    "DeleteHpcCluster"sv,
    "DeleteInstances"sv,
    "DeregisterManagedInstance"sv,
    "ImportImage"sv,
    "InvokeCommand"sv,
    "ModifyDedicatedHostsChargeType"sv,
    "ModifyDiskChargeType"sv,
    "ModifyElasticityAssurance"sv,
    "ModifyHpcClusterAttribute"sv,
    "ModifyInstanceChargeType"sv,
    "ModifyInstanceNetworkSpec"sv,
    "ModifyInstanceSpec"sv,
    "ModifyPrepayInstanceSpec"sv,
    "ModifySecurityGroupEgressRule"sv,
    "ModifySecurityGroupPolicy"sv,
    "ModifySecurityGroupRule"sv,
    "PurchaseReservedInstancesOffering"sv,
    "PurchaseStorageCapacityUnit"sv,
    "RemoveBandwidthPackageIps"sv,
    "RenewDedicatedHosts"sv,
    "RenewInstance"sv,
    "ReplaceSystemDisk"sv,
    "ResizeDisk"sv,
    "RevokeSecurityGroup"sv,
    "RevokeSecurityGroupEgress"sv,
    "RunCommand"sv,
    "RunInstances"sv,
    "SendFile"sv,
    "StartImagePipelineExecution"sv,
    "StartTerminalSession"sv,
};
static_assert(std::ranges::is_sorted(kEcsClientTokenActions));

}  // namespace

bool TakesClientToken(unsigned service_number, std::string_view action) {
  return service_number == kEcsService &&
         std::ranges::binary_search(kEcsClientTokenActions, action);
}

ActionKind KindOfAction(unsigned service_number, std::string_view action) {
  for (std::string_view verb : kReadOnlyVerbs) {
    // The verb and then a capital: "Getaway" is no read.
    if (action.size() > verb.size() && action.starts_with(verb) && action[verb.size()] >= 'A' &&
        action[verb.size()] <= 'Z') {
      return ActionKind::kReadOnly;
    }
  }
  return TakesClientToken(service_number, action) ? ActionKind::kIdempotent : ActionKind::kMutating;
}

}  // namespace kestrune::catalogue
