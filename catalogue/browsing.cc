// The browsing lists the selectors show, in stored order.
#include <algorithm>
#include <array>
#include <string_view>

#include "catalogue/catalogue.h"

namespace kestrune::catalogue {
namespace {

using namespace std::string_view_literals;

constexpr core::StringListView kProductGroups{
    "Elastic Compute\0DataBase\0Storage CDN\0Networking\0Application\0Domain&Website\0"
    "Manage&Monitor\0Analyse\0Cloud&Communication\0MiddleWare\0MobileService\0"
    "VideoService\0"sv};

constexpr core::StringListView kServiceList{"ECS\0"sv};

constexpr core::StringListView kRegions{"cn-shanghai\0cn-shenzhen\0cn-beijing\0"sv};

constexpr std::array kPublishedRegions = {
    "cn-qingdao"sv,     "cn-beijing"sv,     "cn-zhangjiakou"sv, "cn-huhehaote"sv,
    "cn-wulanchabu"sv,  "cn-hangzhou"sv,    "cn-shanghai"sv,    "cn-nanjing"sv,
    "cn-fuzhou"sv,      "cn-shenzhen"sv,    "cn-heyuan"sv,      "cn-guangzhou"sv,
    "cn-chengdu"sv,     "cn-hongkong"sv,    "ap-northeast-1"sv, "ap-northeast-2"sv,
    "ap-southeast-1"sv, "ap-southeast-2"sv, "ap-southeast-3"sv, "ap-southeast-5"sv,
    "ap-southeast-6"sv, "ap-southeast-7"sv, "us-east-1"sv,      "us-west-1"sv,
    "eu-west-1"sv,      "eu-central-1"sv,   "me-east-1"sv,      "me-central-1"sv,
};

constexpr core::StringListView kEcsCategoryNames{
    "实例\0专有宿主机\0启动模板\0资源保障\0弹性供应组\0块存储\0块存储（高阶）\0预留实例券\0"
    "存储容量单位包\0镜像\0镜像构建\0快照\0前缀列表\0安全组\0部署集\0SSH密钥对\0高性能集群\0"
    "网络\0弹性网卡\0系统事件\0运维与监控\0云助手\0标签\0地域\0询价\0其他接口\0"sv};

constexpr std::array<core::StringListView, 26> kEcsActionLists = {
    // 1 实例
    core::StringListView{
        "RunInstances\0CreateInstance\0StartInstance\0StopInstance\0RebootInstance\0"
        "DeleteInstance\0StartInstances\0RebootInstances\0StopInstances\0"
        "AttachInstanceRamRole\0DetachInstanceRamRole\0DescribeInstanceStatus\0"
        "DescribeInstances\0DescribeInstanceVncUrl\0DescribeUserData\0"
        "DescribeInstanceAutoRenewAttribute\0DescribeInstanceRamRole\0"
        "DescribeSpotPriceHistory\0DescribeSpotAdvice\0DescribeInstanceTypeFamilies\0"
        "DescribeInstanceTypes\0ModifyInstanceAttribute\0ModifyInstanceVncPasswd\0"
        "ModifyInstanceAutoReleaseTime\0ModifyInstanceAutoRenewAttribute\0"
        "ModifyInstanceChargeType\0ModifyInstanceSpec\0ModifyPrepayInstanceSpec\0"
        "ModifyInstanceMetadataOptions\0RenewInstance\0ReactivateInstances\0"
        "DeleteInstances\0"sv},
    // 2 专有宿主机
    core::StringListView{
        "AllocateDedicatedHosts\0CreateDedicatedHostCluster\0DescribeDedicatedHostClusters\0"
        "ModifyDedicatedHostClusterAttribute\0DeleteDedicatedHostCluster\0"
        "RenewDedicatedHosts\0ReleaseDedicatedHost\0RedeployDedicatedHost\0"
        "DescribeDedicatedHosts\0DescribeDedicatedHostTypes\0DescribeDedicatedHostAutoRenew\0"
        "ModifyInstanceDeployment\0ModifyDedicatedHostAttribute\0"
        "ModifyDedicatedHostAutoReleaseTime\0ModifyDedicatedHostAutoRenewAttribute\0"
        "ModifyDedicatedHostsChargeType\0"sv},
    // 3 启动模板
    core::StringListView{"CreateLaunchTemplate\0CreateLaunchTemplateVersion\0DeleteLaunchTemplate\0"
                         "DeleteLaunchTemplateVersion\0DescribeLaunchTemplates\0"
                         "DescribeLaunchTemplateVersions\0ModifyLaunchTemplateDefaultVersion\0"sv},
    // 4 资源保障
    core::StringListView{"CreateElasticityAssurance\0CreateCapacityReservation\0"
                         "DescribeElasticityAssurances\0DescribeElasticityAssuranceInstances\0"
                         "DescribeCapacityReservations\0DescribeCapacityReservationInstances\0"
                         "DescribeInstanceAttachmentAttributes\0ModifyElasticityAssurance\0"
                         "ModifyCapacityReservation\0ModifyInstanceAttachmentAttributes\0"
                         "ReleaseCapacityReservation\0"sv},
    // 5 弹性供应组
    core::StringListView{
        "CreateAutoProvisioningGroup\0ModifyAutoProvisioningGroup\0"
        "DeleteAutoProvisioningGroup\0DescribeAutoProvisioningGroupInstances\0"
        "DescribeAutoProvisioningGroups\0DescribeAutoProvisioningGroupHistory\0"sv},
    // 6 块存储
    core::StringListView{
        "CreateDisk\0DeleteDisk\0DescribeDisks\0AttachDisk\0DetachDisk\0ModifyDiskAttribute\0"
        "ReplaceSystemDisk\0ReInitDisk\0ResetDisk\0ResetDisks\0ResizeDisk\0"
        "ModifyDiskChargeType\0ModifyDiskSpec\0CreateDedicatedBlockStorageCluster\0"
        "DescribeDedicatedBlockStorageClusters\0"sv},
    // 7 块存储（高阶）
    core::StringListView{"CreateDiskReplicaPair\0StartDiskReplicaPair\0FailoverDiskReplicaPair\0"
                         "ReprotectDiskReplicaPair\0DescribeDiskReplicaPairs\0DescribeRegions\0"
                         "ModifyDiskReplicaPair\0StopDiskReplicaPair\0DeleteDiskReplicaPair\0"sv},
    // 8 预留实例券
    core::StringListView{"PurchaseReservedInstancesOffering\0DescribeReservedInstances\0"
                         "ModifyReservedInstances\0"sv},
    // 9 存储容量单位包
    core::StringListView{"PurchaseStorageCapacityUnit\0ModifyStorageCapacityUnitAttribute\0"
                         "DescribeStorageCapacityUnits\0"sv},
    // 10 镜像
    core::StringListView{
        "CreateImage\0ImportImage\0ExportImage\0CopyImage\0CancelCopyImage\0DescribeImages\0"
        "DeleteImage\0DescribeImageSharePermission\0ModifyImageAttribute\0"
        "ModifyImageSharePermission\0DescribeImageSupportInstanceTypes\0"
        "DescribeImageFromFamily\0"sv},
    // 11 镜像构建
    core::StringListView{"CreateImageComponent\0CreateImagePipeline\0DescribeImageComponents\0"
                         "DescribeImagePipelines\0DeleteImageComponent\0DeleteImagePipeline\0"
                         "StartImagePipelineExecution\0DescribeImagePipelineExecutions\0"
                         "CancelImagePipelineExecution\0"sv},
    // 12 快照
    core::StringListView{
        "CreateSnapshot\0CreateAutoSnapshotPolicy\0CreateSnapshotGroup\0"
        "ApplyAutoSnapshotPolicy\0CopySnapshot\0DeleteSnapshot\0CancelAutoSnapshotPolicy\0"
        "DeleteAutoSnapshotPolicy\0DeleteSnapshotGroup\0DescribeAutoSnapshotPolicyEX\0"
        "DescribeSnapshots\0DescribeSnapshotLinks\0DescribeSnapshotGroups\0"
        "DescribeSnapshotsUsage\0DescribeSnapshotPackage\0ModifyAutoSnapshotPolicyEx\0"
        "ModifySnapshotAttribute\0ModifySnapshotGroup\0"sv},
    // 13 前缀列表
    core::StringListView{"CreatePrefixList\0DescribePrefixLists\0DescribePrefixListAssociations\0"
                         "DescribePrefixListAttributes\0ModifyPrefixList\0DeletePrefixList\0"sv},
    // 14 安全组
    core::StringListView{
        "CreateSecurityGroup\0AuthorizeSecurityGroup\0AuthorizeSecurityGroupEgress\0"
        "RevokeSecurityGroup\0RevokeSecurityGroupEgress\0JoinSecurityGroup\0"
        "LeaveSecurityGroup\0DeleteSecurityGroup\0DescribeSecurityGroupAttribute\0"
        "DescribeSecurityGroups\0DescribeSecurityGroupReferences\0"
        "ModifySecurityGroupAttribute\0ModifySecurityGroupPolicy\0ModifySecurityGroupRule\0"
        "ModifySecurityGroupEgressRule\0"sv},
    // 15 部署集
    core::StringListView{
        "CreateDeploymentSet\0DeleteDeploymentSet\0ModifyDeploymentSetAttribute\0"
        "DescribeDeploymentSets\0DescribeDeploymentSetSupportedInstanceTypeFamily\0"sv},
    // 16 SSH密钥对
    core::StringListView{
        "CreateKeyPair\0ImportKeyPair\0AttachKeyPair\0DetachKeyPair\0DeleteKeyPairs\0"
        "DescribeKeyPairs\0"sv},
    // 17 高性能集群
    core::StringListView{"DeleteHpcCluster\0CreateHpcCluster\0DescribeHpcClusters\0"
                         "ModifyHpcClusterAttribute\0"sv},
    // 18 网络
    core::StringListView{
        "ModifyInstanceVpcAttribute\0AllocatePublicIpAddress\0ConvertNatPublicIpToEip\0"
        "AttachClassicLinkVpc\0DetachClassicLinkVpc\0DescribeBandwidthLimitation\0"
        "DescribeClassicLinkInstances\0ModifyInstanceNetworkSpec\0"sv},
    // 19 弹性网卡
    core::StringListView{
        "CreateNetworkInterface\0AttachNetworkInterface\0DetachNetworkInterface\0"
        "DeleteNetworkInterface\0DescribeNetworkInterfaces\0"
        "ModifyNetworkInterfaceAttribute\0AssignPrivateIpAddresses\0"
        "UnassignPrivateIpAddresses\0AssignIpv6Addresses\0UnassignIpv6Addresses\0"sv},
    // 20 系统事件
    core::StringListView{"DescribeDisksFullStatus\0DescribeInstancesFullStatus\0"
                         "DescribeInstanceHistoryEvents\0CancelSimulatedSystemEvents\0"
                         "CreateSimulatedSystemEvents\0AcceptInquiredSystemEvent\0"sv},
    // 21 运维与监控
    core::StringListView{
        "GetInstanceScreenshot\0GetInstanceConsoleOutput\0DescribeDiskMonitorData\0"
        "DescribeInstanceMonitorData\0DescribeEniMonitorData\0DescribeSnapshotMonitorData\0"
        "DescribeInstanceMaintenanceAttributes\0ModifyInstanceMaintenanceAttributes\0"
        "RedeployInstance\0ReportInstancesStatus\0"sv},
    // 22 云助手
    core::StringListView{
        "CreateCommand\0CreateActivation\0InvokeCommand\0StopInvocation\0DisableActivation\0"
        "ModifyCommand\0ModifyManagedInstance\0DeleteCommand\0DeregisterManagedInstance\0"
        "DescribeCommands\0DescribeInvocations\0DescribeInvocationResults\0"
        "DescribeCloudAssistantStatus\0DescribeActivations\0DescribeManagedInstances\0"
        "InstallCloudAssistant\0RunCommand\0SendFile\0DescribeSendFileResults\0"
        "DeleteActivation\0StartTerminalSession\0"sv},
    // 23 标签
    core::StringListView{"TagResources\0ListTagResources\0UntagResources\0"sv},
    // 24 地域
    core::StringListView{"DescribeRegions\0DescribeZones\0DescribeAvailableResource\0"
                         "DescribeResourcesModification\0"sv},
    // 25 询价
    core::StringListView{
        "DescribePrice\0DescribeRenewalPrice\0DescribeInstanceModificationPrice\0"sv},
    // 26 其他接口
    core::StringListView{
        "CancelTask\0DescribeTasks\0DescribeTaskAttribute\0DescribeAccountAttributes\0"
        "JoinResourceGroup\0DescribeDemands\0"sv},
};

constexpr core::StringListView kIotCategoryNames{"IOT\0"sv};

constexpr core::StringListView kIotActionList{
    "创建产品\0修改产品信息\0获取产品类型信息\0查询产品的设备列表\0设备注册\0申请批量生成设备\0"
    "查询申请批量生成设备状态\0查询批量生成的设备信息\0按名称查信息\0列出设备的权限\0"
    "批量获取设备状态\0发布消息到Topic\0发送消息给设备并得到设备响应\0"sv};

constexpr core::StringListView kApiGatewayCategoryNames{
    "API分组\0API域名\0API管理\0API流量控制\0API后端签名密钥\0API应用管理\0API授权\0API其他\0"sv};

constexpr std::array<core::StringListView, 8> kApiGatewayActionLists = {
    // 1 API分组
    core::StringListView{
        "创建API分组\0修改API分组\0删除API分组\0创建环境变量\0删除环境变量\0查询分组详情\0"
        "查询分组列表\0查询环境详情\0"sv},
    // 2 API域名
    core::StringListView{
        "绑定自定义域名\0上传SSL证书\0查询域名详情信息\0删除域名\0删除指定域名的证书\0"sv},
    // 3 API管理
    core::StringListView{
        "创建API\0修改API\0发布API\0切换环境\0将环境API下线\0删除Api\0查询API定义\0"
        "查询API服务文档\0查询API列表\0查询API环境\0查询API历史版本\0查询已发布API定义\0"
        "查询已发布API列表\0查询API错误数据\0查询API响应数据\0查询APIQps数据\0"
        "查询指定API流量数据\0"sv},
    // 4 API流量控制
    core::StringListView{
        "创建流量控制策略\0修改流量控制策略\0删除指定流控策略\0添加特殊流控策略\0"
        "删除所有特殊流控\0删除指定特殊流控\0绑定流控策略\0解除流控策略\0查询流控策略\0"
        "查询指定策略\0查询流控策略绑定\0查询已绑定流控策略\0"sv},
    // 5 API后端签名密钥
    core::StringListView{
        "创建签名\0修改签名\0删除签名\0绑定签名\0解除签名\0查询签名\0查询指定签名\0"
        "查询签名密钥列表\0查询指定API签名\0"sv},
    // 6 API应用管理
    core::StringListView{"创建应用\0修改应用\0重置APP密钥\0查询APP列表\0查询指定APP\0删除应用\0"sv},
    // 7 API授权
    core::StringListView{
        "查询可授权列表\0查询已授权列表\0查询API授权列表\0给APP添加多个API\0给APP添加指定API\0"
        "撤销指定APP权限\0撤销多个APP权限\0"sv},
    // 8 API其他
    core::StringListView{"查询区域列表\0查询参数列表\0"sv},
};

}  // namespace

core::StringListView ProductGroups() { return kProductGroups; }
core::StringListView ServiceList() { return kServiceList; }
core::StringListView Regions() { return kRegions; }

bool IsPublishedRegion(std::string_view id) {
  return std::find(kPublishedRegions.begin(), kPublishedRegions.end(), id) !=
         kPublishedRegions.end();
}

core::StringListView CategoryList(std::size_t service_position) {
  switch (service_position) {
    case 0:
      return kEcsCategoryNames;
    case 1:
      return kIotCategoryNames;
    case 2:
      return kApiGatewayCategoryNames;
    default:
      return {};
  }
}

core::StringListView ActionList(std::size_t service_position, std::size_t category_position) {
  switch (service_position) {
    case 0:
      return category_position < kEcsActionLists.size() ? kEcsActionLists[category_position]
                                                        : core::StringListView{};
    case 1:
      return category_position == 0 ? kIotActionList : core::StringListView{};
    case 2:
      return category_position < kApiGatewayActionLists.size()
                 ? kApiGatewayActionLists[category_position]
                 : core::StringListView{};
    default:
      return {};
  }
}

}  // namespace kestrune::catalogue
