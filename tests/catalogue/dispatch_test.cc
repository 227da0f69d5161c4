#include "catalogue/dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "request/query.h"

namespace kestrune::catalogue {
namespace {

using Strings = std::vector<std::string>;

constexpr std::string_view kSampleId = "2d3ced841a184af9bdd9f49e6a2c4523";

// Unwraps a served, successful binding; fails the test otherwise.
BoundRequest Served(const std::optional<core::Result<BoundRequest>>& dispatched) {
  if (!dispatched.has_value()) {
    ADD_FAILURE() << "not served";
    return {};
  }
  if (!dispatched->ok()) {
    ADD_FAILURE() << dispatched->status().message();
    return {};
  }
  return dispatched->value();
}

BoundRequest Bound(const core::Result<BoundRequest>& result) {
  if (!result.ok()) {
    ADD_FAILURE() << result.status().message();
    return {};
  }
  return result.value();
}

// The values of a form whose field k holds the template's parameter k (an
// empty text given, and empty); fields past the template's are left out.
ParameterValues ValuesFor(const RequestTemplate* entry,
                          std::initializer_list<std::string_view> fields) {
  ParameterValues values;
  if (entry == nullptr) return values;
  std::size_t k = 1;
  for (std::string_view field : fields) {
    if (k > entry->parameter_count()) break;
    values.Add(entry->parameter_names().Entry(k++), field);
  }
  return values;
}

// The same for the ECS template a pair dispatches to.
ParameterValues EcsValues(unsigned category, unsigned action,
                          std::initializer_list<std::string_view> fields) {
  std::optional<core::Result<BoundRequest>> bare = DispatchCategory(category, action, {});
  return ValuesFor(bare && bare->ok() ? bare->value().request_template : nullptr, fields);
}

// Every parameter gets a distinct value, so a binding at the wrong place shows.
ParameterValues Numbered(const RequestTemplate* entry) {
  return ValuesFor(
      entry, {"v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9", "v10", "v11", "v12", "v13"});
}

const RequestTemplate& GatewayTemplate(std::string_view action) {
  auto resolved = ResolveActionName(kApiGatewayService, action);
  EXPECT_TRUE(resolved.has_value()) << action;
  return *resolved->request_template;
}

// ---------------------------------------------------------------------------
// Values

TEST(ParameterValuesTest, ByNameInTheOrderGiven) {
  ParameterValues values;
  values.Set("RegionId", "");
  values.Set("PageSize", "10");
  values.Set("RegionId", "cn-beijing");  // in its first place
  EXPECT_EQ(values.Get("RegionId"), std::optional<std::string_view>("cn-beijing"));
  EXPECT_FALSE(values.Get("PageNumber").has_value());
  values.Add("PageSize", std::nullopt);
  values.Erase("PageSize");
  EXPECT_EQ(values.entries(), (std::vector<NamedValue>{{"RegionId", "cn-beijing"}}));
}

TEST(ParameterValuesTest, FormFieldsGiveTheirParametersNonEmptyOnes) {
  const RequestTemplate& apps = GatewayTemplate("DescribeApps");  // AppId Desc Stage Stage
  const std::vector<std::string_view> fields = {"app-1", "", "", "TEST", "ignored"};
  const std::vector<std::pair<std::string_view, std::string_view>> pairs = {{"PageSize", "5"}};
  core::Result<ParameterValues> values = ParameterValues::FromForm(&apps, fields, pairs);
  ASSERT_TRUE(values.ok());
  // The name held twice keeps a place for each field, the empty one too.
  EXPECT_EQ(values->entries(), (std::vector<NamedValue>{{"AppId", "app-1"},
                                                        {"StageName", std::nullopt},
                                                        {"StageName", "TEST"},
                                                        {"PageSize", "5"}}));
  EXPECT_EQ(Bound(BindTemplate(apps, *values)).parameters,
            (Strings{"Action=DescribeApps", "AppId=app-1", "StageName=TEST", "PageSize=5"}));
  const std::vector<std::pair<std::string_view, std::string_view>> nameless = {{"", "v"}};
  EXPECT_FALSE(ParameterValues::FromForm(&apps, fields, nameless).ok());
}

// ---------------------------------------------------------------------------
// ECS dispatch

TEST(DispatchCategoryTest, DescribeInstancesBindsSlotOne) {
  BoundRequest bound = Served(DispatchCategory(1, 9, EcsValues(1, 9, {"cn-beijing"})));
  EXPECT_EQ(bound.action_line, "Action=DescribeInstances");
  EXPECT_EQ(bound.parameters, (Strings{"Action=DescribeInstances", "RegionId=cn-beijing"}));
  EXPECT_EQ(bound.category_number, 1u);
  EXPECT_EQ(bound.action_number, 9u);

  // A blank field is not sent; an explicitly empty value is.
  BoundRequest empty = Served(DispatchCategory(1, 9, ParameterValues{}));
  EXPECT_EQ(empty.parameters, (Strings{"Action=DescribeInstances"}));
  EXPECT_EQ(Served(DispatchCategory(1, 9, EcsValues(1, 9, {""}))).parameters,
            (Strings{"Action=DescribeInstances", "RegionId="}));
}

TEST(DispatchCategoryTest, RegionActionsFromCategoriesElevenAndTwentyFour) {
  BoundRequest from24 = Served(DispatchCategory(24, 1, EcsValues(24, 1, {"cn-beijing"})));
  BoundRequest from11 = Served(DispatchCategory(11, 1, ParameterValues{}));
  EXPECT_EQ(from24.parameters, (Strings{"Action=DescribeRegions"}));
  EXPECT_EQ(from11.parameters, from24.parameters);
  EXPECT_EQ(from24.category_number, 24u);

  BoundRequest zones = Served(DispatchCategory(11, 2, EcsValues(11, 2, {"cn-beijing"})));
  EXPECT_EQ(zones.parameters, (Strings{"Action=DescribeZones", "RegionId=cn-beijing"}));
  EXPECT_EQ(Served(DispatchRegionAction(2, EcsValues(11, 2, {"cn-beijing"}))).parameters,
            zones.parameters);
}

TEST(DispatchCategoryTest, TypesAndTasksFromCategoriesFourteenToSixteen) {
  BoundRequest task = Served(DispatchCategory(16, 4, EcsValues(16, 4, {"cn-hangzhou", "t-42"})));
  EXPECT_EQ(task.parameters,
            (Strings{"Action=DescribeTaskAttribute", "RegionId=cn-hangzhou", "TaskId=t-42"}));
  for (unsigned category : {14u, 15u}) {
    EXPECT_EQ(Served(DispatchCategory(category, 4, EcsValues(category, 4, {"cn-hangzhou", "t-42"})))
                  .parameters,
              task.parameters);
  }
  EXPECT_EQ(Served(DispatchCategory(14, 1, EcsValues(14, 1, {"ignored"}))).parameters,
            (Strings{"Action=DescribeInstanceTypes"}));
  EXPECT_EQ(Served(DispatchTypesAndTasksAction(5, EcsValues(16, 5, {"r", "t"}))).parameters,
            (Strings{"Action=CancelTask", "RegionId=r", "TaskId=t"}));
}

TEST(DispatchCategoryTest, UnservedPairsGiveNothing) {
  ParameterValues values;
  values.Set("RegionId", "a");
  EXPECT_FALSE(DispatchCategory(1, 0, values).has_value());
  EXPECT_FALSE(DispatchCategory(1, 18, values).has_value());
  EXPECT_FALSE(DispatchCategory(24, 3, values).has_value());
  EXPECT_FALSE(DispatchCategory(11, 3, values).has_value());
  EXPECT_FALSE(DispatchCategory(16, 6, values).has_value());
  EXPECT_FALSE(DispatchCategory(2, 11, values).has_value());
  for (unsigned category : {0u, 17u, 18u, 19u, 20u, 21u, 22u, 23u, 25u, 26u, 27u, ~0u}) {
    EXPECT_FALSE(DispatchCategory(category, 1, values).has_value()) << category;
  }
  EXPECT_FALSE(DispatchInstanceAction(18, values).has_value());
  EXPECT_FALSE(DispatchRegionAction(3, values).has_value());
  EXPECT_FALSE(DispatchTypesAndTasksAction(0, values).has_value());
}

Strings ExpectedNumbered(const RequestTemplate& entry) {
  Strings expected = {"Action=" + std::string(entry.action())};
  for (std::size_t k = 1; k <= entry.parameter_count(); ++k) {
    expected.push_back(std::string(entry.parameter_names().Entry(k)) + "=v" + std::to_string(k));
  }
  return expected;
}

TEST(DispatchCategoryTest, InstanceTableBindsSlotKToParameterK) {
  const std::vector<std::size_t> counts = {4, 4, 2, 2, 2, 2, 3, 2, 2, 2, 3, 3, 3, 4, 3, 2, 3};
  for (unsigned action = 1; action <= 17; ++action) {
    BoundRequest bound =
        Served(DispatchCategory(1, action, Numbered(FindTemplate(kEcsService, 1, action))));
    ASSERT_NE(bound.request_template, nullptr);
    EXPECT_EQ(bound.parameters.size(), counts[action - 1]) << action;
    EXPECT_EQ(bound.parameters, ExpectedNumbered(*bound.request_template)) << action;
  }
  EXPECT_EQ(Served(DispatchCategory(1, 15, Numbered(FindTemplate(kEcsService, 1, 15)))).parameters,
            (Strings{"Action=DescribeUserdata", "RegionId=v1", "InstanceId=v2"}));
  EXPECT_EQ(Served(DispatchCategory(1, 14, Numbered(FindTemplate(kEcsService, 1, 14)))).parameters,
            (Strings{"Action=ModifyInstanceVncPasswd", "RegionId=v1", "InstanceId=v2",
                     "VncPassword=v3"}));
}

TEST(DispatchCategoryTest, EveryEcsTemplateIsReachedThroughItsResolvedPair) {
  for (const RequestTemplate& entry : Templates()) {
    if (entry.service != kEcsService) continue;
    ResolvedAction resolved = ResolveTemplate(entry);
    BoundRequest bound = Served(
        DispatchCategory(resolved.category_number, resolved.action_number, Numbered(&entry)));
    EXPECT_EQ(bound.request_template, &entry) << entry.action();
    EXPECT_EQ(bound.parameters, ExpectedNumbered(entry)) << entry.action();
  }
  // The largest: seven bound values.
  EXPECT_EQ(
      Served(DispatchCategory(13, 9, Numbered(FindTemplate(kEcsService, 13, 9)))).parameters.size(),
      8u);
}

TEST(DispatchCategoryTest, TwoCallsDoNotMix) {
  const std::string long_value(150, 'x');
  BoundRequest first =
      Served(DispatchCategory(1, 14, EcsValues(1, 14, {long_value, "i-1", "secret"})));
  BoundRequest second = Served(DispatchCategory(1, 3, EcsValues(1, 3, {"i-2"})));
  EXPECT_EQ(second.parameters, (Strings{"Action=StartInstance", "InstanceId=i-2"}));
  EXPECT_EQ(second.action_line, "Action=StartInstance");
  EXPECT_EQ(first.parameters[1], "RegionId=" + long_value);
}

TEST(DispatchCategoryTest, OverlongParameterIsRefusedNeverCut) {
  // "RegionId=" is 9 characters; the longest item allowed is one short of the limit.
  const std::size_t most = request::kItemLimit - 1 - 9;
  BoundRequest fits = Served(DispatchCategory(1, 9, EcsValues(1, 9, {std::string(most, 'r')})));
  EXPECT_EQ(fits.parameters[1].size(), request::kItemLimit - 1);

  auto refused = DispatchCategory(1, 9, EcsValues(1, 9, {std::string(most + 1, 'r')}));
  ASSERT_TRUE(refused.has_value());
  ASSERT_FALSE(refused->ok());
  EXPECT_NE(refused->status().message().find("RegionId"), std::string::npos);
  EXPECT_NE(refused->status().message().find(std::to_string(request::kItemLimit)),
            std::string::npos);
}

// ---------------------------------------------------------------------------
// IoT and API Gateway templates

TEST(BindTemplateTest, IotQueryApplyStatusSendsWhatIsGiven) {
  const RequestTemplate* apply = FindTemplate(kIotService, 1, 7);
  ASSERT_NE(apply, nullptr);
  BoundRequest bound = Bound(BindTemplate(*apply));
  EXPECT_EQ(bound.parameters, (Strings{"Action=QueryApplyStatus"}));
  EXPECT_EQ(bound.action_line, "Action=QueryApplyStatus");
  EXPECT_EQ(bound.service, kIotService);
  EXPECT_EQ(bound.action_number, 7u);
  EXPECT_EQ(Bound(BindTemplate(*apply, ValuesFor(apply, {"apply-9"}))).parameters,
            (Strings{"Action=QueryApplyStatus", "ApplyId=apply-9"}));
}

TEST(BindTemplateTest, CreateApiAndModifyApiTakeAllThirteenValuesInOneRequest) {
  for (std::string_view action : {"CreateApi", "ModifyApi"}) {
    const RequestTemplate& entry = GatewayTemplate(action);
    BoundRequest bound = Bound(BindTemplate(entry, Numbered(&entry)));
    EXPECT_EQ(bound.parameters, ExpectedNumbered(entry)) << action;
    auto list = ToActionParameters(bound);
    ASSERT_TRUE(list.ok()) << list.status().message();
    EXPECT_EQ(list->items(), bound.parameters);
  }
  // ModifyApi names ResultType and ResultSample twice: each at its own place.
  const RequestTemplate& modify_api = GatewayTemplate("ModifyApi");
  BoundRequest modify = Bound(BindTemplate(modify_api, Numbered(&modify_api)));
  EXPECT_EQ(modify.parameters[7], "ResultType=v7");
  EXPECT_EQ(modify.parameters[13], "ResultSample=v13");
}

// No template sends a value the user did not give: the stored samples are
// hints only.
TEST(BindTemplateTest, NoTemplateSendsAStoredValue) {
  for (const RequestTemplate& entry : Templates()) {
    auto bound = BindTemplate(entry);
    ASSERT_TRUE(bound.ok()) << entry.action() << ": " << bound.status().message();
    EXPECT_EQ(bound->parameters, Strings{"Action=" + std::string(entry.action())});
  }
  const RequestTemplate& deploy = GatewayTemplate("DeployApi");  // GroupId ApiId StageName Desc
  ParameterValues values;
  values.Set("ApiId", "api-7");
  values.Set("Description", "");  // given, and empty
  EXPECT_EQ(Bound(BindTemplate(deploy, values)).parameters,
            (Strings{"Action=DeployApi", "ApiId=api-7", "Description="}));
  // A repeated name is bound at each of its own positions.
  const RequestTemplate& deployed = GatewayTemplate("DescribeDeployedApis");
  EXPECT_EQ(
      Bound(BindTemplate(deployed, ValuesFor(&deployed, {"RELEASE", "api-1", "TEST"}))).parameters,
      (Strings{"Action=DescribeDeployedApis", "StageName=RELEASE", "ApiId=api-1",
               "StageName=TEST"}));
}

TEST(SendApiGatewayOtherTest, RegionsAndSystemParameters) {
  BoundRequest regions = Served(SendApiGatewayOther(1));
  EXPECT_EQ(regions.parameters, (Strings{"Action=DescribeRegions"}));
  EXPECT_EQ(regions.action_line, "Action=DescribeRegions");
  EXPECT_EQ(regions.service, kApiGatewayService);
  EXPECT_EQ(regions.category_number, 8u);
  BoundRequest parameters = Served(SendApiGatewayOther(2));
  EXPECT_EQ(parameters.parameters, (Strings{"Action=DescribeSystemParameters"}));
  EXPECT_FALSE(SendApiGatewayOther(0).has_value());
  EXPECT_FALSE(SendApiGatewayOther(3).has_value());
}

// ---------------------------------------------------------------------------
// The front ends' entry

TEST(BindResolvedTest, RoutesEachServiceItsWay) {
  auto userdata = ResolveBrowsingEntry(0, 0, 14);  // DescribeUserData
  ASSERT_TRUE(userdata.has_value());
  BoundRequest ecs =
      Served(BindResolved(*userdata, ValuesFor(userdata->request_template, {"cn-qingdao", "i-5"})));
  EXPECT_EQ(ecs.parameters,
            (Strings{"Action=DescribeUserdata", "RegionId=cn-qingdao", "InstanceId=i-5"}));
  EXPECT_EQ(ecs.category_number, 1u);
  EXPECT_EQ(ecs.action_number, 15u);

  auto group_details = ResolveBrowsingEntry(2, 0, 5);  // 查询分组详情
  ASSERT_TRUE(group_details.has_value());
  BoundRequest gateway =
      Served(BindResolved(*group_details, ValuesFor(group_details->request_template, {"g-1"})));
  EXPECT_EQ(gateway.parameters, (Strings{"Action=DescribeApiGroup", "GroupId=g-1"}));
  EXPECT_EQ(gateway.category_number, 1u);
  EXPECT_EQ(gateway.action_number, 7u);

  auto device = ResolveBrowsingEntry(1, 0, 4);  // 设备注册
  ASSERT_TRUE(device.has_value());
  EXPECT_EQ(
      Served(BindResolved(*device, ValuesFor(device->request_template, {"pk", "dev"}))).parameters,
      (Strings{"Action=RegistDevice", "ProductKey=pk", "DeviceName=dev"}));

  EXPECT_FALSE(BindResolved(ResolvedAction{}, ParameterValues{}).has_value());
}

TEST(BindResolvedTest, FurtherParametersFollowInTheOrderGivenWhenTheirNamesAreSound) {
  auto instances = ResolveActionName(kEcsService, "DescribeInstances");
  auto role = ResolveBrowsingEntry(0, 0, 9);  // AttachInstanceRamRole: no template
  ASSERT_TRUE(instances && role);
  ParameterValues values;
  values.Set("PageSize", "50");
  values.Set("RegionId", "cn-hangzhou");
  values.Set("Tag.1.Key", "env");
  values.Set("Empty", "");
  EXPECT_EQ(Served(BindResolved(*instances, values)).parameters,
            (Strings{"Action=DescribeInstances", "RegionId=cn-hangzhou", "PageSize=50",
                     "Tag.1.Key=env", "Empty="}));
  BoundRequest untemplated = Served(BindResolved(*role, values));
  EXPECT_EQ(untemplated.parameters, (Strings{"Action=AttachInstanceRamRole", "PageSize=50",
                                             "RegionId=cn-hangzhou", "Tag.1.Key=env", "Empty="}));
  EXPECT_EQ(untemplated.action_line, "Action=AttachInstanceRamRole");

  for (const auto& [name, why] :
       std::vector<std::pair<std::string, std::string>>{{"RegionId", "given twice"},
                                                        {"Bad Name", "not a parameter name"},
                                                        {"Signature", "written by the request"},
                                                        {"Action", "written by the request"}}) {
    ParameterValues bad;
    bad.Set("RegionId", "cn-hangzhou");
    bad.Add(name, "x");
    auto refused = BindResolved(*instances, bad);
    ASSERT_TRUE(refused.has_value());
    ASSERT_FALSE(refused->ok()) << name;
    EXPECT_NE(refused->status().message().find(why), std::string::npos)
        << refused->status().message();
  }
}

// The stored placeholders of CreateApiGroup are never sent.
TEST(BindResolvedTest, CreateApiGroupSendsOnlyWhatTheUserGave) {
  auto create = ResolveBrowsingEntry(2, 0, 0);  // 创建API分组
  ASSERT_TRUE(create.has_value());
  EXPECT_EQ(Served(BindResolved(*create, ValuesFor(create->request_template, {"g"}))).parameters,
            (Strings{"Action=CreateApiGroup", "GroupName=g"}));
  EXPECT_EQ(Served(BindResolved(*create, ParameterValues{})).parameters,
            (Strings{"Action=CreateApiGroup"}));
}

TEST(ToActionParametersTest, CopiesInOrder) {
  BoundRequest bound = Served(DispatchCategory(13, 9, Numbered(FindTemplate(kEcsService, 13, 9))));
  auto list = ToActionParameters(bound);
  ASSERT_TRUE(list.ok()) << list.status().message();
  EXPECT_EQ(list->size(), 8u);
  EXPECT_EQ(list->items(), bound.parameters);
}

}  // namespace
}  // namespace kestrune::catalogue
