#include "sim/catalog.h"

#include <array>
#include <string>

#include "core/ascii.h"

namespace kestrune::sim {
namespace {

constexpr std::array<ServiceInfo, 3> kServices = {{
    {Service::kEcs, "ecs", "ecs.aliyuncs.com", "2014-05-26"},
    {Service::kIot, "iot", "iot.aliyuncs.com", "2016-05-30"},
    {Service::kApiGateway, "apigateway", "apigateway.cn-qingdao.aliyuncs.com", "2016-07-14"},
}};

// Replies marked "" are produced by the handler tables of api_*.cc.
constexpr ActionInfo kEcsActions[] = {
    // Instances.
    {"RunInstances", "RegionId ImageId InstanceType", ""},
    {"CreateInstance", "RegionId ImageId InstanceType", ""},
    {"StartInstance", "InstanceId", ""},
    {"StopInstance", "InstanceId", ""},
    {"RebootInstance", "InstanceId", ""},
    {"ModifyInstanceAttribute", "InstanceId", ""},
    {"ModifyInstanceVpcAttribute", "InstanceId VSwitchId", ""},
    {"DescribeInstanceStatus", "RegionId", ""},
    {"DescribeInstances", "RegionId", ""},
    {"DeleteInstance", "InstanceId", ""},
    {"JoinSecurityGroup", "InstanceId SecurityGroupId", ""},
    {"LeaveSecurityGroup", "InstanceId SecurityGroupId", ""},
    {"DescribeInstanceVncUrl", "RegionId InstanceId", ""},
    {"ModifyInstanceVncPasswd", "RegionId InstanceId VncPassword", ""},
    {"DescribeUserData", "RegionId InstanceId", ""},
    {"DescribeUserdata", "RegionId InstanceId", ""},
    {"ModifyInstanceAutoReleaseTime", "InstanceId", ""},
    {"RenewInstance", "InstanceId Period", ""},
    // Disks.
    {"CreateDisk", "RegionId ZoneId", "DiskId=d-"},
    {"DescribeDisks", "RegionId", ""},
    {"AttachDisk", "InstanceId DiskId", ""},
    {"DetachDisk", "InstanceId DiskId", ""},
    {"ModifyDiskAttribute", "DiskId", "-"},
    {"DeleteDisk", "DiskId", "-"},
    {"ReInitDisk", "DiskId", "-"},
    {"ResetDisk", "DiskId SnapshotId", "-"},
    {"ReplaceSystemDisk", "InstanceId ImageId", "DiskId=d-"},
    {"ResizeDisk", "DiskId NewSize", "-"},
    // Snapshots.
    {"CreateSnapshot", "DiskId", "SnapshotId=s-"},
    {"DeleteSnapshot", "SnapshotId", "-"},
    {"DescribeSnapshots", "RegionId", "@Snapshots/Snapshot"},
    {"CreateAutoSnapshotPolicy", "RegionId TimePoints RepeatWeekdays RetentionDays",
     "AutoSnapshotPolicyId=sp-"},
    {"DeleteAutoSnapshotPolicy", "RegionId AutoSnapshotPolicyId", "-"},
    {"ModifyAutoSnapshotPolicyEx", "RegionId AutoSnapshotPolicyId", "-"},
    {"DescribeAutoSnapshotPolicyEx", "RegionId", "@AutoSnapshotPolicies/AutoSnapshotPolicy"},
    {"ApplyAutoSnapshotPolicy", "RegionId AutoSnapshotPolicyId DiskIds", "-"},
    {"CancelAutoSnapshotPolicy", "RegionId DiskIds", "-"},
    // Images.
    {"DescribeImages", "RegionId", ""},
    {"CreateImage", "RegionId", "ImageId=m-"},
    {"ModifyImageAttribute", "RegionId ImageId", "-"},
    {"DeleteImage", "RegionId ImageId", "-"},
    {"CopyImage", "RegionId ImageId DestinationRegionId", ""},
    {"CancelCopyImage", "RegionId ImageId", "-"},
    {"ModifyImageSharePermission", "RegionId ImageId", "-"},
    {"DescribeImageSharePermission", "RegionId ImageId",
     "RegionId ImageId @Accounts/Account #ShareGroups/ShareGroup"},
    {"ImportImage", "RegionId", ""},
    // Public addresses and elastic IPs.
    {"AllocatePublicIpAddress", "InstanceId", "IpAddress:47.98.12.34"},
    {"ModifyInstanceNetworkSpec", "InstanceId", "-"},
    {"AllocateEipAddress", "RegionId", "AllocationId=eip- EipAddress:47.101.56.78"},
    {"AssociateEipAddress", "AllocationId InstanceId", "-"},
    {"DescribeEipAddresses", "RegionId", ""},
    {"ModifyEipAddressAttribute", "AllocationId Bandwidth", "-"},
    {"UnassociateEipAddress", "AllocationId InstanceId", "-"},
    {"ReleaseEipAddress", "AllocationId", "-"},
    // Security groups.
    {"CreateSecurityGroup", "RegionId", "SecurityGroupId=sg-"},
    {"AuthorizeSecurityGroup", "SecurityGroupId RegionId IpProtocol PortRange", "-"},
    {"DescribeSecurityGroupAttribute", "SecurityGroupId RegionId",
     "SecurityGroupId RegionId SecurityGroupName:default InnerAccessPolicy:Accept "
     "#Permissions/Permission"},
    {"DescribeSecurityGroups", "RegionId", ""},
    {"RevokeSecurityGroup", "SecurityGroupId RegionId IpProtocol PortRange", "-"},
    {"DeleteSecurityGroup", "SecurityGroupId RegionId", "-"},
    {"ModifySecurityGroupAttribute", "RegionId SecurityGroupId", "-"},
    {"AuthorizeSecurityGroupEgress", "SecurityGroupId RegionId IpProtocol PortRange", "-"},
    {"RevokeSecurityGroupEgress", "SecurityGroupId RegionId IpProtocol PortRange", "-"},
    // VPCs, routers, switches, route tables.
    {"CreateVpc", "RegionId", "VpcId=vpc- VRouterId=vrt- RouteTableId=vtb-"},
    {"DeleteVpc", "VpcId", "-"},
    {"DescribeVpcs", "RegionId", ""},
    {"ModifyVpcAttribute", "VpcId", "-"},
    {"DescribeVRouters", "RegionId", "@VRouters/VRouter"},
    {"ModifyVRouterAttribute", "VRouterId", "-"},
    {"CreateVSwitch", "ZoneId CidrBlock VpcId", "VSwitchId=vsw-"},
    {"DeleteVSwitch", "VSwitchId", "-"},
    {"DescribeVSwitches", "", ""},
    {"ModifyVSwitchAttribute", "VSwitchId", "-"},
    {"CreateRouteEntry", "RouteTableId DestinationCidrBlock", "-"},
    {"DeleteRouteEntry", "RouteTableId DestinationCidrBlock", "-"},
    {"DescribeRouteTables", "", "@RouteTables/RouteTable"},
    // Regions.
    {"DescribeRegions", "", ""},
    {"DescribeZones", "RegionId", ""},
    // Monitoring data.
    {"DescribeInstanceMonitorData", "InstanceId StartTime EndTime",
     "#MonitorData/InstanceMonitorData"},
    {"DescribeEipMonitorData", "AllocationId StartTime EndTime", "#EipMonitorDatas/EipMonitorData"},
    {"DescribeDiskMonitorData", "DiskId StartTime EndTime",
     "TotalCount:0 #MonitorData/DiskMonitorData"},
    // NAT gateways, bandwidth packages, forward entries.
    {"CreateNatGateway", "RegionId VpcId",
     "NatGatewayId=ngw- #ForwardTableIds/ForwardTableId #BandwidthPackageIds/BandwidthPackageId"},
    {"DescribeNatGateways", "RegionId", "@NatGateways/NatGateway"},
    {"DeleteNatGateway", "RegionId NatGatewayId", "-"},
    {"DescribeBandwidthPackages", "RegionId", "@BandwidthPackages/BandwidthPackage"},
    {"ModifyBandwidthPackageSpec", "RegionId BandwidthPackageId Bandwidth", "-"},
    {"AddBandwidthPackageIps", "RegionId BandwidthPackageId IpCount", "-"},
    {"RemoveBandwidthPackageIps", "RegionId BandwidthPackageId", "-"},
    {"DeleteBandwidthPackage", "RegionId BandwidthPackageId", "-"},
    {"CreateForwardEntry",
     "RegionId ForwardTableId ExternalIp ExternalPort IpProtocol InternalIp InternalPort",
     "ForwardEntryId=fwd-"},
    {"DescribeForwardTableEntries", "RegionId ForwardTableId",
     "@ForwardTableEntries/ForwardTableEntry"},
    {"ModifyForwardEntry", "RegionId ForwardTableId ForwardEntryId", "-"},
    {"DeleteForwardEntry", "RegionId ForwardTableId ForwardEntryId", "-"},
    // Instance types and tasks.
    {"DescribeInstanceTypes", "", ""},
    {"DescribeInstanceTypeFamilies", "RegionId", ""},
    {"DescribeTasks", "RegionId", ""},
    {"DescribeTaskAttribute", "RegionId TaskId", ""},
    {"CancelTask", "RegionId TaskId", ""},
};

// The IoT suite answers every call with Success; its parameters are checked
// by the device platform, which the simulator does not model.
constexpr ActionInfo kIotActions[] = {
    {"CreateProduct", "", "?Success ProductKey=a1"},
    {"UpdateProduct", "", "?Success"},
    {"GetCats", "", "?Success #CatList/Cat"},
    {"QueryDevice", "", "?Success PageSize:10 Page:1 Total:0 #Data/DeviceInfo"},
    {"RegistDevice", "", "?Success DeviceId=d DeviceName DeviceSecret=s ProductKey"},
    {"ApplyDeviceWithNames", "", "?Success ApplyId:135478"},
    {"QueryApplyStatus", "", "?Success ?Finish"},
    {"QueryPageByApplyId", "",
     "?Success PageSize:10 Page:1 Total:0 #ApplyDeviceList/ApplyDeviceInfo"},
    {"QueryDeviceByName", "", "?Success #DeviceInfo/DeviceInfo"},
    {"ListDevicePermits", "", "?Success #DevicePermitList/DevicePermission"},
    {"BatchGetDeviceState", "", "?Success #DeviceStatusList/DeviceStatus"},
    {"Pub", "", "?Success MessageId:1034567891234567890"},
    {"RevertRpc", "", "?Success RrpcCode:SUCCESS MessageId:1034567891234567891 PayloadBase64:"},
};

constexpr ActionInfo kApiGatewayActions[] = {
    {"CreateApiGroup", "", "GroupId= GroupName Description"},
    {"ModifyApiGroup", "", "GroupId GroupName Description"},
    {"DeleteApiGroup", "", "-"},
    {"CreateApiStageVariable", "", "-"},
    {"DeleteApiStageVariable", "", "-"},
    {"DescribeApiStage", "", "GroupId StageId StageName:RELEASE #Variables/VariableItem"},
    {"DescribeApiGroup", "", "GroupId GroupName:MyApiGroup RegionId:cn-qingdao Status:NORMAL"},
    {"DescribeApiGroups", "", "@ApiGroupAttributes/ApiGroupAttribute"},
    {"SetDomain", "", "GroupId DomainName"},
    {"SetDomainCertificate", "", "-"},
    {"DescribeDomain", "", "GroupId DomainName"},
    {"DeleteDomain", "", "-"},
    {"DeleteDomainCertificate", "", "-"},
    {"CreateApi", "", "ApiId="},
    {"ModifyApi", "", "-"},
    {"SwitchApi", "", "-"},
    {"AbolishApi", "", "-"},
    {"DeleteApi", "", "-"},
    {"DeployApi", "", "-"},
    {"DescribeApi", "", "GroupId ApiId ApiName:MyApi Visibility:PUBLIC"},
    {"DescribeApiDoc", "", "GroupId ApiId StageName"},
    {"DescribeApis", "", "@ApiSummarys/ApiSummary"},
    {"DescribeApiHistory", "", "GroupId ApiId StageName"},
    {"DescribeApiHistories", "", "@ApiHisItems/ApiHisItem"},
    {"DescribeDeployedApi", "", "GroupId ApiId StageName"},
    {"DescribeDeployedApis", "", "@DeployedApis/DeployedApiItem"},
    {"DescribeApiErrorData", "", "#ClientErrors/MonitorItem #ServerErrors/MonitorItem"},
    {"DescribeApiLatencyData", "", "#CallLatencys/MonitorItem"},
    {"DescribeApiQpsData", "", "#CallSuccesses/MonitorItem #CallFails/MonitorItem"},
    {"DescribeApiTrafficData", "", "#CallUploads/MonitorItem #CallDownloads/MonitorItem"},
    {"CreateTrafficControl", "", "TrafficControlId="},
    {"ModifyTrafficControl", "", "-"},
    {"DeleteTrafficControl", "", "-"},
    {"AddTrafficSpecialControl", "", "-"},
    {"DeleteAllTrafficSpecialControl", "", "-"},
    {"DeleteTrafficSpecialControl", "", "-"},
    {"SetTrafficControlApis", "", "-"},
    {"RemoveTrafficControlApis", "", "-"},
    {"DescribeApisByTrafficControl", "", "@ApiInfos/ApiInfo"},
    {"DescribeApiTrafficControls", "", "@ApiTrafficControls/ApiTrafficControlItem"},
    {"DescribeTrafficControls", "", "@TrafficControls/TrafficControl"},
    {"DescribeTrafficControlsByApi", "", "#ApiTrafficControlItems/ApiTrafficControlItem"},
    {"CreateSignature", "", "SignatureId= SignatureName"},
    {"ModifySignature", "", "SignatureId SignatureName"},
    {"DeleteSignature", "", "-"},
    {"SetSignatureApis", "", "-"},
    {"DescribeSignatures", "", "@SignatureInfos/SignatureInfo"},
    {"RemoveSignatureApis", "", "-"},
    {"DescribeApisBySignature", "", "@ApiInfos/ApiInfo"},
    {"DescribeApiSignatures", "", "@ApiSignatures/ApiSignatureItem"},
    {"DescribeSignaturesByApi", "", "#Signatures/SignatureItem"},
    {"CreateApp", "", "AppId:110843374"},
    {"ModifyApp", "", "-"},
    {"ResetAppSecret", "", "-"},
    {"DescribeAppAttributes", "", "@Apps/AppAttribute"},
    {"DeleteApp", "", "-"},
    {"DescribeAppSecurity", "", "AppKey=2 AppSecret= CreatedTime:2016-07-14T08:00:00Z"},
    {"DescribeApps", "", "@Apps/AppItem"},
    {"DescribeAuthorizedApis", "", "@AuthorizedApis/AuthorizedApi"},
    {"DescribeAuthorizedApps", "", "@AuthorizedApps/AuthorizedApp"},
    {"SetApisAuthorities", "", "-"},
    {"SetAppsAuthorities", "", "-"},
    {"RemoveApisAuthorities", "", "-"},
    {"RemoveAppsAuthorities", "", "-"},
    {"DescribeRegions", "", ""},
    {"DescribeSystemParameters", "", "#SystemParams/SystemParamItem"},
};

bool IsRegionLabel(std::string_view label) {
  if (label.empty() || label.size() > 32) return false;
  for (char c : label) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  }
  return true;
}

}  // namespace

