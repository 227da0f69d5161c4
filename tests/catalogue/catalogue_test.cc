#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/ascii.h"

namespace kestrune::catalogue {
namespace {

using namespace std::string_view_literals;

std::vector<std::string> Entries(core::StringListView list) {
  std::vector<std::string> entries;
  for (std::size_t n = 1; n <= list.Count(); ++n) entries.emplace_back(list.Entry(n));
  return entries;
}

using Strings = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Services and their endpoints

TEST(ServiceTest, ThreeServicesWithTheirEndpoints) {
  ASSERT_EQ(Services().size(), 3u);
  auto ecs = EndpointFor(1);
  ASSERT_TRUE(ecs.has_value());
  EXPECT_EQ(ecs->host, "ecs.aliyuncs.com");
  EXPECT_EQ(ecs->host_line, "Host: ecs.aliyuncs.com\r\n");
  EXPECT_EQ(ecs->version_item, "Version=2014-05-26");

  auto iot = EndpointFor(2);
  ASSERT_TRUE(iot.has_value());
  EXPECT_EQ(iot->host, "iot.aliyuncs.com");
  EXPECT_EQ(iot->host_line, "Host: iot.aliyuncs.com\r\n");
  EXPECT_EQ(iot->version_item, "Version=2016-05-30");

  auto gateway = EndpointFor(3);
  ASSERT_TRUE(gateway.has_value());
  EXPECT_EQ(gateway->host, "apigateway.cn-qingdao.aliyuncs.com");
  EXPECT_EQ(gateway->host_line, "Host: apigateway.cn-qingdao.aliyuncs.com\r\n");
  EXPECT_EQ(gateway->host_line.size(), 42u);
  EXPECT_EQ(gateway->version_item, "Version=2016-07-14");

  EXPECT_FALSE(EndpointFor(0).has_value());
  EXPECT_FALSE(EndpointFor(4).has_value());
  EXPECT_EQ(FindService(0), nullptr);
  ASSERT_NE(FindService(3), nullptr);
  EXPECT_EQ(FindService(3)->number, 3u);
}

// ---------------------------------------------------------------------------
// Browsing lists

TEST(BrowsingListTest, FixedLists) {
  EXPECT_EQ(Entries(ProductGroups()),
            (Strings{"Elastic Compute", "DataBase", "Storage CDN", "Networking", "Application",
                     "Domain&Website", "Manage&Monitor", "Analyse", "Cloud&Communication",
                     "MiddleWare", "MobileService", "VideoService"}));
  EXPECT_EQ(Entries(ServiceList()), (Strings{"ECS"}));
  EXPECT_EQ(Entries(Regions()), (Strings{"cn-shanghai", "cn-shenzhen", "cn-beijing"}));
}

TEST(BrowsingListTest, CategoryListsBySelectorPosition) {
  core::StringListView ecs = CategoryList(0);
  ASSERT_EQ(ecs.Count(), 26u);
  EXPECT_EQ(ecs.Entry(1), "实例");
  EXPECT_EQ(ecs.Entry(7), "块存储（高阶）");
  EXPECT_EQ(ecs.Entry(16), "SSH密钥对");
  EXPECT_EQ(ecs.Entry(24), "地域");
  EXPECT_EQ(ecs.Entry(26), "其他接口");

  EXPECT_EQ(Entries(CategoryList(1)), (Strings{"IOT"}));

  EXPECT_EQ(Entries(CategoryList(2)),
            (Strings{"API分组", "API域名", "API管理", "API流量控制", "API后端签名密钥",
                     "API应用管理", "API授权", "API其他"}));
  EXPECT_EQ(CategoryList(3).Count(), 0u);
  EXPECT_EQ(CategoryList(1000).Count(), 0u);
}

TEST(BrowsingListTest, EcsActionListsHoldTheirCountsAndOrder) {
  const std::vector<std::size_t> expected = {32, 16, 7, 11, 6, 15, 9, 3,  3,  12, 9, 18, 6,
                                             15, 5,  6, 4,  8, 10, 6, 10, 21, 3,  4, 3,  6};
  std::size_t total = 0;
  for (std::size_t c = 0; c < expected.size(); ++c) {
    EXPECT_EQ(ActionList(0, c).Count(), expected[c]) << "category " << c + 1;
    total += ActionList(0, c).Count();
  }
  EXPECT_EQ(total, 248u);
  EXPECT_EQ(ActionList(0, 26).Count(), 0u);

  EXPECT_EQ(ActionList(0, 0).Entry(1), "RunInstances");
  EXPECT_EQ(ActionList(0, 0).Entry(10), "AttachInstanceRamRole");
  EXPECT_EQ(ActionList(0, 0).Entry(15), "DescribeUserData");
  EXPECT_EQ(ActionList(0, 0).Entry(32), "DeleteInstances");
  EXPECT_EQ(ActionList(0, 1).Entry(16), "ModifyDedicatedHostsChargeType");
  EXPECT_EQ(ActionList(0, 6).Entry(6), "DescribeRegions");
  EXPECT_EQ(ActionList(0, 11).Entry(10), "DescribeAutoSnapshotPolicyEX");
  EXPECT_EQ(ActionList(0, 14).Entry(5), "DescribeDeploymentSetSupportedInstanceTypeFamily");
  EXPECT_EQ(ActionList(0, 21).Entry(21), "StartTerminalSession");
  EXPECT_EQ(Entries(ActionList(0, 23)),
            (Strings{"DescribeRegions", "DescribeZones", "DescribeAvailableResource",
                     "DescribeResourcesModification"}));
  EXPECT_EQ(ActionList(0, 25).Entry(6), "DescribeDemands");
}

TEST(BrowsingListTest, IotAndApiGatewayActionLists) {
  core::StringListView iot = ActionList(1, 0);
  ASSERT_EQ(iot.Count(), 13u);
  EXPECT_EQ(iot.Entry(1), "创建产品");
  EXPECT_EQ(iot.Entry(7), "查询申请批量生成设备状态");
  EXPECT_EQ(iot.Entry(13), "发送消息给设备并得到设备响应");
  EXPECT_EQ(ActionList(1, 1).Count(), 0u);

  const std::vector<std::size_t> expected = {8, 5, 17, 12, 9, 6, 7, 2};
  std::size_t total = 0;
  for (std::size_t c = 0; c < expected.size(); ++c) {
    EXPECT_EQ(ActionList(2, c).Count(), expected[c]) << "category " << c + 1;
    total += ActionList(2, c).Count();
  }
  EXPECT_EQ(total, 66u);
  EXPECT_EQ(ActionList(2, 8).Count(), 0u);
  EXPECT_EQ(ActionList(2, 0).Entry(6), "查询分组详情");
  EXPECT_EQ(ActionList(2, 1).Entry(2), "上传SSL证书");
  EXPECT_EQ(ActionList(2, 2).Entry(6), "删除Api");
  EXPECT_EQ(ActionList(2, 2).Entry(16), "查询APIQps数据");
  EXPECT_EQ(ActionList(2, 3).Entry(12), "查询已绑定流控策略");
  EXPECT_EQ(ActionList(2, 4).Entry(9), "查询指定API签名");
  EXPECT_EQ(ActionList(2, 5).Entry(3), "重置APP密钥");
  EXPECT_EQ(ActionList(2, 6).Entry(4), "给APP添加多个API");
  EXPECT_EQ(Entries(ActionList(2, 7)), (Strings{"查询区域列表", "查询参数列表"}));
  EXPECT_EQ(ActionList(3, 0).Count(), 0u);
}

// ---------------------------------------------------------------------------
// Templates

std::vector<std::size_t> GroupSizes(unsigned service) {
  std::vector<std::size_t> sizes;
  for (unsigned g = 1; g <= GroupCount(service); ++g)
    sizes.push_back(TemplateGroup(service, g).size());
  return sizes;
}

TEST(TemplateTest, CountsByServiceAndGroup) {
  EXPECT_EQ(Templates().size(), 176u);
  EXPECT_EQ(GroupSizes(kEcsService),
            (std::vector<std::size_t>{17, 10, 9, 9, 8, 9, 4, 2, 4, 3, 2, 3, 12, 5}));
  EXPECT_EQ(GroupSizes(kIotService), (std::vector<std::size_t>{13}));
  EXPECT_EQ(GroupSizes(kApiGatewayService), (std::vector<std::size_t>{8, 5, 17, 12, 9, 6, 7, 2}));
  EXPECT_EQ(GroupCount(0), 0u);
  EXPECT_EQ(GroupCount(4), 0u);
  EXPECT_TRUE(TemplateGroup(kEcsService, 15).empty());
  EXPECT_EQ(FindTemplate(kEcsService, 1, 0), nullptr);
  EXPECT_EQ(FindTemplate(kEcsService, 1, 18), nullptr);
  EXPECT_EQ(FindTemplate(kEcsService, 0, 1), nullptr);
  EXPECT_EQ(FindTemplate(kIotService, 1, 14), nullptr);
}

TEST(TemplateTest, EveryTemplateIsWellFormed) {
  for (const RequestTemplate& entry : Templates()) {
    SCOPED_TRACE(std::string(entry.action()));
    EXPECT_EQ(entry.names.Entry(1), "Action");
    EXPECT_FALSE(entry.action().empty());
    EXPECT_EQ(FindTemplate(entry.service, entry.group, entry.position), &entry);
    EXPECT_EQ(entry.parameter_names().Count(), entry.parameter_count());
    if (entry.service != kApiGatewayService) {
      EXPECT_EQ(entry.values.Count(), 1u);
    }
  }
}

TEST(TemplateTest, EcsSpotChecks) {
  const RequestTemplate* run = FindTemplate(kEcsService, 1, 1);
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->action(), "RunInstances");
  EXPECT_EQ(Entries(run->names), (Strings{"Action", "RegionId", "ImageId", "InstanceType"}));
  EXPECT_EQ(Entries(run->parameter_names()), (Strings{"RegionId", "ImageId", "InstanceType"}));

