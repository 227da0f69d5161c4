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

ParameterValueSlots SlotsOf(std::initializer_list<std::string_view> values) {
  ParameterValueSlots slots;
  std::size_t k = 1;
  for (std::string_view value : values) EXPECT_TRUE(slots.Set(k++, value).ok());
  return slots;
}

const RequestTemplate& GatewayTemplate(std::string_view action) {
  auto resolved = ResolveActionName(kApiGatewayService, action);
  EXPECT_TRUE(resolved.has_value()) << action;
  return *resolved->request_template;
}

// ---------------------------------------------------------------------------
// Slots

TEST(ParameterValueSlotsTest, SlotsGivenOrNot) {
  constexpr std::size_t kLast = ParameterValueSlots::kCount;
  ParameterValueSlots slots;
  for (std::size_t k = 0; k <= kLast + 1; ++k) EXPECT_FALSE(slots.Get(k).has_value()) << k;
  EXPECT_FALSE(slots.Set(0, "x").ok());
  EXPECT_FALSE(slots.Set(kLast + 1, "x").ok());
  EXPECT_TRUE(slots.Set(kLast, "last").ok());
  EXPECT_TRUE(slots.Set(1, "").ok());
  EXPECT_EQ(slots.Get(kLast), std::optional<std::string_view>("last"));
  EXPECT_EQ(slots.Get(1), std::optional<std::string_view>(""));
  slots.Reset(1);
  EXPECT_FALSE(slots.Get(1).has_value());
  slots.Reset(kLast + 1);  // no effect, no fault
}

TEST(ParameterValueSlotsTest, FormFieldsGiveNonEmptySlotsOnly) {
  const std::vector<std::string_view> fields = {
      "cn-beijing", "", "i-1", "",       "",
      "",           "", "h8",  "ignored"};  // the ninth is the field of a ninth parameter
  ParameterValueSlots slots = ParameterValueSlots::FromFormFields(fields);
  EXPECT_EQ(slots.Get(1), std::optional<std::string_view>("cn-beijing"));
  EXPECT_FALSE(slots.Get(2).has_value());
  EXPECT_EQ(slots.Get(3), std::optional<std::string_view>("i-1"));
  EXPECT_EQ(slots.Get(8), std::optional<std::string_view>("h8"));
  EXPECT_EQ(slots.Get(9), std::optional<std::string_view>("ignored"));
  EXPECT_FALSE(slots.Get(10).has_value());
}

// ---------------------------------------------------------------------------
// ECS dispatch

TEST(DispatchCategoryTest, DescribeInstancesBindsSlotOne) {
  BoundRequest bound = Served(DispatchCategory(1, 9, SlotsOf({"cn-beijing"})));
  EXPECT_EQ(bound.action_line, "Action=DescribeInstances");
  EXPECT_EQ(bound.parameters, (Strings{"Action=DescribeInstances", "RegionId=cn-beijing"}));
  EXPECT_EQ(bound.category_number, 1u);
  EXPECT_EQ(bound.action_number, 9u);

  // A blank field is not sent; an explicitly empty value is.
  BoundRequest empty = Served(DispatchCategory(1, 9, ParameterValueSlots{}));
  EXPECT_EQ(empty.parameters, (Strings{"Action=DescribeInstances"}));
  EXPECT_EQ(Served(DispatchCategory(1, 9, SlotsOf({""}))).parameters,
            (Strings{"Action=DescribeInstances", "RegionId="}));
}

TEST(DispatchCategoryTest, RegionActionsFromCategoriesElevenAndTwentyFour) {
  BoundRequest from24 = Served(DispatchCategory(24, 1, SlotsOf({"cn-beijing"})));
  BoundRequest from11 = Served(DispatchCategory(11, 1, ParameterValueSlots{}));
  EXPECT_EQ(from24.parameters, (Strings{"Action=DescribeRegions"}));
  EXPECT_EQ(from11.parameters, from24.parameters);
  EXPECT_EQ(from24.category_number, 24u);

  BoundRequest zones = Served(DispatchCategory(11, 2, SlotsOf({"cn-beijing"})));
  EXPECT_EQ(zones.parameters, (Strings{"Action=DescribeZones", "RegionId=cn-beijing"}));
  EXPECT_EQ(Served(DispatchRegionAction(2, SlotsOf({"cn-beijing"}))).parameters, zones.parameters);
}

TEST(DispatchCategoryTest, TypesAndTasksFromCategoriesFourteenToSixteen) {
  BoundRequest task = Served(DispatchCategory(16, 4, SlotsOf({"cn-hangzhou", "t-42"})));
  EXPECT_EQ(task.parameters,
            (Strings{"Action=DescribeTaskAttribute", "RegionId=cn-hangzhou", "TaskId=t-42"}));
  for (unsigned category : {14u, 15u}) {
    EXPECT_EQ(Served(DispatchCategory(category, 4, SlotsOf({"cn-hangzhou", "t-42"}))).parameters,
              task.parameters);
  }
  EXPECT_EQ(Served(DispatchCategory(14, 1, SlotsOf({"ignored"}))).parameters,
            (Strings{"Action=DescribeInstanceTypes"}));
  EXPECT_EQ(Served(DispatchTypesAndTasksAction(5, SlotsOf({"r", "t"}))).parameters,
            (Strings{"Action=CancelTask", "RegionId=r", "TaskId=t"}));
}