const ServiceInfo& InfoFor(Service service) { return kServices[static_cast<int>(service)]; }

std::span<const ServiceInfo> AllServices() { return kServices; }

std::optional<Service> ServiceByName(std::string_view name) {
  for (const ServiceInfo& info : kServices) {
    if (info.name == name) return info.service;
  }
  return std::nullopt;
}

std::optional<Service> ServiceForHost(std::string_view host) {
  std::string h = core::LowerAscii(host);
  // Strip a port (IPv6 literals are not service hosts, so a plain rfind is enough).
  const std::size_t colon = h.rfind(':');
  if (colon != std::string::npos) h.resize(colon);
  if (!h.empty() && h.back() == '.') h.pop_back();
  for (const ServiceInfo& info : kServices) {
    if (h == info.host) return info.service;
  }
  constexpr std::string_view kSuffix = ".aliyuncs.com";
  if (h.size() <= kSuffix.size() ||
      h.compare(h.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return std::nullopt;
  }
  std::string_view label = std::string_view(h).substr(0, h.size() - kSuffix.size());
  // An old ECS region's host joins product and region with '-'.
  if (label.starts_with("ecs-") && IsRegionLabel(label.substr(4))) return Service::kEcs;
  const std::size_t dot = label.find('.');
  if (dot == std::string_view::npos || !IsRegionLabel(label.substr(dot + 1))) return std::nullopt;
  // "<product>.<region>" or, inside the VPC, "<product>-vpc.<region>".
  std::string_view product = label.substr(0, dot);
  if (product.ends_with("-vpc")) product.remove_suffix(4);
  if (product == "ecs") return Service::kEcs;
  if (product == "iot") return Service::kIot;
  if (product == "apigateway") return Service::kApiGateway;
  return std::nullopt;
}

std::span<const ActionInfo> ActionsOf(Service service) {
  switch (service) {
    case Service::kEcs:
      return kEcsActions;
    case Service::kIot:
      return kIotActions;
    case Service::kApiGateway:
      return kApiGatewayActions;
  }
  return {};
}

const ActionInfo* FindAction(Service service, std::string_view name) {
  for (const ActionInfo& action : ActionsOf(service)) {
    if (action.name == name) return &action;
  }
  return nullptr;
}

}  // namespace kestrune::sim