  const RequestTemplate* userdata = FindTemplate(kEcsService, 1, 15);
  ASSERT_NE(userdata, nullptr);
  EXPECT_EQ(userdata->action(), "DescribeUserdata");
  EXPECT_EQ(Entries(userdata->parameter_names()), (Strings{"RegionId", "InstanceId"}));

  EXPECT_EQ(FindTemplate(kEcsService, 1, 9)->action(), "DescribeInstances");
  EXPECT_EQ(FindTemplate(kEcsService, 2, 10)->action(), "ResizeDisk");
  EXPECT_EQ(FindTemplate(kEcsService, 3, 7)->action(), "DescribeAutoSnapshotPolicyEx");
  EXPECT_EQ(
      Entries(FindTemplate(kEcsService, 4, 9)->parameter_names()),
      (Strings{"RegionId", "DiskDeviceMapping.1.OSSBucket", "DiskDeviceMapping.1.OSSObject"}));
  EXPECT_EQ(
      Entries(FindTemplate(kEcsService, 6, 8)->names),
      (Strings{"Action", "SecurityGroupId", "RegionId", "IpProtocol", "PortRange", "DestGroupId"}));
  EXPECT_EQ(FindTemplate(kEcsService, 8, 2)->action(), "ModifyVRouterAttribute");
  EXPECT_EQ(Entries(FindTemplate(kEcsService, 9, 1)->parameter_names()),
            (Strings{"ZoneId", "CidrBlock", "VpcId"}));
  EXPECT_EQ(FindTemplate(kEcsService, 10, 3)->action(), "DescribeRouteTables");
  EXPECT_EQ(FindTemplate(kEcsService, 11, 1)->parameter_count(), 0u);
  EXPECT_EQ(FindTemplate(kEcsService, 12, 2)->action(), "DescribeEipMonitorData");
  EXPECT_EQ(Entries(FindTemplate(kEcsService, 13, 9)->parameter_names()),
            (Strings{"RegionId", "ForwardTableId", "ExternalIp", "ExternalPort", "IpProtocol",
                     "InternalIp", "InternalPort"}));
  EXPECT_EQ(Entries(FindTemplate(kEcsService, 14, 5)->names),
            (Strings{"Action", "RegionId", "TaskId"}));
  EXPECT_EQ(FindTemplate(kEcsService, 14, 5)->action(), "CancelTask");
}

TEST(TemplateTest, IotSpotChecks) {
  const RequestTemplate* first = FindTemplate(kIotService, 1, 1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->action(), "CreateProduct");
  EXPECT_EQ(Entries(first->parameter_names()), (Strings{"Name", "CatId", "Desc"}));
  EXPECT_EQ(Entries(FindTemplate(kIotService, 1, 7)->names), (Strings{"Action", "ApplyId"}));
  for (unsigned k : {8u, 9u, 10u}) {
    EXPECT_EQ(FindTemplate(kIotService, 1, k)->parameter_names().Entry(3), "CurrenPage");
  }
  EXPECT_EQ(FindTemplate(kIotService, 1, 4)->parameter_names().Entry(3), "CurrentPage");
  EXPECT_EQ(FindTemplate(kIotService, 1, 12)->action(), "Pub");
  EXPECT_EQ(Entries(FindTemplate(kIotService, 1, 13)->names),
            (Strings{"Action", "ProductKey", "DeviceName", "RpcContent", "TimeOut"}));
}

const Strings kCommon = {
    "2d3ced841a184af9bdd9f49e6a2c4523", "MyApi", "PUBLIC", "TestApi", "APP", "MyApi"};

Strings Concat(Strings head, const Strings& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(TemplateTest, ApiGatewayValuesLists) {
  const std::string name_placeholder(50, 'a');
  const std::string description_placeholder(180, 'b');
  const std::set<std::string> both = {"CreateApiGroup",         "ModifyApiGroup", "SetDomain",
                                      "SetDomainCertificate",   "DescribeDomain", "DeleteDomain",
                                      "DeleteDomainCertificate"};
  const std::set<std::string> name_only = {"DeleteApiGroup", "CreateApiStageVariable",
                                           "DeleteApiStageVariable", "DescribeApiStage"};
  const std::set<std::string> bare = {"DescribeApiGroups", "DescribeRegions",
                                      "DescribeSystemParameters"};
  const Strings api_samples =
      Concat(kCommon, {"CreateApi", "2d3ced841a184af9bdd9f49e6a2c4523", "MyApi", "CreateApi",
                       "2d3ced841a184af9bdd9f49e6a2c4523"});
  std::size_t checked = 0;
  for (const RequestTemplate& entry : Templates()) {
    if (entry.service != kApiGatewayService) continue;
    const std::string action(entry.action());
    SCOPED_TRACE(action);
    Strings values = Entries(entry.values);
    Strings expected;
    if (both.count(action)) {
      expected = {action, name_placeholder, description_placeholder};
    } else if (name_only.count(action)) {
      expected = {action, name_placeholder};
    } else if (bare.count(action)) {
      expected = {action};
    } else if (action == "DescribeApiGroup") {
      expected = {action, "GroupId"};
    } else if (action == "CreateApi" || action == "ModifyApi") {
      expected = Concat({action}, api_samples);
    } else {
      expected = Concat({action}, kCommon);
    }
    EXPECT_EQ(values, expected);
    ++checked;
  }
  EXPECT_EQ(checked, 66u);
}

TEST(TemplateTest, ApiGatewayNamesSpotChecks) {
  const RequestTemplate* create_api = FindTemplate(kApiGatewayService, 3, 1);
  ASSERT_NE(create_api, nullptr);
  EXPECT_EQ(Entries(create_api->names),
            (Strings{"Action", "GroupId", "ApiName", "Visibility", "Description", "AuthType",
                     "OpenIdConnectConfig", "RequestConfig", "ServiceConfig", "RequestParameters",
                     "ServiceParameters", "ServiceParametersMap", "ResultType", "ResultSample"}));
  const RequestTemplate* modify_api = FindTemplate(kApiGatewayService, 3, 2);
  EXPECT_EQ(Entries(modify_api->names),
            (Strings{"Action", "GroupId", "ApiId", "ApiName", "Visibility", "RequestConfig",
                     "ServiceConfig", "ResultType", "ResultSample", "RequestParameters",
                     "ServiceParameters", "ServiceParametersMap", "ResultType", "ResultSample"}));
  EXPECT_EQ(FindTemplate(kApiGatewayService, 1, 6)->action(), "DescribeApiStage");
  EXPECT_EQ(FindTemplate(kApiGatewayService, 1, 7)->action(), "DescribeApiGroup");
  EXPECT_EQ(Entries(FindTemplate(kApiGatewayService, 2, 2)->parameter_names()),
            (Strings{"GroupId", "DomainName", "CertificateName", "CertificateBody",
                     "CertificatePrivateKey"}));
  EXPECT_EQ(Entries(FindTemplate(kApiGatewayService, 3, 13)->parameter_names()),
            (Strings{"StageName", "ApiId", "StageName"}));
  EXPECT_EQ(Entries(FindTemplate(kApiGatewayService, 4, 12)->parameter_names()),
            (Strings{"GroupId", "ApiId", "StageName", "StageName"}));
  EXPECT_EQ(Entries(FindTemplate(kApiGatewayService, 5, 8)->parameter_names()),
            (Strings{"StageName", "GroupId", "StageName", "StageName"}));
  EXPECT_EQ(FindTemplate(kApiGatewayService, 6, 3)->action(), "ResetAppSecret");
  EXPECT_EQ(Entries(FindTemplate(kApiGatewayService, 7, 6)->parameter_names()),
            (Strings{"GroupId", "StageName", "ApiIds", "AppId"}));
  EXPECT_EQ(FindTemplate(kApiGatewayService, 8, 2)->action(), "DescribeSystemParameters");
  EXPECT_EQ(FindTemplate(kApiGatewayService, 8, 2)->parameter_count(), 0u);
}

// ---------------------------------------------------------------------------
// Captions

TEST(ParameterLabelsTest, EntryCountsPerCategory) {
  const std::vector<std::size_t> expected = {17, 10, 9, 9, 8, 9, 4, 2, 4, 3, 2, 3, 12,
                                             5,  5,  5, 5, 5, 5, 5, 5, 5, 5, 4, 5, 5};
  for (unsigned c = 1; c <= 26; ++c) {
    EXPECT_EQ(ParameterLabelCount(c), expected[c - 1]) << "category " << c;
  }
  EXPECT_EQ(ParameterLabelCount(0), 0u);
  EXPECT_EQ(ParameterLabelCount(27), 0u);
}

TEST(ParameterLabelsTest, SpotChecks) {
  EXPECT_EQ(Entries(ParameterLabels(1, 1)),
            (Strings{"Region ID:", "镜像文件ID:", "InstanceType:"}));
  EXPECT_EQ(Entries(ParameterLabels(1, 2)), Entries(ParameterLabels(1, 1)));
  EXPECT_EQ(Entries(ParameterLabels(1, 17)), (Strings{"InstanceId:", "Period:"}));
  EXPECT_EQ(Entries(ParameterLabels(2, 1)), (Strings{"Region ID:", "ZoneId:", "容量:"}));
  EXPECT_EQ(Entries(ParameterLabels(3, 1)), (Strings{"磁盘 ID:"}));
  EXPECT_EQ(Entries(ParameterLabels(3, 4)),
            (Strings{"RegionId:", "策略名称:", "创建时间点:", "重复日期:", "保留时间:"}));
  EXPECT_EQ(Entries(ParameterLabels(4, 5)), (Strings{"RegionId:", "源镜像ID:", "目标regionId:"}));
  EXPECT_EQ(Entries(ParameterLabels(4, 9)),
            (Strings{"RegionId:", "OSS.Bucket:", "OSS.Object.key:"}));
  EXPECT_EQ(Entries(ParameterLabels(5, 2)),
            (Strings{"实例Id:", "出网带宽最大值:", "入网带宽最大值:"}));
  EXPECT_EQ(Entries(ParameterLabels(6, 2)),
            (Strings{"安全组编码:", "RegionId:", "IP协议:", "IP端口号:", "SourceGroupId:"}));
  EXPECT_EQ(Entries(ParameterLabels(6, 3)), (Strings{"SecurityGroupId:", "RegionId"}));
  EXPECT_EQ(Entries(ParameterLabels(7, 4)), (Strings{"VpcId:", "VpcName"}));
  EXPECT_EQ(Entries(ParameterLabels(8, 2)), (Strings{"VRouterId:", "VRouterName:"}));
  EXPECT_EQ(Entries(ParameterLabels(9, 1)), (Strings{"ZoneId:", "CidrBlock:", "VpcId:"}));
  EXPECT_EQ(Entries(ParameterLabels(10, 3)), (Strings{"RouteTableId:", "CidrBlock:"}));
  EXPECT_EQ(ParameterLabels(11, 1).Count(), 0u);
  EXPECT_EQ(Entries(ParameterLabels(11, 2)), (Strings{"RegionId:"}));
  EXPECT_EQ(Entries(ParameterLabels(12, 3)), (Strings{"DiskID:", "起始时间:", "结束时间:"}));
  EXPECT_EQ(ParameterLabels(13, 9).Count(), 7u);
  EXPECT_EQ(ParameterLabels(13, 9).Entry(7), "InternalPort:");
  EXPECT_EQ(Entries(ParameterLabels(14, 4)), (Strings{"地域:", "任务Id:"}));
  EXPECT_EQ(Entries(ParameterLabels(24, 3)), (Strings{"地域:"}));
  EXPECT_EQ(ParameterLabels(24, 1).Count(), 0u);
}

TEST(ParameterLabelsTest, OutOfRangeGivesTheEmptyListNeverAnotherCategory) {
  EXPECT_EQ(ParameterLabels(2, 11).Count(), 0u);
  EXPECT_EQ(ParameterLabels(1, 0).Count(), 0u);
  EXPECT_EQ(ParameterLabels(1, 18).Count(), 0u);
  EXPECT_EQ(ParameterLabels(0, 1).Count(), 0u);
  EXPECT_EQ(ParameterLabels(27, 1).Count(), 0u);
  EXPECT_EQ(ParameterLabels(24, 5).Count(), 0u);
  EXPECT_EQ(ParameterLabels(14, 6).Count(), 0u);
  EXPECT_EQ(ParameterLabels(~0u, ~0u).Count(), 0u);
  // The shared set: categories 14 to 23, 25 and 26 read the same captions.
  for (unsigned c : {15u, 16u, 17u, 18u, 19u, 20u, 21u, 22u, 23u, 25u, 26u}) {
    for (unsigned a = 1; a <= 5; ++a) {
      EXPECT_EQ(Entries(ParameterLabels(c, a)), Entries(ParameterLabels(14, a))) << c << "/" << a;
    }
  }
  EXPECT_EQ(Entries(ParameterLabels(15, 3)), (Strings{"地域:"}));
}

TEST(ParameterLabelsTest, NoEntryHoldsMoreThanSevenCaptions) {
  for (unsigned c = 1; c <= 26; ++c) {
    for (unsigned a = 1; a <= ParameterLabelCount(c); ++a) {
      EXPECT_LE(ParameterLabels(c, a).Count(), 7u) << c << "/" << a;
    }
  }
}

// A good reply is shown by its action's formatter, as the ECS numbering
// assigns them, shared by neighbours; no other action has one.
TEST(ActionSpecTest, RepliesAreShownByTheShapeOfTheirAction) {
  using core::ReplyShape;
  for (const auto& [service, name, shape] :
       std::vector<std::tuple<unsigned, std::string, ReplyShape>>{
           {kEcsService, "DescribeInstances", ReplyShape::kInstances},
           {kEcsService, "DeleteInstance", ReplyShape::kVncUrl},
           {kEcsService, "RenewInstance", ReplyShape::kUserData},
           {kEcsService, "DescribeZones", ReplyShape::kZones},
           {kEcsService, "CancelTask", ReplyShape::kInstanceTypes},
           {kEcsService, "DescribeDisks", ReplyShape::kNone},
           {kApiGatewayService, "DescribeRegions", ReplyShape::kNone}}) {
    const ActionSpec* spec = ActionSpecOf(*ResolveActionName(service, name));
    EXPECT_EQ(spec != nullptr ? spec->reply_shape : ReplyShape::kNone, shape) << name;
  }
}

// ---------------------------------------------------------------------------
// Resolution

// Every listed entry of all three services resolves to its own action (with
// the template of that action where there is one) or to nothing: never to
// another action. ECS lists action names; the other two display names.
TEST(ResolutionTest, EveryEntryResolvesToItsOwnActionOrToNothing) {
  std::size_t templated = 0;
  std::size_t untemplated = 0;
  for (std::size_t service = 0; service < 3; ++service) {
    for (std::size_t c = 0; c < CategoryList(service).Count(); ++c) {
      core::StringListView actions = ActionList(service, c);
      for (std::size_t e = 0; e < actions.Count(); ++e) {
        std::string_view name = actions.Entry(e + 1);
        SCOPED_TRACE(std::string(name));
        std::optional<ResolvedAction> resolved = ResolveBrowsingEntry(service, c, e);
        if (service == 0) {
          ASSERT_TRUE(resolved.has_value());
        }
        if (!resolved) continue;
        EXPECT_EQ(resolved->service, service + 1);
        if (service == 0) {
          EXPECT_TRUE(core::EqualsIgnoreCase(resolved->action_name, name));
        }
        EXPECT_EQ(ResolveActionName(resolved->service, resolved->action_name), resolved);
        if (resolved->request_template == nullptr) {
          ++untemplated;
          EXPECT_EQ(resolved->category_number, 0u);
          continue;
        }
        ++templated;
        const RequestTemplate& chosen = *resolved->request_template;
        EXPECT_EQ(resolved->action_name, chosen.action());
        EXPECT_EQ(resolved->category_number,
                  service == 0 && chosen.group == 14 ? 16u : chosen.group);
        EXPECT_EQ(resolved->action_number, chosen.position);
      }
    }
  }
  EXPECT_GT(templated, 0u);
  EXPECT_GT(untemplated, 150u);
}

TEST(ResolutionTest, EcsExamples) {
  // Entry 10 of category 1 must not become template 10 (DeleteInstance).
  EXPECT_EQ(ResolveBrowsingEntry(0, 0, 9)->action_name, "AttachInstanceRamRole");

  std::optional<ResolvedAction> userdata = ResolveBrowsingEntry(0, 0, 14);
  ASSERT_TRUE(userdata.has_value());
  EXPECT_EQ(userdata->category_number, 1u);
  EXPECT_EQ(userdata->action_number, 15u);
  EXPECT_EQ(userdata->request_template->action(), "DescribeUserdata");

  for (unsigned k = 1; k <= 5; ++k) {
    std::optional<ResolvedAction> resolved = ResolveBrowsingEntry(0, 0, k - 1);
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->category_number, 1u);
    EXPECT_EQ(resolved->action_number, k);
  }
  std::optional<ResolvedAction> types = ResolveBrowsingEntry(0, 0, 20);  // DescribeInstanceTypes
  ASSERT_TRUE(types.has_value());
  EXPECT_EQ(types->category_number, 16u);
  EXPECT_EQ(types->action_number, 1u);

  std::optional<ResolvedAction> regions = ResolveBrowsingEntry(0, 23, 0);
  ASSERT_TRUE(regions.has_value());
  EXPECT_EQ(regions->category_number, 11u);
  EXPECT_EQ(regions->action_number, 1u);
  EXPECT_EQ(ResolveBrowsingEntry(0, 6, 5), regions);  // the same action under 块存储（高阶）
  EXPECT_EQ(ResolveBrowsingEntry(0, 23, 1)->action_number, 2u);
  EXPECT_EQ(ResolveBrowsingEntry(0, 23, 2)->request_template, nullptr);

  std::optional<ResolvedAction> policy = ResolveBrowsingEntry(0, 11, 9);  // ...PolicyEX
  ASSERT_TRUE(policy.has_value());
  EXPECT_EQ(policy->category_number, 3u);
  EXPECT_EQ(policy->action_number, 7u);

  std::optional<ResolvedAction> cancel = ResolveBrowsingEntry(0, 25, 0);  // CancelTask
  ASSERT_TRUE(cancel.has_value());
  EXPECT_EQ(cancel->category_number, 16u);
  EXPECT_EQ(cancel->action_number, 5u);

  std::optional<ResolvedAction> vpc_attribute = ResolveBrowsingEntry(0, 17, 0);
  ASSERT_TRUE(vpc_attribute.has_value());
  EXPECT_EQ(vpc_attribute->category_number, 1u);
  EXPECT_EQ(vpc_attribute->action_number, 7u);
}

TEST(ResolutionTest, PositionsOutOfRangeAreNotSendable) {
  EXPECT_FALSE(ResolveBrowsingEntry(0, 0, 32).has_value());
  EXPECT_FALSE(ResolveBrowsingEntry(0, 26, 0).has_value());
  EXPECT_FALSE(ResolveBrowsingEntry(1, 0, 13).has_value());
  EXPECT_FALSE(ResolveBrowsingEntry(1, 1, 0).has_value());
  EXPECT_FALSE(ResolveBrowsingEntry(2, 7, 2).has_value());
  EXPECT_FALSE(ResolveBrowsingEntry(2, 8, 0).has_value());
  EXPECT_FALSE(ResolveBrowsingEntry(3, 0, 0).has_value());
}

TEST(ResolutionTest, IotEntryKIsTemplateK) {
  for (unsigned k = 1; k <= 13; ++k) {
    std::optional<ResolvedAction> resolved = ResolveBrowsingEntry(1, 0, k - 1);
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->service, kIotService);
    EXPECT_EQ(resolved->category_number, 1u);
    EXPECT_EQ(resolved->action_number, k);
    EXPECT_EQ(resolved->request_template, FindTemplate(kIotService, 1, k));
  }
}