TEST(DispatchCategoryTest, UnservedPairsGiveNothing) {
  const ParameterValueSlots slots = SlotsOf({"a", "b", "c"});
  EXPECT_FALSE(DispatchCategory(1, 0, slots).has_value());
  EXPECT_FALSE(DispatchCategory(1, 18, slots).has_value());
  EXPECT_FALSE(DispatchCategory(24, 3, slots).has_value());
  EXPECT_FALSE(DispatchCategory(11, 3, slots).has_value());
  EXPECT_FALSE(DispatchCategory(16, 6, slots).has_value());
  EXPECT_FALSE(DispatchCategory(2, 11, slots).has_value());
  for (unsigned category : {0u, 17u, 18u, 19u, 20u, 21u, 22u, 23u, 25u, 26u, 27u, ~0u}) {
    EXPECT_FALSE(DispatchCategory(category, 1, slots).has_value()) << category;
  }
  EXPECT_FALSE(DispatchInstanceAction(18, slots).has_value());
  EXPECT_FALSE(DispatchRegionAction(3, slots).has_value());
  EXPECT_FALSE(DispatchTypesAndTasksAction(0, slots).has_value());
}

// Every slot gets a distinct value, so a binding from the wrong slot shows.
const ParameterValueSlots kNumberedSlots =
    SlotsOf({"v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8"});

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
    BoundRequest bound = Served(DispatchCategory(1, action, kNumberedSlots));
    ASSERT_NE(bound.request_template, nullptr);
    EXPECT_EQ(bound.parameters.size(), counts[action - 1]) << action;
    EXPECT_EQ(bound.parameters, ExpectedNumbered(*bound.request_template)) << action;
  }
  EXPECT_EQ(Served(DispatchCategory(1, 15, kNumberedSlots)).parameters,
            (Strings{"Action=DescribeUserdata", "RegionId=v1", "InstanceId=v2"}));
  EXPECT_EQ(Served(DispatchCategory(1, 14, kNumberedSlots)).parameters,
            (Strings{"Action=ModifyInstanceVncPasswd", "RegionId=v1", "InstanceId=v2",
                     "VncPassword=v3"}));
}

TEST(DispatchCategoryTest, EveryEcsTemplateIsReachedThroughItsResolvedPair) {
  for (const RequestTemplate& entry : Templates()) {
    if (entry.service != kEcsService) continue;
    ResolvedAction resolved = ResolveTemplate(entry);
    BoundRequest bound =
        Served(DispatchCategory(resolved.category_number, resolved.action_number, kNumberedSlots));
    EXPECT_EQ(bound.request_template, &entry) << entry.action();
    EXPECT_EQ(bound.parameters, ExpectedNumbered(entry)) << entry.action();
  }
  // The largest: seven bound values.
  EXPECT_EQ(Served(DispatchCategory(13, 9, kNumberedSlots)).parameters.size(), 8u);
}

TEST(DispatchCategoryTest, TwoCallsDoNotMix) {
  const std::string long_value(150, 'x');
  BoundRequest first = Served(DispatchCategory(1, 14, SlotsOf({long_value, "i-1", "secret"})));
  BoundRequest second = Served(DispatchCategory(1, 3, SlotsOf({"i-2"})));
  EXPECT_EQ(second.parameters, (Strings{"Action=StartInstance", "InstanceId=i-2"}));
  EXPECT_EQ(second.action_line, "Action=StartInstance");
  EXPECT_EQ(first.parameters[1], "RegionId=" + long_value);
}

TEST(DispatchCategoryTest, OverlongParameterIsRefusedNeverCut) {
  // "RegionId=" is 9 characters; the longest item allowed is one short of the limit.
  const std::size_t most = request::kItemLimit - 1 - 9;
  BoundRequest fits = Served(DispatchCategory(1, 9, SlotsOf({std::string(most, 'r')})));
  EXPECT_EQ(fits.parameters[1].size(), request::kItemLimit - 1);

  auto refused = DispatchCategory(1, 9, SlotsOf({std::string(most + 1, 'r')}));
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
  EXPECT_EQ(Bound(BindTemplate(*apply, SlotsOf({"apply-9"}))).parameters,
            (Strings{"Action=QueryApplyStatus", "ApplyId=apply-9"}));
}

// Thirteen numbered values: every slot of the longest template.
const ParameterValueSlots kAllSlots =
    SlotsOf({"v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9", "v10", "v11", "v12", "v13"});

