#include "catalogue/parameters.h"

#include <gtest/gtest.h>

#include "catalogue/action_kind.h"

namespace kestrune::catalogue {
namespace {

// Facts read by hand from the vendor's metadata for these API versions.
TEST(KnownParameters, HoldTheMetadataFacts) {
  const auto stop = KnownParameters(kEcsService, "StopInstance");
  ASSERT_TRUE(stop);
  ASSERT_EQ(stop->size(), 6U);
  EXPECT_EQ((*stop)[2].name, "ForceStop");
  EXPECT_EQ((*stop)[2].type, ParameterType::kBoolean);
  EXPECT_EQ((*stop)[4].name, "InstanceId");
  EXPECT_TRUE((*stop)[4].required);

  const auto apis = KnownParameters(kApiGatewayService, "DescribeApis");
  ASSERT_TRUE(apis);
  ASSERT_EQ(apis->size(), 13U);
  EXPECT_EQ((*apis)[8].name, "PageSize");
  EXPECT_EQ((*apis)[8].type, ParameterType::kInteger);
  EXPECT_EQ((*apis)[10].name, "Tag");
  EXPECT_EQ((*apis)[10].type, ParameterType::kRepeatList);
  ASSERT_EQ((*apis)[10].members.size(), 2U);
  EXPECT_EQ((*apis)[10].members[1].name, "Value");

  const auto describe = KnownParameters(kEcsService, "DescribeInstances");
  ASSERT_TRUE(describe);
  EXPECT_EQ(describe->size(), 45U);
  EXPECT_FALSE(KnownParameters(kEcsService, "NoSuchAction"));
}

// What the user gave -> what is sent, or the start of the refusal.
TEST(CheckBoundParameters, ExpandsOrRefusesWithOneLine) {
  struct Case {
    const char* action;
    std::vector<std::string> given;
    bool force;
    std::vector<std::string> sent;  // empty: refused
    std::string refusal;
  };
  const std::vector<Case> cases = {
      {"DescribeInstances",
       {"RegionId=r", "Staus=Running"},
       false,
       {},
       "DescribeInstances has no parameter \"Staus\"; did you mean Status?"},
      {"DescribeInstances",
       {"RegionId=r", "Staus=Running"},
       true,
       {"RegionId=r", "Staus=Running"},
       ""},
      {"StopInstance", {}, true, {}, "StopInstance needs InstanceId (String)"},
      {"DescribeInstances",
       {"RegionId=r", "PageSize=ten"},
       false,
       {},
       "DescribeInstances: PageSize must be an Integer"},
      {"DeleteInstance",
       {"InstanceId=i", "Force=yes"},
       false,
       {},
       "DeleteInstance: Force must be a Boolean"},
      {"DescribeInstances",
       {"RegionId=r", "PageSize=", "InstanceIds=[\"i-1\",\"i-2\"]"},
       false,
       {"RegionId=r", "PageSize=", "InstanceIds=[\"i-1\",\"i-2\"]"},
       ""},
      {"DescribeInstances",
       {"RegionId=r", "Tag=[{\"Key\":\"a\",\"Value\":\"b\"},{\"Key\":\"c\"}]"},
       false,
       {"RegionId=r", "Tag.1.Key=a", "Tag.1.Value=b", "Tag.2.Key=c"},
       ""},
      {"DescribeInstances",
       {"RegionId=r", "Tag.1.Key=a", "Tag.1.Kee=b"},
       false,
       {},
       "DescribeInstances has no parameter \"Tag.1.Kee\""},
      {"DescribeInstances",
       {"RegionId=r", "Tag={\"Key\":\"a\"}"},
       false,
       {},
       "DescribeInstances: Tag is a list"},
      {"DescribeInstances",
       {"RegionId=r", "Tag.101.Key=a"},
       false,
       {},
       "DescribeInstances: Tag.101.Key: Tag takes at most 100 items"},
      {"DescribeInstances",
       {"RegionId=r", "Tag=[{\"Key\":\"a\"}]", "Tag.1.Key=b"},
       false,
       {},
       "parameter Tag.1.Key is given twice"},
      {"DescribeInstances",
       {"RegionId=r", "AdditionalAttributes=[\"a\",{\"b\":1}]"},
       false,
       {},
       "DescribeInstances: item 2 of AdditionalAttributes is not a plain value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given.empty() ? c.action : c.given.back());
    ResolvedAction action;
    action.service = kEcsService;
    action.action_name = c.action;
    BoundRequest bound;
    bound.parameters = {"Action=" + std::string(c.action)};
    bound.parameters.insert(bound.parameters.end(), c.given.begin(), c.given.end());
    const std::vector<std::string> before = bound.parameters;
    const core::Status status = CheckBoundParameters(action, bound, c.force);
    if (c.sent.empty()) {
      ASSERT_FALSE(status.ok());
      EXPECT_EQ(status.message().rfind(c.refusal, 0), 0U) << status.message();
      EXPECT_EQ(bound.parameters, before);
    } else {
      ASSERT_TRUE(status.ok()) << status.message();
      std::vector<std::string> sent = {"Action=" + std::string(c.action)};
      sent.insert(sent.end(), c.sent.begin(), c.sent.end());
      EXPECT_EQ(bound.parameters, sent);
    }
  }
  // A list past 100 items given as one array.
  std::string many = "[";
  for (int i = 0; i < 101; ++i) many += (i == 0 ? "\"x\"" : ",\"x\"");
  ResolvedAction action{kEcsService, 0, 0, nullptr, "DescribeInstances"};
  BoundRequest bound;
  bound.parameters = {"Action=DescribeInstances", "RegionId=r",
                      "AdditionalAttributes=" + many + "]"};
  EXPECT_FALSE(CheckBoundParameters(action, bound, false).ok());
}

// IoT's lists are of a newer API version: a name they lack is sent, and a
// parameter they require is required only when the older template names it.
TEST(CheckBoundParameters, IotListsCheckTypesButNotNames) {
  const ResolvedAction create = ResolveActionName(kIotService, "CreateProduct").value();
  BoundRequest bound;
  bound.parameters = {"Action=CreateProduct", "Name=lamp", "CatId=1"};
  EXPECT_TRUE(CheckBoundParameters(create, bound, false).ok());  // no ProductName, NodeType
  EXPECT_EQ(UnlistedNamesNote(create, std::vector<std::string>{"Name=lamp", "Colour=red"}),
            "CreateProduct: Colour not in the newer API version's list this build holds; sent "
            "as typed");
  bound.parameters = {"Action=CreateProduct", "NodeType=hub"};
  EXPECT_FALSE(CheckBoundParameters(create, bound, false).ok());

  const ResolvedAction pub = ResolveActionName(kIotService, "Pub").value();
  bound.parameters = {"Action=Pub", "ProductKey=a1", "MessageContent=x"};
  EXPECT_EQ(CheckBoundParameters(pub, bound, false).message().rfind("Pub needs TopicFullName", 0),
            0U);
}

// The simulator's side: parameters as received, lists spelled out. A name
// spelled in another case than the list's counts as given.
TEST(CheckReceivedParameters, FindsTheFirstMissingThenTheFirstMistyped) {
  using Received = std::vector<std::pair<std::string_view, std::string_view>>;
  const ResolvedAction describe = ResolveActionName(kEcsService, "DescribeInstances").value();
  const auto missing = CheckReceivedParameters(describe, Received{{"PageSize", "ten"}});
  ASSERT_TRUE(missing);
  EXPECT_TRUE(missing->missing);
  EXPECT_EQ(missing->name, "RegionId");
  const auto mistyped = CheckReceivedParameters(
      describe, Received{{"RegionId", "r"}, {"Tag.1.Key", "a"}, {"PageSize", "ten"}});
  ASSERT_TRUE(mistyped);
  EXPECT_FALSE(mistyped->missing);
  EXPECT_EQ(mistyped->name, "PageSize");
  EXPECT_FALSE(CheckReceivedParameters(describe, Received{{"RegionId", "r"}, {"Unknown", "x"}}));
  const ResolvedAction apply = ResolveActionName(kEcsService, "ApplyAutoSnapshotPolicy").value();
  EXPECT_FALSE(CheckReceivedParameters(
      apply, Received{{"RegionId", "r"}, {"AutoSnapshotPolicyId", "p"}, {"DiskIds", "[]"}}));
}

// Whether a repeat is harmless: a read by its verb, a change by whether its
// parameter list takes a ClientToken (the vendor's list, not a guess from
// the name); an action with no list is an ordinary change.
TEST(ActionKindTest, ReadsByVerbTokensByParameterList) {
  EXPECT_EQ(KindOfAction(kIotService, "BatchGetDeviceState"), ActionKind::kReadOnly);
  EXPECT_EQ(KindOfAction(kEcsService, "DescribeHpcClusters"), ActionKind::kReadOnly);
  EXPECT_TRUE(TakesClientToken(kEcsService, "DescribeHpcClusters"));
  EXPECT_EQ(KindOfAction(kEcsService, "CreateDisk"), ActionKind::kIdempotent);
  EXPECT_EQ(KindOfAction(kEcsService, "ModifyInstanceSpec"), ActionKind::kIdempotent);
  EXPECT_EQ(KindOfAction(kEcsService, "StopInstance"), ActionKind::kMutating);
  EXPECT_EQ(KindOfAction(kEcsService, "CreateNothingKnown"), ActionKind::kMutating);
  EXPECT_EQ(KindOfAction(kEcsService, "Getaway"), ActionKind::kMutating);
}

}  // namespace
}  // namespace kestrune::catalogue