TEST(ResolutionTest, ApiGatewayDisplayNamesAreABijectionPerGroup) {
  for (unsigned g = 1; g <= 8; ++g) {
    core::StringListView displays = ActionList(2, g - 1);
    std::span<const RequestTemplate> group = TemplateGroup(kApiGatewayService, g);
    ASSERT_EQ(displays.Count(), group.size()) << "group " << g;
    std::set<unsigned> positions;
    for (std::size_t e = 0; e < displays.Count(); ++e) {
      std::optional<ResolvedAction> resolved = ResolveBrowsingEntry(2, g - 1, e);
      ASSERT_TRUE(resolved.has_value()) << displays.Entry(e + 1);
      EXPECT_EQ(resolved->service, kApiGatewayService);
      EXPECT_EQ(resolved->category_number, g);
      EXPECT_EQ(resolved->request_template,
                FindTemplate(kApiGatewayService, g, resolved->action_number));
      positions.insert(resolved->action_number);
    }
    EXPECT_EQ(positions.size(), group.size()) << "group " << g;
  }
}

std::string_view GatewayActionOf(std::string_view display) {
  std::optional<ResolvedAction> resolved = ResolveActionName(kApiGatewayService, display);
  return resolved ? resolved->request_template->action() : "(none)"sv;
}

