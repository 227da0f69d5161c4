// The captions of the ECS parameter form, by CategoryNumber and ActionNumber.
#include <array>
#include <span>
#include <string_view>

#include "catalogue/catalogue.h"

namespace kestrune::catalogue {
namespace {

using namespace std::string_view_literals;
using Labels = core::StringListView;

constexpr Labels kNone{};

constexpr std::array<Labels, 17> kCategory1 = {
    Labels{"Region ID:\0镜像文件ID:\0InstanceType:\0"sv},  // RunInstances
    Labels{"Region ID:\0镜像文件ID:\0InstanceType:\0"sv},  // CreateInstance
    Labels{"InstanceId:\0"sv},                             // StartInstance
    Labels{"InstanceId:\0"sv},                             // StopInstance
    Labels{"InstanceId:\0"sv},                             // RebootInstance
    Labels{"InstanceId:\0"sv},                             // ModifyInstanceAttribute
    Labels{"InstanceId:\0VSwitchId:\0"sv},                 // ModifyInstanceVpcAttribute
    Labels{"RegionId:\0"sv},                               // DescribeInstanceStatus
    Labels{"RegionId:\0"sv},                               // DescribeInstances
    Labels{"InstanceId:\0"sv},                             // DeleteInstance
    Labels{"InstanceId:\0SecurityGroupId:\0"sv},           // JoinSecurityGroup
    Labels{"InstanceId:\0SecurityGroupId:\0"sv},           // LeaveSecurityGroup
    Labels{"RegionId:\0InstanceId:\0"sv},                  // DescribeInstanceVncUrl
    Labels{"RegionId:\0InstanceId:\0VncPassword:\0"sv},    // ModifyInstanceVncPasswd
    Labels{"RegionId:\0InstanceId:\0"sv},                  // DescribeUserdata
    Labels{"InstanceId:\0"sv},                             // ModifyInstanceAutoReleaseTime
    Labels{"InstanceId:\0Period:\0"sv},                    // RenewInstance
};

// ResizeDisk, the tenth disk template, has no captions.
constexpr std::array<Labels, 9> kCategory2 = {
    Labels{"Region ID:\0ZoneId:\0容量:\0"sv},  // CreateDisk
    Labels{"Region ID:\0"sv},                  // DescribeDisks
    Labels{"InstanceId:\0DiskId:\0"sv},        // AttachDisk
    Labels{"InstanceId:\0DiskId:\0"sv},        // DetachDisk
    Labels{"DiskId:\0DiskName:\0"sv},          // ModifyDiskAttribute
    Labels{"DiskId:\0"sv},                     // DeleteDisk
    Labels{"DiskId:\0"sv},                     // ReInitDisk
    Labels{"DiskId:\0SnapshotId:\0"sv},        // ResetDisk
    Labels{"InstanceId:\0ImageId:\0"sv},       // ReplaceSystemDisk
};

constexpr std::array<Labels, 9> kCategory3 = {
    Labels{"磁盘 ID:\0"sv},    // CreateSnapshot
    Labels{"快照 ID:\0"sv},    // DeleteSnapshot
    Labels{"Region ID:\0"sv},  // DescribeSnapshots
    Labels{
        "RegionId:\0策略名称:\0创建时间点:\0重复日期:\0保留时间:\0"sv},  // CreateAutoSnapshotPolicy
    Labels{"RegionId:\0策略Id:\0"sv},                                    // DeleteAutoSnapshotPolicy
    Labels{"RegionId:\0策略Id:\0"sv},             // ModifyAutoSnapshotPolicyEx
    Labels{"RegionId:\0"sv},                      // DescribeAutoSnapshotPolicyEx
    Labels{"RegionId:\0策略Id:\0磁盘集合:\0"sv},  // ApplyAutoSnapshotPolicy
    Labels{"RegionId:\0磁盘集合:\0"sv},           // CancelAutoSnapshotPolicy
};

constexpr std::array<Labels, 9> kCategory4 = {
    Labels{"RegionId:\0镜像名称:\0页码:\0"sv},                       // DescribeImages
    Labels{"RegionId:\0实例Id:\0"sv},                                // CreateImage
    Labels{"RegionId:\0镜像ID:\0镜像名称:\0"sv},                     // ModifyImageAttribute
    Labels{"RegionId:\0镜像ID:\0"sv},                                // DeleteImage
    Labels{"RegionId:\0源镜像ID:\0目标regionId:\0"sv},               // CopyImage
    Labels{"RegionId:\0镜像ID:\0"sv},                                // CancelCopyImage
    Labels{"RegionId:\0镜像ID:\0阿里云账号Id:\0"sv},                 // ModifyImageSharePermission
    Labels{"RegionId:\0镜像ID:\0"sv},                                // DescribeImageSharePermission
    Labels{"RegionId:\0镜像ID:\0OSS.Bucket:\0OSS.Object.key:\0"sv},  // ImportImage
};

constexpr std::array<Labels, 8> kCategory5 = {
    Labels{"实例Id:\0"sv},                                    // AllocatePublicIpAddress
    Labels{"实例Id:\0出网带宽最大值:\0入网带宽最大值:\0"sv},  // ModifyInstanceNetworkSpec
    Labels{"RegionId:\0"sv},                                  // AllocateEipAddress
    Labels{"EIPid:\0实例Id:\0"sv},                            // AssociateEipAddress
    Labels{"RegionId:\0"sv},                                  // DescribeEipAddresses
    Labels{"EIPid:\0EIP带宽:\0"sv},                           // ModifyEipAddressAttribute
    Labels{"EIPid:\0实例Id:\0"sv},                            // UnassociateEipAddress
    Labels{"EIPid:\0"sv},                                     // ReleaseEipAddress
};

constexpr std::array<Labels, 9> kCategory6 = {
    Labels{"RegionId:\0"sv},  // CreateSecurityGroup
    Labels{
        "安全组编码:\0RegionId:\0IP协议:\0IP端口号:\0SourceGroupId:\0"sv},  // AuthorizeSecurityGroup
    Labels{"SecurityGroupId:\0RegionId\0"sv},  // DescribeSecurityGroupAttribute
    Labels{"RegionId:\0"sv},                   // DescribeSecurityGroups
    Labels{"SecurityGroupId:\0RegionId:\0IpProtocol:\0PortRange:\0SourceGroupId:\0"sv},
    Labels{"SecurityGroupId:\0RegionId:\0"sv},                     // DeleteSecurityGroup
    Labels{"RegionId:\0SecurityGroupId:\0SecurityGroupName\0"sv},  // ModifySecurityGroupAttribute
    Labels{"SecurityGroupId:\0RegionId:\0IpProtocol:\0PortRange:\0DestGroupId:\0"sv},
    Labels{"SecurityGroupId:\0RegionId:\0IpProtocol:\0PortRange:\0DestGroupId:\0"sv},
};

constexpr std::array<Labels, 4> kCategory7 = {
    Labels{"RegionId:\0"sv},        // CreateVpc
    Labels{"VpcId:\0"sv},           // DeleteVpc
    Labels{"RegionId\0"sv},         // DescribeVpcs
    Labels{"VpcId:\0VpcName\0"sv},  // ModifyVpcAttribute
};

constexpr std::array<Labels, 2> kCategory8 = {
    Labels{"RegionId:\0"sv},                 // DescribeVRouters
    Labels{"VRouterId:\0VRouterName:\0"sv},  // ModifyVRouterAttribute
};

constexpr std::array<Labels, 4> kCategory9 = {
    Labels{"ZoneId:\0CidrBlock:\0VpcId:\0"sv},  // CreateVSwitch
    Labels{"VSwitchId:\0"sv},                   // DeleteVSwitch
    Labels{"VpcId:\0"sv},                       // DescribeVSwitches
    Labels{"VSwitchId:\0VSwitchName:\0"sv},     // ModifyVSwitchAttribute
};

constexpr std::array<Labels, 3> kCategory10 = {
    Labels{"RouteTableId:\0CidrBlock:\0"sv},  // CreateRouteEntry
    Labels{"RouteTableId:\0CidrBlock:\0"sv},  // DeleteRouteEntry
    kNone,                                    // DescribeRouteTables
};

constexpr std::array<Labels, 2> kCategory11 = {
    kNone,                    // DescribeRegions
    Labels{"RegionId:\0"sv},  // DescribeZones
};

constexpr std::array<Labels, 3> kCategory12 = {
    Labels{"实例ID:\0起始时间:\0结束时间:\0"sv},  // DescribeInstanceMonitorData
    Labels{"EipID:\0起始时间:\0结束时间:\0"sv},   // DescribeEipMonitorData
    Labels{"DiskID:\0起始时间:\0结束时间:\0"sv},  // DescribeDiskMonitorData
};

constexpr std::array<Labels, 12> kCategory13 = {
    Labels{"RegionId:\0VpcId:\0带宽值:\0"sv},                  // CreateNatGateway
    Labels{"RegionId:\0"sv},                                   // DescribeNatGateways
    Labels{"RegionId:\0NatGatewayId:\0"sv},                    // DeleteNatGateway
    Labels{"RegionId:\0"sv},                                   // DescribeBandwidthPackages
    Labels{"RegionId:\0BandwidthPackageId:\0Bandwidth:\0"sv},  // ModifyBandwidthPackageSpec
    Labels{"RegionId:\0BandwidthPackageId:\0IpCount:\0"sv},    // AddBandwidthPackageIps
    Labels{"RegionId:\0BandwidthPackageId:\0RemovedIpAddresses:\0"sv},  // RemoveBandwidthPackageIps
    Labels{"RegionId:\0BandwidthPackageId:\0"sv},                       // DeleteBandwidthPackage
    Labels{"RegionId:\0ForwardTableId:\0ExternalIp:\0ExternalPort:\0IpProtocol:\0InternalIp:\0"
           "InternalPort:\0"sv},               // CreateForwardEntry
    Labels{"RegionId:\0ForwardTableId:\0"sv},  // DescribeForwardTableEntries
    Labels{"RegionId:\0ForwardTableId:\0ForwardEntryId:\0InternalIp:\0"sv},  // ModifyForwardEntry
    Labels{"RegionId:\0ForwardTableId:\0ForwardEntryId:\0"sv},               // DeleteForwardEntry
};

// Shared by categories 14 to 23, 25 and 26: the instance-type and task actions.
constexpr std::array<Labels, 5> kTypesAndTasks = {
    kNone,                         // DescribeInstanceTypes
    Labels{"地域:\0"sv},           // DescribeInstanceTypeFamilies
    Labels{"地域:\0"sv},           // DescribeTasks
    Labels{"地域:\0任务Id:\0"sv},  // DescribeTaskAttribute
    Labels{"地域:\0任务Id:\0"sv},  // CancelTask
};

// Category 24, the ECS region actions.
constexpr std::array<Labels, 4> kCategory24 = {
    kNone,                // DescribeRegions
    Labels{"地域:\0"sv},  // DescribeZones
    Labels{"地域:\0"sv},  // DescribeAvailableResource
    Labels{"地域:\0"sv},  // DescribeResourcesModification
};

constexpr std::array<std::span<const Labels>, 26> kLabelTable = {
    kCategory1,     kCategory2,     kCategory3,     kCategory4,     kCategory5,     kCategory6,
    kCategory7,     kCategory8,     kCategory9,     kCategory10,    kCategory11,    kCategory12,
    kCategory13,    kTypesAndTasks, kTypesAndTasks, kTypesAndTasks, kTypesAndTasks, kTypesAndTasks,
    kTypesAndTasks, kTypesAndTasks, kTypesAndTasks, kTypesAndTasks, kTypesAndTasks, kCategory24,
    kTypesAndTasks, kTypesAndTasks,
};

}  // namespace

core::StringListView ParameterLabels(unsigned category_number, unsigned action_number) {
  if (category_number == 0 || category_number > kLabelTable.size()) return {};
  std::span<const Labels> entries = kLabelTable[category_number - 1];
  if (action_number == 0 || action_number > entries.size()) return {};
  return entries[action_number - 1];
}

std::size_t ParameterLabelCount(unsigned category_number) {
  if (category_number == 0 || category_number > kLabelTable.size()) return 0;
  return kLabelTable[category_number - 1].size();
}

}  // namespace kestrune::catalogue