TEST(BindTemplateTest, CreateApiAndModifyApiTakeAllThirteenValuesInOneRequest) {
  for (std::string_view action : {"CreateApi", "ModifyApi"}) {
    const RequestTemplate& entry = GatewayTemplate(action);
    BoundRequest bound = Bound(BindTemplate(entry, kAllSlots));
    EXPECT_EQ(bound.parameters, ExpectedNumbered(entry)) << action;
    auto list = ToActionParameters(bound);
    ASSERT_TRUE(list.ok()) << list.status().message();
    EXPECT_EQ(list->items(), bound.parameters);
  }
  // ModifyApi names ResultType and ResultSample twice: each at its own place.
  BoundRequest modify = Bound(BindTemplate(GatewayTemplate("ModifyApi"), kAllSlots));
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
  ParameterValueSlots slots;
  ASSERT_TRUE(slots.Set(2, "api-7").ok());
  ASSERT_TRUE(slots.Set(4, "").ok());  // given, and empty
  EXPECT_EQ(Bound(BindTemplate(deploy, slots)).parameters,
            (Strings{"Action=DeployApi", "ApiId=api-7", "Description="}));
  // A repeated name is bound at each of its own positions.
  EXPECT_EQ(Bound(BindTemplate(GatewayTemplate("DescribeDeployedApis"),
                               SlotsOf({"RELEASE", "api-1", "TEST"})))
                .parameters,
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
  BoundRequest ecs = Served(BindResolved(*userdata, SlotsOf({"cn-qingdao", "i-5"})));
  EXPECT_EQ(ecs.parameters,
            (Strings{"Action=DescribeUserdata", "RegionId=cn-qingdao", "InstanceId=i-5"}));
  EXPECT_EQ(ecs.category_number, 1u);
  EXPECT_EQ(ecs.action_number, 15u);

  auto group_details = ResolveBrowsingEntry(2, 0, 5);  // 查询分组详情
  ASSERT_TRUE(group_details.has_value());
  BoundRequest gateway = Served(BindResolved(*group_details, SlotsOf({"g-1"})));
  EXPECT_EQ(gateway.parameters, (Strings{"Action=DescribeApiGroup", "GroupId=g-1"}));
  EXPECT_EQ(gateway.category_number, 1u);
  EXPECT_EQ(gateway.action_number, 7u);

  auto device = ResolveBrowsingEntry(1, 0, 4);  // 设备注册
  ASSERT_TRUE(device.has_value());
  EXPECT_EQ(Served(BindResolved(*device, SlotsOf({"pk", "dev"}))).parameters,
            (Strings{"Action=RegistDevice", "ProductKey=pk", "DeviceName=dev"}));

  EXPECT_FALSE(BindResolved(ResolvedAction{}, ParameterValueSlots{}).has_value());
}

TEST(BindResolvedTest, FurtherParametersFollowInTheOrderGivenWhenTheirNamesAreSound) {
  auto instances = ResolveActionName(kEcsService, "DescribeInstances");
  auto role = ResolveBrowsingEntry(0, 0, 9);  // AttachInstanceRamRole: no template
  ASSERT_TRUE(instances && role);
  ParameterValueSlots slots = SlotsOf({"cn-hangzhou"});
  slots.AddExtra("PageSize", "50");
  slots.AddExtra("Tag.1.Key", "env");
  slots.AddExtra("Empty", "");
  EXPECT_EQ(Served(BindResolved(*instances, slots)).parameters,
            (Strings{"Action=DescribeInstances", "RegionId=cn-hangzhou", "PageSize=50",
                     "Tag.1.Key=env", "Empty="}));
  BoundRequest untemplated = Served(BindResolved(*role, slots));
  EXPECT_EQ(untemplated.parameters,
            (Strings{"Action=AttachInstanceRamRole", "PageSize=50", "Tag.1.Key=env", "Empty="}));
  EXPECT_EQ(untemplated.action_line, "Action=AttachInstanceRamRole");

  for (const auto& [name, why] :
       std::vector<std::pair<std::string, std::string>>{{"RegionId", "given twice"},
                                                        {"Bad Name", "not a parameter name"},
                                                        {"Signature", "written by the request"},
                                                        {"Action", "written by the request"}}) {
    ParameterValueSlots bad = SlotsOf({"cn-hangzhou"});
    bad.AddExtra(name, "x");
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
  EXPECT_EQ(Served(BindResolved(*create, SlotsOf({"g"}))).parameters,
            (Strings{"Action=CreateApiGroup", "GroupName=g"}));
  EXPECT_EQ(Served(BindResolved(*create, ParameterValueSlots{})).parameters,
            (Strings{"Action=CreateApiGroup"}));
}

TEST(ToActionParametersTest, CopiesInOrder) {
  BoundRequest bound = Served(DispatchCategory(13, 9, kNumberedSlots));
  auto list = ToActionParameters(bound);
  ASSERT_TRUE(list.ok()) << list.status().message();
  EXPECT_EQ(list->size(), 8u);
  EXPECT_EQ(list->items(), bound.parameters);
}

}  // namespace
}  // namespace kestrune::catalogue