TEST(ResolutionTest, ApiGatewayMeanings) {
  EXPECT_EQ(GatewayActionOf("查询分组详情"), "DescribeApiGroup");
  EXPECT_EQ(GatewayActionOf("查询分组列表"), "DescribeApiGroups");
  EXPECT_EQ(GatewayActionOf("查询环境详情"), "DescribeApiStage");
  EXPECT_EQ(GatewayActionOf("删除Api"), "DeleteApi");
  EXPECT_EQ(GatewayActionOf("发布API"), "DeployApi");
  EXPECT_EQ(GatewayActionOf("切换环境"), "SwitchApi");
  EXPECT_EQ(GatewayActionOf("将环境API下线"), "AbolishApi");
  EXPECT_EQ(GatewayActionOf("查询API历史版本"), "DescribeApiHistories");
  EXPECT_EQ(GatewayActionOf("查询API响应数据"), "DescribeApiLatencyData");
  EXPECT_EQ(GatewayActionOf("查询流控策略"), "DescribeTrafficControls");
  EXPECT_EQ(GatewayActionOf("解除签名"), "RemoveSignatureApis");
  EXPECT_EQ(GatewayActionOf("查询签名"), "DescribeSignatures");
  EXPECT_EQ(GatewayActionOf("查询APP列表"), "DescribeAppAttributes");
  EXPECT_EQ(GatewayActionOf("删除应用"), "DeleteApp");
  EXPECT_EQ(GatewayActionOf("给APP添加多个API"), "SetApisAuthorities");
  EXPECT_EQ(GatewayActionOf("撤销多个APP权限"), "RemoveAppsAuthorities");
  EXPECT_EQ(GatewayActionOf("查询区域列表"), "DescribeRegions");
  EXPECT_EQ(GatewayActionOf("查询参数列表"), "DescribeSystemParameters");
}

