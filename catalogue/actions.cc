// The actions of the three services: each one's template, captions, reply
// shape and paging, in one record.
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "catalogue/catalogue.h"

namespace kestrune::catalogue {
namespace {

using namespace std::string_view_literals;

// A packed run of entries built at compile time, so that shared sample values
// and the long placeholders are written once. A PackedText made from a string
// literal is that entry with its terminating NUL; `+` concatenates runs.
template <std::size_t N>
struct PackedText {
  char chars[N] = {};

  constexpr PackedText() = default;
  constexpr PackedText(const char (&text)[N]) {  // NOLINT: implicit from literals
    for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
  }
  constexpr std::string_view view() const { return std::string_view(chars, N); }
};

template <std::size_t A, std::size_t B>
constexpr PackedText<A + B> operator+(const PackedText<A>& first, const PackedText<B>& second) {
  PackedText<A + B> result;
  for (std::size_t i = 0; i < A; ++i) result.chars[i] = first.chars[i];
  for (std::size_t i = 0; i < B; ++i) result.chars[A + i] = second.chars[i];
  return result;
}

// One entry of `Count` copies of `letter`.
template <std::size_t Count>
constexpr PackedText<Count + 1> Repeated(char letter) {
  PackedText<Count + 1> result;
  for (std::size_t i = 0; i < Count; ++i) result.chars[i] = letter;
  return result;
}

// Room-reserving sample values: a name-sized and a description-sized one.
constexpr auto kNamePlaceholder = Repeated<50>('a');
constexpr auto kDescriptionPlaceholder = Repeated<180>('b');

constexpr auto kCommonSampleValues =
    PackedText("2d3ced841a184af9bdd9f49e6a2c4523") + PackedText("MyApi") + PackedText("PUBLIC") +
    PackedText("TestApi") + PackedText("APP") + PackedText("MyApi");

// The values of most API Gateway templates: the action, then the common samples.
template <PackedText kAction>
constexpr auto kWithCommonSamples = kAction + kCommonSampleValues;

template <PackedText kAction>
constexpr auto kWithBothPlaceholders = kAction + kNamePlaceholder + kDescriptionPlaceholder;

template <PackedText kAction>
constexpr auto kWithNamePlaceholder = kAction + kNamePlaceholder;

template <PackedText kAction>
constexpr auto kWithApiSamples = kAction + kCommonSampleValues + PackedText("CreateApi") +
                                 PackedText("2d3ced841a184af9bdd9f49e6a2c4523") +
                                 PackedText("MyApi") + PackedText("CreateApi") +
                                 PackedText("2d3ced841a184af9bdd9f49e6a2c4523");

using core::ReplyShape;

constexpr ActionSpec Record(const RequestTemplate& request,
                            const core::StringListView& captions = {}) {
  ActionSpec spec{};
  spec.request = request;
  spec.captions = captions;
  return spec;
}

constexpr ActionSpec Ecs(unsigned group, unsigned position, std::string_view action,
                         std::string_view names, std::string_view captions) {
  return Record(
      {kEcsService, group, position, core::StringListView(names), core::StringListView(action)},
      core::StringListView(captions));
}

constexpr ActionSpec Iot(unsigned position, std::string_view action, std::string_view names) {
  return Record(
      {kIotService, 1, position, core::StringListView(names), core::StringListView(action)});
}

constexpr ActionSpec Gateway(unsigned group, unsigned position, std::string_view values,
                             std::string_view names) {
  return Record({kApiGatewayService, group, position, core::StringListView(names),
                 core::StringListView(values)});
}

// A listed action no template holds, known here for what its reply is.
constexpr ActionSpec Listed(unsigned service, std::string_view action) {
  return Record({service, 0, 0, core::StringListView(), core::StringListView(action)});
}

// Every action the catalogue knows more of than its name: first the 176
// templates, each service in group order and each group in position order,
// then the listed actions without one.
constexpr std::array kActionSpecs = {
    // ECS group 1: instances
    Ecs(1, 1, "RunInstances"sv, "Action\0RegionId\0ImageId\0InstanceType\0"sv,
        "Region ID:\0镜像文件ID:\0InstanceType:\0"sv),
    Ecs(1, 2, "CreateInstance"sv, "Action\0RegionId\0ImageId\0InstanceType\0"sv,
        "Region ID:\0镜像文件ID:\0InstanceType:\0"sv),
    Ecs(1, 3, "StartInstance"sv, "Action\0InstanceId\0"sv, "InstanceId:\0"sv),
    Ecs(1, 4, "StopInstance"sv, "Action\0InstanceId\0"sv, "InstanceId:\0"sv),
    Ecs(1, 5, "RebootInstance"sv, "Action\0InstanceId\0"sv, "InstanceId:\0"sv),
    Ecs(1, 6, "ModifyInstanceAttribute"sv, "Action\0InstanceId\0"sv, "InstanceId:\0"sv),
    Ecs(1, 7, "ModifyInstanceVpcAttribute"sv, "Action\0InstanceId\0VSwitchId\0"sv,
        "InstanceId:\0VSwitchId:\0"sv),
    Ecs(1, 8, "DescribeInstanceStatus"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv)
        .Shows(ReplyShape::kInstanceStatus)
        .Pages("InstanceStatuses"sv, 50),
    Ecs(1, 9, "DescribeInstances"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv)
        .Shows(ReplyShape::kInstances)
        .Pages("Instances"sv, 100),
    Ecs(1, 10, "DeleteInstance"sv, "Action\0InstanceId\0"sv, "InstanceId:\0"sv)
        .Shows(ReplyShape::kVncUrl),
    Ecs(1, 11, "JoinSecurityGroup"sv, "Action\0InstanceId\0SecurityGroupId\0"sv,
        "InstanceId:\0SecurityGroupId:\0"sv)
        .Shows(ReplyShape::kVncUrl),
    Ecs(1, 12, "LeaveSecurityGroup"sv, "Action\0InstanceId\0SecurityGroupId\0"sv,
        "InstanceId:\0SecurityGroupId:\0"sv)
        .Shows(ReplyShape::kVncUrl),
    Ecs(1, 13, "DescribeInstanceVncUrl"sv, "Action\0RegionId\0InstanceId\0"sv,
        "RegionId:\0InstanceId:\0"sv)
        .Shows(ReplyShape::kVncUrl),
    Ecs(1, 14, "ModifyInstanceVncPasswd"sv, "Action\0RegionId\0InstanceId\0VncPassword\0"sv,
        "RegionId:\0InstanceId:\0VncPassword:\0"sv),
    Ecs(1, 15, "DescribeUserdata"sv, "Action\0RegionId\0InstanceId\0"sv,
        "RegionId:\0InstanceId:\0"sv)
        .Shows(ReplyShape::kUserData),
    Ecs(1, 16, "ModifyInstanceAutoReleaseTime"sv, "Action\0InstanceId\0"sv, "InstanceId:\0"sv)
        .Shows(ReplyShape::kUserData),
    Ecs(1, 17, "RenewInstance"sv, "Action\0InstanceId\0Period\0"sv, "InstanceId:\0Period:\0"sv)
        .Shows(ReplyShape::kUserData),
    // ECS group 2: disks
    Ecs(2, 1, "CreateDisk"sv, "Action\0RegionId\0ZoneId\0Size\0"sv,
        "Region ID:\0ZoneId:\0容量:\0"sv),
    Ecs(2, 2, "DescribeDisks"sv, "Action\0RegionId\0"sv, "Region ID:\0"sv).Pages("Disks"sv, 100),
    Ecs(2, 3, "AttachDisk"sv, "Action\0InstanceId\0DiskId\0"sv, "InstanceId:\0DiskId:\0"sv),
    Ecs(2, 4, "DetachDisk"sv, "Action\0InstanceId\0DiskId\0"sv, "InstanceId:\0DiskId:\0"sv),
    Ecs(2, 5, "ModifyDiskAttribute"sv, "Action\0DiskId\0DiskName\0"sv, "DiskId:\0DiskName:\0"sv),
    Ecs(2, 6, "DeleteDisk"sv, "Action\0DiskId\0"sv, "DiskId:\0"sv),
    Ecs(2, 7, "ReInitDisk"sv, "Action\0DiskId\0"sv, "DiskId:\0"sv),
    Ecs(2, 8, "ResetDisk"sv, "Action\0DiskId\0SnapshotId\0"sv, "DiskId:\0SnapshotId:\0"sv),
    Ecs(2, 9, "ReplaceSystemDisk"sv, "Action\0InstanceId\0ImageId\0"sv,
        "InstanceId:\0ImageId:\0"sv),
    Ecs(2, 10, "ResizeDisk"sv, "Action\0DiskId\0NewSize\0"sv, "DiskId:\0NewSize:\0"sv),
    // ECS group 3: snapshots
    Ecs(3, 1, "CreateSnapshot"sv, "Action\0DiskId\0"sv, "磁盘 ID:\0"sv),
    Ecs(3, 2, "DeleteSnapshot"sv, "Action\0SnapshotId\0"sv, "快照 ID:\0"sv),
    Ecs(3, 3, "DescribeSnapshots"sv, "Action\0RegionId\0"sv, "Region ID:\0"sv)
        .Pages("Snapshots"sv, 100),
    Ecs(3, 4, "CreateAutoSnapshotPolicy"sv,
        "Action\0RegionId\0AutoSnapshotPolicyName\0TimePoints\0RepeatWeekdays\0"
        "RetentionDays\0"sv,
        "RegionId:\0策略名称:\0创建时间点:\0重复日期:\0保留时间:\0"sv),
    Ecs(3, 5, "DeleteAutoSnapshotPolicy"sv, "Action\0RegionId\0AutoSnapshotPolicyId\0"sv,
        "RegionId:\0策略Id:\0"sv),
    Ecs(3, 6, "ModifyAutoSnapshotPolicyEx"sv, "Action\0RegionId\0AutoSnapshotPolicyId\0"sv,
        "RegionId:\0策略Id:\0"sv),
    Ecs(3, 7, "DescribeAutoSnapshotPolicyEx"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv)
        .Pages("AutoSnapshotPolicies"sv, 100),
    Ecs(3, 8, "ApplyAutoSnapshotPolicy"sv, "Action\0RegionId\0AutoSnapshotPolicyId\0DiskIds\0"sv,
        "RegionId:\0策略Id:\0磁盘集合:\0"sv),
    Ecs(3, 9, "CancelAutoSnapshotPolicy"sv, "Action\0RegionId\0DiskIds\0"sv,
        "RegionId:\0磁盘集合:\0"sv),
    // ECS group 4: images
    Ecs(4, 1, "DescribeImages"sv, "Action\0RegionId\0ImageName\0PageNumber\0"sv,
        "RegionId:\0镜像名称:\0页码:\0"sv)
        .Pages("Images"sv, 100),
    Ecs(4, 2, "CreateImage"sv, "Action\0RegionId\0InstanceId\0"sv, "RegionId:\0实例Id:\0"sv),
    Ecs(4, 3, "ModifyImageAttribute"sv, "Action\0RegionId\0ImageId\0ImageName\0"sv,
        "RegionId:\0镜像ID:\0镜像名称:\0"sv),
    Ecs(4, 4, "DeleteImage"sv, "Action\0RegionId\0ImageId\0"sv, "RegionId:\0镜像ID:\0"sv),
    Ecs(4, 5, "CopyImage"sv, "Action\0RegionId\0ImageId\0DestinationRegionId\0"sv,
        "RegionId:\0源镜像ID:\0目标regionId:\0"sv),
    Ecs(4, 6, "CancelCopyImage"sv, "Action\0RegionId\0ImageId\0"sv, "RegionId:\0镜像ID:\0"sv),
    Ecs(4, 7, "ModifyImageSharePermission"sv, "Action\0RegionId\0ImageId\0AddAccount.1\0"sv,
        "RegionId:\0镜像ID:\0阿里云账号Id:\0"sv),
    Ecs(4, 8, "DescribeImageSharePermission"sv, "Action\0RegionId\0ImageId\0"sv,
        "RegionId:\0镜像ID:\0"sv),
    Ecs(4, 9, "ImportImage"sv,
        "Action\0RegionId\0DiskDeviceMapping.1.OSSBucket\0DiskDeviceMapping.1.OSSObject\0"sv,
        "RegionId:\0OSS.Bucket:\0OSS.Object.key:\0"sv),
    // ECS group 5: public addresses and elastic IPs
    Ecs(5, 1, "AllocatePublicIpAddress"sv, "Action\0InstanceId\0"sv, "实例Id:\0"sv),
    Ecs(5, 2, "ModifyInstanceNetworkSpec"sv,
        "Action\0InstanceId\0InternetMaxBandwidthOut\0InternetMaxBandwidthIn\0"sv,
        "实例Id:\0出网带宽最大值:\0入网带宽最大值:\0"sv),
    Ecs(5, 3, "AllocateEipAddress"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv),
    Ecs(5, 4, "AssociateEipAddress"sv, "Action\0AllocationId\0InstanceId\0"sv,
        "EIPid:\0实例Id:\0"sv),
    Ecs(5, 5, "DescribeEipAddresses"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv)
        .Pages("EipAddresses"sv, 100),
    Ecs(5, 6, "ModifyEipAddressAttribute"sv, "Action\0AllocationId\0Bandwidth\0"sv,
        "EIPid:\0EIP带宽:\0"sv),
    Ecs(5, 7, "UnassociateEipAddress"sv, "Action\0AllocationId\0InstanceId\0"sv,
        "EIPid:\0实例Id:\0"sv),
    Ecs(5, 8, "ReleaseEipAddress"sv, "Action\0AllocationId\0InstanceId\0"sv, "EIPid:\0实例Id:\0"sv),
    // ECS group 6: security groups
    Ecs(6, 1, "CreateSecurityGroup"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv),
    Ecs(6, 2, "AuthorizeSecurityGroup"sv,
        "Action\0SecurityGroupId\0RegionId\0IpProtocol\0PortRange\0SourceGroupId\0"sv,
        "安全组编码:\0RegionId:\0IP协议:\0IP端口号:\0SourceGroupId:\0"sv),
    Ecs(6, 3, "DescribeSecurityGroupAttribute"sv, "Action\0SecurityGroupId\0RegionId\0"sv,
        "SecurityGroupId:\0RegionId\0"sv),
    Ecs(6, 4, "DescribeSecurityGroups"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv)
        .Pages("SecurityGroups"sv, 50),
    Ecs(6, 5, "RevokeSecurityGroup"sv,
        "Action\0SecurityGroupId\0RegionId\0IpProtocol\0PortRange\0SourceGroupId\0"sv,
        "SecurityGroupId:\0RegionId:\0IpProtocol:\0PortRange:\0SourceGroupId:\0"sv),
    Ecs(6, 6, "DeleteSecurityGroup"sv, "Action\0SecurityGroupId\0RegionId\0"sv,
        "SecurityGroupId:\0RegionId:\0"sv),
    Ecs(6, 7, "ModifySecurityGroupAttribute"sv,
        "Action\0RegionId\0SecurityGroupId\0SecurityGroupName\0"sv,
        "RegionId:\0SecurityGroupId:\0SecurityGroupName\0"sv),
    Ecs(6, 8, "AuthorizeSecurityGroupEgress"sv,
        "Action\0SecurityGroupId\0RegionId\0IpProtocol\0PortRange\0DestGroupId\0"sv,
        "SecurityGroupId:\0RegionId:\0IpProtocol:\0PortRange:\0DestGroupId:\0"sv),
    Ecs(6, 9, "RevokeSecurityGroupEgress"sv,
        "Action\0SecurityGroupId\0RegionId\0IpProtocol\0PortRange\0DestGroupId\0"sv,
        "SecurityGroupId:\0RegionId:\0IpProtocol:\0PortRange:\0DestGroupId:\0"sv),
    // ECS group 7: VPCs
    Ecs(7, 1, "CreateVpc"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv),
    Ecs(7, 2, "DeleteVpc"sv, "Action\0VpcId\0"sv, "VpcId:\0"sv),
    Ecs(7, 3, "DescribeVpcs"sv, "Action\0RegionId\0"sv, "RegionId\0"sv).Pages("Vpcs"sv, 50),
    Ecs(7, 4, "ModifyVpcAttribute"sv, "Action\0VpcId\0VpcName\0"sv, "VpcId:\0VpcName\0"sv),
    // ECS group 8: virtual routers
    Ecs(8, 1, "DescribeVRouters"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv),
    Ecs(8, 2, "ModifyVRouterAttribute"sv, "Action\0VRouterId\0VRouterName\0"sv,
        "VRouterId:\0VRouterName:\0"sv),
    // ECS group 9: virtual switches
    Ecs(9, 1, "CreateVSwitch"sv, "Action\0ZoneId\0CidrBlock\0VpcId\0"sv,
        "ZoneId:\0CidrBlock:\0VpcId:\0"sv),
    Ecs(9, 2, "DeleteVSwitch"sv, "Action\0VSwitchId\0"sv, "VSwitchId:\0"sv),
    Ecs(9, 3, "DescribeVSwitches"sv, "Action\0VpcId\0"sv, "VpcId:\0"sv).Pages("VSwitches"sv, 50),
    Ecs(9, 4, "ModifyVSwitchAttribute"sv, "Action\0VSwitchId\0VSwitchName\0"sv,
        "VSwitchId:\0VSwitchName:\0"sv),
    // ECS group 10: route tables
    Ecs(10, 1, "CreateRouteEntry"sv, "Action\0RouteTableId\0DestinationCidrBlock\0"sv,
        "RouteTableId:\0CidrBlock:\0"sv),
    Ecs(10, 2, "DeleteRouteEntry"sv, "Action\0RouteTableId\0DestinationCidrBlock\0"sv,
        "RouteTableId:\0CidrBlock:\0"sv),
    Ecs(10, 3, "DescribeRouteTables"sv, "Action\0RouteTableId\0DestinationCidrBlock\0"sv,
        "RouteTableId:\0CidrBlock:\0"sv),
    // ECS group 11: regions
    Ecs(11, 1, "DescribeRegions"sv, "Action\0"sv, ""sv).Shows(ReplyShape::kRegions),
    Ecs(11, 2, "DescribeZones"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv)
        .Shows(ReplyShape::kZones),
    // ECS group 12: monitoring data
    Ecs(12, 1, "DescribeInstanceMonitorData"sv, "Action\0InstanceId\0StartTime\0EndTime\0"sv,
        "实例ID:\0起始时间:\0结束时间:\0"sv),
    Ecs(12, 2, "DescribeEipMonitorData"sv, "Action\0AllocationId\0StartTime\0EndTime\0"sv,
        "EipID:\0起始时间:\0结束时间:\0"sv),
    Ecs(12, 3, "DescribeDiskMonitorData"sv, "Action\0DiskId\0StartTime\0EndTime\0"sv,
        "DiskID:\0起始时间:\0结束时间:\0"sv),
    // ECS group 13: NAT gateways, bandwidth packages, forward entries
    Ecs(13, 1, "CreateNatGateway"sv, "Action\0RegionId\0VpcId\0BandwidthPackage.1.Bandwidth\0"sv,
        "RegionId:\0VpcId:\0带宽值:\0"sv),
    Ecs(13, 2, "DescribeNatGateways"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv),
    Ecs(13, 3, "DeleteNatGateway"sv, "Action\0RegionId\0NatGatewayId\0"sv,
        "RegionId:\0NatGatewayId:\0"sv),
    Ecs(13, 4, "DescribeBandwidthPackages"sv, "Action\0RegionId\0"sv, "RegionId:\0"sv),
    Ecs(13, 5, "ModifyBandwidthPackageSpec"sv,
        "Action\0RegionId\0BandwidthPackageId\0Bandwidth\0"sv,
        "RegionId:\0BandwidthPackageId:\0Bandwidth:\0"sv),
    Ecs(13, 6, "AddBandwidthPackageIps"sv, "Action\0RegionId\0BandwidthPackageId\0IpCount\0"sv,
        "RegionId:\0BandwidthPackageId:\0IpCount:\0"sv),
    Ecs(13, 7, "RemoveBandwidthPackageIps"sv,
        "Action\0RegionId\0BandwidthPackageId\0RemovedIpAddresses.1\0"sv,
        "RegionId:\0BandwidthPackageId:\0RemovedIpAddresses:\0"sv),
    Ecs(13, 8, "DeleteBandwidthPackage"sv, "Action\0RegionId\0BandwidthPackageId\0"sv,
        "RegionId:\0BandwidthPackageId:\0"sv),
    Ecs(13, 9, "CreateForwardEntry"sv,
        "Action\0RegionId\0ForwardTableId\0ExternalIp\0ExternalPort\0IpProtocol\0InternalIp\0"
        "InternalPort\0"sv,
        "RegionId:\0ForwardTableId:\0ExternalIp:\0ExternalPort:\0IpProtocol:\0InternalIp:\0InternalPort:\0"sv),
    Ecs(13, 10, "DescribeForwardTableEntries"sv, "Action\0RegionId\0ForwardTableId\0"sv,
        "RegionId:\0ForwardTableId:\0"sv),
    Ecs(13, 11, "ModifyForwardEntry"sv,
        "Action\0RegionId\0ForwardTableId\0ForwardEntryId\0InternalIp\0"sv,
        "RegionId:\0ForwardTableId:\0ForwardEntryId:\0InternalIp:\0"sv),
    Ecs(13, 12, "DeleteForwardEntry"sv, "Action\0RegionId\0ForwardTableId\0ForwardEntryId\0"sv,
        "RegionId:\0ForwardTableId:\0ForwardEntryId:\0"sv),
    // ECS group 14: instance types and tasks
    Ecs(14, 1, "DescribeInstanceTypes"sv, "Action\0"sv, ""sv).Shows(ReplyShape::kInstanceTypes),
    Ecs(14, 2, "DescribeInstanceTypeFamilies"sv, "Action\0RegionId\0"sv, "地域:\0"sv)
        .Shows(ReplyShape::kInstanceTypeFamilies),
    Ecs(14, 3, "DescribeTasks"sv, "Action\0RegionId\0"sv, "地域:\0"sv)
        .Shows(ReplyShape::kTasks)
        .Pages("TaskSet"sv, 100),
    Ecs(14, 4, "DescribeTaskAttribute"sv, "Action\0RegionId\0TaskId\0"sv, "地域:\0任务Id:\0"sv)
        .Shows(ReplyShape::kTaskAttribute),
    Ecs(14, 5, "CancelTask"sv, "Action\0RegionId\0TaskId\0"sv, "地域:\0任务Id:\0"sv)
        .Shows(ReplyShape::kInstanceTypes),

    // IoT (one group; template k belongs to display entry k)
    Iot(1, "CreateProduct"sv, "Action\0Name\0CatId\0Desc\0"sv),
    Iot(2, "UpdateProduct"sv, "Action\0ProductKey\0ProductName\0CatId\0"sv),
    Iot(3, "GetCats"sv, "Action\0RootId\0Description\0"sv),
    Iot(4, "QueryDevice"sv, "Action\0ProductKey\0PageSize\0CurrentPage\0"sv),
    Iot(5, "RegistDevice"sv, "Action\0ProductKey\0DeviceName\0CurrentPage\0"sv),
    Iot(6, "ApplyDeviceWithNames"sv,
        "Action\0ProductKey\0DeviceName.1\0DeviceName.2\0DeviceName.3\0"sv),
    Iot(7, "QueryApplyStatus"sv, "Action\0ApplyId\0"sv),
    // "CurrenPage" is the parameter name these three actions are sent with.
    Iot(8, "QueryPageByApplyId"sv, "Action\0ApplyId\0PageSize\0CurrenPage\0"sv),
    Iot(9, "QueryDeviceByName"sv, "Action\0ProductKey\0DeviceName\0CurrenPage\0"sv),
    Iot(10, "ListDevicePermits"sv, "Action\0ProductKey\0DeviceName\0CurrenPage\0"sv),
    Iot(11, "BatchGetDeviceState"sv,
        "Action\0ProductKey\0DeviceName.1\0DeviceName.2\0DeviceName.3\0"sv),
    Iot(12, "Pub"sv, "Action\0ProductKey\0MessageContent\0TopicFullName\0"sv),
    Iot(13, "RevertRpc"sv, "Action\0ProductKey\0DeviceName\0RpcContent\0TimeOut\0"sv),

    // API Gateway group 1: API分组
    Gateway(1, 1, kWithBothPlaceholders<"CreateApiGroup">.view(),
            "Action\0GroupName\0Description\0"sv),
    Gateway(1, 2, kWithBothPlaceholders<"ModifyApiGroup">.view(),
            "Action\0GroupId\0GroupName\0Description\0"sv),
    Gateway(1, 3, kWithNamePlaceholder<"DeleteApiGroup">.view(), "Action\0GroupId\0"sv),
    Gateway(1, 4, kWithNamePlaceholder<"CreateApiStageVariable">.view(),
            "Action\0GroupId\0StageId\0VariableName\0"sv),
    Gateway(1, 5, kWithNamePlaceholder<"DeleteApiStageVariable">.view(),
            "Action\0GroupId\0StageId\0VariableName\0"sv),
    Gateway(1, 6, kWithNamePlaceholder<"DescribeApiStage">.view(), "Action\0GroupId\0StageId\0"sv),
    Gateway(1, 7, "DescribeApiGroup\0GroupId\0"sv, "Action\0GroupId\0"sv),
    Gateway(1, 8, "DescribeApiGroups\0"sv, "Action\0"sv).Pages("ApiGroupAttributes"sv, 100),
    // API Gateway group 2: API域名
    Gateway(2, 1, kWithBothPlaceholders<"SetDomain">.view(), "Action\0GroupId\0DomainName\0"sv),
    Gateway(2, 2, kWithBothPlaceholders<"SetDomainCertificate">.view(),
            "Action\0GroupId\0DomainName\0CertificateName\0CertificateBody\0"
            "CertificatePrivateKey\0"sv),
    Gateway(2, 3, kWithBothPlaceholders<"DescribeDomain">.view(),
            "Action\0GroupId\0DomainName\0"sv),
    Gateway(2, 4, kWithBothPlaceholders<"DeleteDomain">.view(), "Action\0GroupId\0DomainName\0"sv),
    Gateway(2, 5, kWithBothPlaceholders<"DeleteDomainCertificate">.view(),
            "Action\0GroupId\0DomainName\0CertificateId\0"sv),
    // API Gateway group 3: API管理
    Gateway(3, 1, kWithApiSamples<"CreateApi">.view(),
            "Action\0GroupId\0ApiName\0Visibility\0Description\0AuthType\0OpenIdConnectConfig\0"
            "RequestConfig\0ServiceConfig\0RequestParameters\0ServiceParameters\0"
            "ServiceParametersMap\0ResultType\0ResultSample\0"sv),
    Gateway(3, 2, kWithApiSamples<"ModifyApi">.view(),
            "Action\0GroupId\0ApiId\0ApiName\0Visibility\0RequestConfig\0ServiceConfig\0"
            "ResultType\0ResultSample\0RequestParameters\0ServiceParameters\0"
            "ServiceParametersMap\0ResultType\0ResultSample\0"sv),
    Gateway(3, 3, kWithCommonSamples<"SwitchApi">.view(),
            "Action\0GroupId\0ApiId\0StageName\0HistoryVersion\0Description\0"sv),
    Gateway(3, 4, kWithCommonSamples<"AbolishApi">.view(), "Action\0GroupId\0ApiId\0StageName\0"sv),
    Gateway(3, 5, kWithCommonSamples<"DeleteApi">.view(), "Action\0GroupId\0ApiId\0"sv),
    Gateway(3, 6, kWithCommonSamples<"DeployApi">.view(),
            "Action\0GroupId\0ApiId\0StageName\0Description\0"sv),
    Gateway(3, 7, kWithCommonSamples<"DescribeApi">.view(), "Action\0GroupId\0ApiId\0"sv),
    Gateway(3, 8, kWithCommonSamples<"DescribeApiDoc">.view(),
            "Action\0GroupId\0ApiId\0StageName\0"sv),
    Gateway(3, 9, kWithCommonSamples<"DescribeApis">.view(), "Action\0GroupId\0ApiId\0"sv)
        .Pages("ApiSummarys"sv, 100),
    Gateway(3, 10, kWithCommonSamples<"DescribeApiHistory">.view(),
            "Action\0GroupId\0ApiId\0StageName\0HistoryVersion\0ApiName\0"sv),
    Gateway(3, 11, kWithCommonSamples<"DescribeApiHistories">.view(),
            "Action\0GroupId\0ApiId\0StageName\0HistoryVersion\0ApiName\0"sv),
    Gateway(3, 12, kWithCommonSamples<"DescribeDeployedApi">.view(),
            "Action\0GroupId\0ApiId\0StageName\0"sv),
    Gateway(3, 13, kWithCommonSamples<"DescribeDeployedApis">.view(),
            "Action\0StageName\0ApiId\0StageName\0"sv)
        .Pages("DeployedApis"sv, 100),
    Gateway(3, 14, kWithCommonSamples<"DescribeApiErrorData">.view(),
            "Action\0ApiId\0StartTime\0EndTime\0"sv),
    Gateway(3, 15, kWithCommonSamples<"DescribeApiLatencyData">.view(),
            "Action\0ApiId\0StartTime\0EndTime\0"sv),
    Gateway(3, 16, kWithCommonSamples<"DescribeApiQpsData">.view(),
            "Action\0ApiId\0StartTime\0EndTime\0"sv),
    Gateway(3, 17, kWithCommonSamples<"DescribeApiTrafficData">.view(),
            "Action\0ApiId\0StartTime\0EndTime\0"sv),
    // API Gateway group 4: API流量控制
    Gateway(4, 1, kWithCommonSamples<"CreateTrafficControl">.view(),
            "Action\0TrafficControlName\0TrafficControlUnit\0ApiDefault\0"sv),
    Gateway(4, 2, kWithCommonSamples<"ModifyTrafficControl">.view(),
            "Action\0TrafficControlId\0TrafficControlUnit\0ApiDefault\0"sv),
    Gateway(4, 3, kWithCommonSamples<"DeleteTrafficControl">.view(),
            "Action\0TrafficControlId\0TrafficControlUnit\0ApiDefault\0"sv),
    Gateway(4, 4, kWithCommonSamples<"AddTrafficSpecialControl">.view(),
            "Action\0TrafficControlId\0SpecialType\0SpecialKey\0TrafficValue\0"sv),
    Gateway(4, 5, kWithCommonSamples<"DeleteAllTrafficSpecialControl">.view(),
            "Action\0TrafficControlId\0SpecialType\0SpecialKey\0TrafficValue\0"sv),
    Gateway(4, 6, kWithCommonSamples<"DeleteTrafficSpecialControl">.view(),
            "Action\0TrafficControlId\0SpecialType\0SpecialKey\0TrafficValue\0"sv),
    Gateway(4, 7, kWithCommonSamples<"SetTrafficControlApis">.view(),
            "Action\0TrafficControlId\0GroupId\0ApiIds\0StageName\0"sv),
    Gateway(4, 8, kWithCommonSamples<"RemoveTrafficControlApis">.view(),
            "Action\0TrafficControlId\0GroupId\0ApiIds\0StageName\0"sv),
    Gateway(4, 9, kWithCommonSamples<"DescribeApisByTrafficControl">.view(),
            "Action\0TrafficControlId\0GroupId\0ApiIds\0StageName\0"sv),
    Gateway(4, 10, kWithCommonSamples<"DescribeApiTrafficControls">.view(),
            "Action\0StageName\0GroupId\0ApiIds\0StageName\0"sv),
    Gateway(4, 11, kWithCommonSamples<"DescribeTrafficControls">.view(),
            "Action\0StageName\0GroupId\0ApiIds\0StageName\0"sv),
    Gateway(4, 12, kWithCommonSamples<"DescribeTrafficControlsByApi">.view(),
            "Action\0GroupId\0ApiId\0StageName\0StageName\0"sv),
    // API Gateway group 5: API后端签名密钥
    Gateway(5, 1, kWithCommonSamples<"CreateSignature">.view(),
            "Action\0SignatureName\0SignatureKey\0SignatureSecret\0StageName\0"sv),
    Gateway(5, 2, kWithCommonSamples<"ModifySignature">.view(),
            "Action\0SignatureId\0SignatureName\0SignatureKey\0SignatureSecret\0StageName\0"sv),
    Gateway(5, 3, kWithCommonSamples<"DeleteSignature">.view(),
            "Action\0SignatureId\0SignatureName\0SignatureKey\0SignatureSecret\0StageName\0"sv),
    Gateway(5, 4, kWithCommonSamples<"SetSignatureApis">.view(),
            "Action\0SignatureId\0GroupId\0ApiIds\0StageName\0StageName\0"sv),
    Gateway(5, 5, kWithCommonSamples<"DescribeSignatures">.view(),
            "Action\0SignatureName\0SignatureKey\0SignatureSecret\0StageName\0"sv),
    Gateway(5, 6, kWithCommonSamples<"RemoveSignatureApis">.view(),
            "Action\0SignatureId\0GroupId\0StageName\0StageName\0"sv),
    Gateway(5, 7, kWithCommonSamples<"DescribeApisBySignature">.view(),
            "Action\0SignatureId\0GroupId\0StageName\0StageName\0"sv),
    Gateway(5, 8, kWithCommonSamples<"DescribeApiSignatures">.view(),
            "Action\0StageName\0GroupId\0StageName\0StageName\0"sv),
    Gateway(5, 9, kWithCommonSamples<"DescribeSignaturesByApi">.view(),
            "Action\0GroupId\0ApiId\0StageName\0StageName\0"sv),
    // API Gateway group 6: API应用管理
    Gateway(6, 1, kWithCommonSamples<"CreateApp">.view(),
            "Action\0AppName\0Description\0StageName\0StageName\0"sv),
    Gateway(6, 2, kWithCommonSamples<"ModifyApp">.view(),
            "Action\0AppId\0Description\0StageName\0StageName\0"sv),
    Gateway(6, 3, kWithCommonSamples<"ResetAppSecret">.view(),
            "Action\0AppKey\0Description\0StageName\0StageName\0"sv),
    Gateway(6, 4, kWithCommonSamples<"DescribeAppAttributes">.view(),
            "Action\0AppKey\0Description\0StageName\0StageName\0"sv),
    Gateway(6, 5, kWithCommonSamples<"DeleteApp">.view(),
            "Action\0AppId\0Description\0StageName\0StageName\0"sv),
    Gateway(6, 6, kWithCommonSamples<"DescribeAppSecurity">.view(),
            "Action\0AppId\0Description\0StageName\0StageName\0"sv),
    // API Gateway group 7: API授权
    Gateway(7, 1, kWithCommonSamples<"DescribeApps">.view(),
            "Action\0AppId\0Description\0StageName\0StageName\0"sv)
        .Pages("Apps"sv, 100),
    Gateway(7, 2, kWithCommonSamples<"DescribeAuthorizedApis">.view(),
            "Action\0AppId\0Description\0StageName\0StageName\0"sv),
    Gateway(7, 3, kWithCommonSamples<"DescribeAuthorizedApps">.view(),
            "Action\0GroupId\0ApiId\0StageName\0StageName\0"sv),
    Gateway(7, 4, kWithCommonSamples<"SetApisAuthorities">.view(),
            "Action\0GroupId\0StageName\0AppId\0ApiIds\0"sv),
    Gateway(7, 5, kWithCommonSamples<"SetAppsAuthorities">.view(),
            "Action\0GroupId\0StageName\0ApiId\0AppIds\0"sv),
    Gateway(7, 6, kWithCommonSamples<"RemoveApisAuthorities">.view(),
            "Action\0GroupId\0StageName\0ApiIds\0AppId\0"sv),
    Gateway(7, 7, kWithCommonSamples<"RemoveAppsAuthorities">.view(),
            "Action\0GroupId\0StageName\0ApiId\0AppIds\0"sv),
    // API Gateway group 8: API其他
    Gateway(8, 1, "DescribeRegions\0"sv, "Action\0"sv),
    Gateway(8, 2, "DescribeSystemParameters\0"sv, "Action\0"sv),

    // The service refuses a PageSize above these (InvalidParameter naming
    // PageSize); most ECS lists take 100, a few older ones 50.
    Listed(kEcsService, "DescribeKeyPairs"sv).Pages("KeyPairs"sv, 50),
    Listed(kEcsService, "DescribeDedicatedHosts"sv).Pages("DedicatedHosts"sv, 100),
    Listed(kEcsService, "DescribeLaunchTemplates"sv).Pages("LaunchTemplateSets"sv, 50),
    Listed(kEcsService, "DescribeCommands"sv).Pages("Commands"sv, 50),
    Listed(kEcsService, "DescribeInvocations"sv).Pages("Invocations"sv, 50),
    Listed(kEcsService, "DescribeNetworkInterfaces"sv).Pages("NetworkInterfaceSets"sv, 100),
};

constexpr std::size_t kTemplateCount = 176;

// The templates, as the table holds them.
constexpr std::array<RequestTemplate, kTemplateCount> ExtractTemplates() {
  std::array<RequestTemplate, kTemplateCount> templates{};
  for (std::size_t i = 0; i < kTemplateCount; ++i) templates[i] = kActionSpecs[i].request;
  return templates;
}
constexpr std::array<RequestTemplate, kTemplateCount> kTemplates = ExtractTemplates();

// Templates first, then the listed actions; an ECS action's captions name
// its parameters one by one, so no field is captioned for another.
constexpr bool ActionSpecsAreWellFormed() {
  for (std::size_t i = 0; i < kActionSpecs.size(); ++i) {
    const ActionSpec& spec = kActionSpecs[i];
    if (spec.has_template() != (i < kTemplateCount)) return false;
    if (spec.request.service == kEcsService && spec.has_template() &&
        spec.captions.Count() != spec.request.parameter_count()) {
      return false;
    }
  }
  return true;
}
static_assert(ActionSpecsAreWellFormed(), "templates first; one ECS caption per parameter");

struct GroupRange {
  unsigned service;
  unsigned group;
  std::size_t first;
  std::size_t count;
};

// Where each group starts in kTemplates (computed once from the table itself,
// so the ranges cannot drift from the data).
constexpr std::size_t kGroupCount = 14 + 1 + 8;

constexpr std::array<GroupRange, kGroupCount> ComputeGroupRanges() {
  std::array<GroupRange, kGroupCount> ranges{};
  std::size_t next = 0;
  for (std::size_t i = 0; i < kTemplates.size(); ++i) {
    const RequestTemplate& entry = kTemplates[i];
    if (i == 0 || entry.service != kTemplates[i - 1].service ||
        entry.group != kTemplates[i - 1].group) {
      ranges[next++] = GroupRange{entry.service, entry.group, i, 0};
    }
    ++ranges[next - 1].count;
  }
  return ranges;
}

constexpr std::array<GroupRange, kGroupCount> kGroupRanges = ComputeGroupRanges();

// The table's own shape is checked where it is written.
constexpr bool TemplatesAreOrdered() {
  for (const GroupRange& range : kGroupRanges) {
    for (std::size_t k = 0; k < range.count; ++k) {
      const RequestTemplate& entry = kTemplates[range.first + k];
      if (entry.position != k + 1) return false;
      if (entry.names.Entry(1) != "Action") return false;
      if (entry.action().empty()) return false;
    }
  }
  return kGroupRanges.back().count != 0;
}
static_assert(TemplatesAreOrdered(), "template groups must be numbered 1, 2, ... in order");

// The ECS browsing categories are captioned by the template groups: 1 to 13
// by their own group, and the instance-type and task categories (14 to 23,
// 25 and 26) all by group 14. Category 24, the region actions, has captions
// of its own: its actions are sent through group 11 or without a template.
constexpr unsigned kEcsRegionCategory = 24;
constexpr std::array<core::StringListView, 4> kRegionCategoryCaptions = {
    core::StringListView{},             // DescribeRegions
    core::StringListView{"地域:\0"sv},  // DescribeZones
    core::StringListView{"地域:\0"sv},  // DescribeAvailableResource
    core::StringListView{"地域:\0"sv},  // DescribeResourcesModification
};

constexpr std::optional<unsigned> EcsGroupOfCaptionCategory(unsigned category_number) {
  if (category_number >= 1 && category_number <= 13) return category_number;
  if (category_number >= 14 && category_number <= 26) return 14;
  return std::nullopt;
}

}  // namespace

std::span<const RequestTemplate> Templates() { return kTemplates; }

std::span<const RequestTemplate> TemplateGroup(unsigned service_number, unsigned group) {
  for (const GroupRange& range : kGroupRanges) {
    if (range.service == service_number && range.group == group) {
      return std::span<const RequestTemplate>(kTemplates).subspan(range.first, range.count);
    }
  }
  return {};
}

const RequestTemplate* FindTemplate(unsigned service_number, unsigned group, unsigned position) {
  std::span<const RequestTemplate> templates = TemplateGroup(service_number, group);
  if (position == 0 || position > templates.size()) return nullptr;
  return &templates[position - 1];
}

unsigned GroupCount(unsigned service_number) {
  unsigned count = 0;
  for (const GroupRange& range : kGroupRanges) {
    if (range.service == service_number) ++count;
  }
  return count;
}

std::span<const ActionSpec> ActionSpecs() { return kActionSpecs; }

const ActionSpec* FindActionSpec(unsigned service_number, std::string_view action) {
  for (const ActionSpec& spec : kActionSpecs) {
    if (spec.request.service == service_number && spec.action() == action) return &spec;
  }
  return nullptr;
}

const ActionSpec* ActionSpecOf(const ResolvedAction& action) {
  if (action.request_template == nullptr) return FindActionSpec(action.service, action.action_name);
  for (std::size_t i = 0; i < kTemplates.size(); ++i) {
    if (&kTemplates[i] == action.request_template) return &kActionSpecs[i];
  }
  return nullptr;
}

std::optional<PagingInfo> PagingOf(unsigned service_number, std::string_view action) {
  const ActionSpec* spec = FindActionSpec(service_number, action);
  return spec != nullptr ? spec->paging : std::nullopt;
}

core::StringListView ParameterLabels(unsigned category_number, unsigned action_number) {
  if (category_number == kEcsRegionCategory) {
    if (action_number == 0 || action_number > kRegionCategoryCaptions.size()) return {};
    return kRegionCategoryCaptions[action_number - 1];
  }
  const std::optional<unsigned> group = EcsGroupOfCaptionCategory(category_number);
  if (!group) return {};
  const RequestTemplate* found = FindTemplate(kEcsService, *group, action_number);
  return found != nullptr
             ? kActionSpecs[static_cast<std::size_t>(found - kTemplates.data())].captions
             : core::StringListView();
}

std::size_t ParameterLabelCount(unsigned category_number) {
  if (category_number == kEcsRegionCategory) return kRegionCategoryCaptions.size();
  const std::optional<unsigned> group = EcsGroupOfCaptionCategory(category_number);
  return group ? TemplateGroup(kEcsService, *group).size() : 0;
}

}  // namespace kestrune::catalogue