TEST(ResolutionTest, LookupByServiceAndName) {
  auto ecs_userdata = ResolveActionName(kEcsService, "describeuserdata");
  ASSERT_TRUE(ecs_userdata.has_value());
  EXPECT_EQ(ecs_userdata->category_number, 1u);
  EXPECT_EQ(ecs_userdata->action_number, 15u);
  EXPECT_EQ(ResolveActionName(kEcsService, "DescribeUserData"), ecs_userdata);
  EXPECT_EQ(ResolveActionName(kEcsService, "attachinstanceramrole")->action_name,
            "AttachInstanceRamRole");
  EXPECT_FALSE(ResolveActionName(kEcsService, "").has_value());
  EXPECT_FALSE(ResolveActionName(kEcsService, "DescribeInstance").has_value());
  // Templates outside the browsing lists are reachable by name.
  auto vpc = ResolveActionName(kEcsService, "CreateVpc");
  ASSERT_TRUE(vpc.has_value());
  EXPECT_EQ(vpc->category_number, 7u);
  EXPECT_EQ(vpc->action_number, 1u);

  // The same action name in another service is that service's template.
  auto ecs_regions = ResolveActionName(kEcsService, "DescribeRegions");
  auto gateway_regions = ResolveActionName(kApiGatewayService, "describeregions");
  ASSERT_TRUE(ecs_regions && gateway_regions);
  EXPECT_EQ(ecs_regions->service, kEcsService);
  EXPECT_EQ(ecs_regions->category_number, 11u);
  EXPECT_EQ(gateway_regions->service, kApiGatewayService);
  EXPECT_EQ(gateway_regions->category_number, 8u);
  EXPECT_EQ(gateway_regions->action_number, 1u);
  EXPECT_FALSE(ResolveActionName(kIotService, "DescribeRegions").has_value());
  EXPECT_FALSE(ResolveActionName(4, "DescribeRegions").has_value());
  EXPECT_FALSE(ResolveActionName(0, "DescribeRegions").has_value());

  auto apply = ResolveActionName(kIotService, "queryapplystatus");
  ASSERT_TRUE(apply.has_value());
  EXPECT_EQ(apply->action_number, 7u);
  auto register_device = ResolveActionName(kIotService, "设备注册");
  ASSERT_TRUE(register_device.has_value());
  EXPECT_EQ(register_device->request_template->action(), "RegistDevice");
  EXPECT_FALSE(ResolveActionName(kEcsService, "设备注册").has_value());
  EXPECT_FALSE(ResolveActionName(kIotService, "查询分组详情").has_value());
}

TEST(ResolutionTest, EveryTemplateIsFoundByItsOwnName) {
  // Also proves the action names are unique per service without regard to case.
  for (const RequestTemplate& entry : Templates()) {
    const std::string lower = core::LowerAscii(entry.action());
    std::optional<ResolvedAction> resolved = ResolveActionName(entry.service, lower);
    ASSERT_TRUE(resolved.has_value()) << entry.action();
    EXPECT_EQ(resolved->request_template, &entry) << entry.action();
    EXPECT_EQ(*resolved, ResolveTemplate(entry));
  }
}

// ---------------------------------------------------------------------------
// Form captions

Strings CaptionsOf(unsigned service, std::string_view action) {
  std::optional<ResolvedAction> resolved = ResolveActionName(service, action);
  if (!resolved) return {"(not sendable)"};
  return Entries(DisplayCaptions(*resolved));
}

TEST(DisplayCaptionsTest, EcsCaptions) {
  EXPECT_EQ(CaptionsOf(kEcsService, "DescribeInstances"), (Strings{"RegionId:"}));
  EXPECT_EQ(CaptionsOf(kEcsService, "RunInstances"),
            (Strings{"Region ID:", "镜像文件ID:", "InstanceType:"}));
  EXPECT_EQ(CaptionsOf(kEcsService, "DescribeTaskAttribute"), (Strings{"地域:", "任务Id:"}));
  EXPECT_EQ(CaptionsOf(kEcsService, "DescribeRegions"), (Strings{}));
  // Actions whose captions were once missing or did not line up.
  EXPECT_EQ(CaptionsOf(kEcsService, "ResizeDisk"), (Strings{"DiskId:", "NewSize:"}));
  EXPECT_EQ(CaptionsOf(kEcsService, "ReleaseEipAddress"), (Strings{"EIPid:", "实例Id:"}));
  EXPECT_EQ(CaptionsOf(kEcsService, "ImportImage"),
            (Strings{"RegionId:", "OSS.Bucket:", "OSS.Object.key:"}));
  EXPECT_EQ(DisplayCaptions(ResolvedAction{}).Count(), 0u);
}

// One caption per parameter is the build's own check of the records; the
// other services caption each field with its parameter's name.
TEST(DisplayCaptionsTest, IotAndApiGatewayShowTheParameterNames) {
  EXPECT_EQ(CaptionsOf(kIotService, "QueryApplyStatus"), (Strings{"ApplyId"}));
  EXPECT_EQ(CaptionsOf(kApiGatewayService, "查询分组详情"), (Strings{"GroupId"}));
}

}  // namespace
}  // namespace kestrune::catalogue
