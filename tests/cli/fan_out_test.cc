// `kestrune call … --regions`: one call per region against a simulator that
// answers some regions late, shown in the list's order whatever the order of
// the replies; and the input refused before any of the calls is sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/fan_out.h"
#include "process_support.h"

namespace kestrune::cli::clitest {
namespace {

class FanOutTest : public CallTest {};

// cn-hangzhou replies after cn-shanghai, cn-beijing not within the time-out:
// the rows still stand in the list's order, each region's zones under its own
// region row, and the failed region does not stop the others.
TEST_F(FanOutTest, RowsGroupedUnderRegionsInTheListsOrder) {
  Sim({"--latency-region", "cn-hangzhou=400", "--latency-region", "cn-beijing=5000"});
  TestConsole& console = Console();
  console.terminal = true;
  EXPECT_EQ(Call(console, {"ecs", "DescribeZones", "--regions",
                           "cn-hangzhou,cn-shanghai,cn-beijing", "--timeout", "1.5"}),
            kExitConnection);
  std::vector<std::string> regions;
  std::size_t zones = 0;
  for (const std::string& line : Lines(console.out)) {
    if (line.starts_with("Region ")) regions.push_back(line.substr(line.rfind(' ') + 1));
    if (!line.starts_with("ZoneId ")) continue;
    ++zones;
    ASSERT_FALSE(regions.empty()) << line;
    EXPECT_TRUE(line.substr(line.rfind(' ') + 1).starts_with(regions.back() + "-")) << line;
  }
  EXPECT_EQ(regions, (std::vector<std::string>{"cn-hangzhou", "cn-shanghai", "cn-beijing"}));
  EXPECT_GT(zones, 2u);
  // Which time-out ends the wait (the idle one or the whole exchange's, the
  // same 1.5 s here) depends on how long connecting took; either is a
  // connection failure naming the simulator.
  const std::size_t failed = console.out.find(" connection failed: ");
  ASSERT_NE(failed, std::string::npos) << console.out;
  EXPECT_NE(console.out.find("127.0.0.1:", failed), std::string::npos) << console.out;
  EXPECT_TRUE(Contains(console.err, "kestrune: cn-beijing: connection failed")) << console.err;
  EXPECT_FALSE(Contains(console.err, "cn-shanghai:")) << console.err;
  // In JSON the region that timed out holds an error object, not a reply.
  TestConsole& json = Console();
  EXPECT_EQ(Call(json, {"ecs", "DescribeZones", "--regions", "cn-shanghai,cn-beijing", "--format",
                        "json", "--timeout", "1"}),
            kExitConnection);
  const nlohmann::ordered_json document = nlohmann::ordered_json::parse(json.out);
  ASSERT_EQ(document.size(), 2u) << json.out;
  EXPECT_TRUE(document[0].contains("reply"));
  EXPECT_FALSE(document[1].contains("reply"));
  EXPECT_EQ(document[1].at("error").at("code"), "ConnectionFailed");
  EXPECT_TRUE(
      document[1].at("error").at("message").get<std::string>().starts_with("connection failed: "));
}

TEST_F(FanOutTest, JsonIsOneArrayOfRegionAndReply) {
  Sim({"--latency-region", "cn-shanghai=300"});
  TestConsole& console = Console();
  const std::vector<std::string> asked = {"cn-shanghai", "cn-hangzhou"};
  ASSERT_EQ(Call(console, {"ecs", "DescribeZones", "--regions", "cn-shanghai,cn-hangzhou",
                           "--format", "json", "--parallel", "2"}),
            kExitOk)
      << console.err;
  const nlohmann::ordered_json document = nlohmann::ordered_json::parse(console.out);
  ASSERT_TRUE(document.is_array());
  ASSERT_EQ(document.size(), asked.size());
  for (std::size_t i = 0; i < asked.size(); ++i) {
    EXPECT_EQ(document[i].size(), 2u);
    EXPECT_EQ(document[i].at("region"), asked[i]);
    const std::string zone = document[i].at("reply").at("Zones").at("Zone")[0].at("ZoneId");
    EXPECT_TRUE(zone.starts_with(asked[i] + "-")) << zone;
  }
  // Published region ids need no region list first: two requests, no more.
  const std::vector<std::string> log =
      simulator_->WaitForRequests(3, std::chrono::milliseconds(200));
  EXPECT_EQ(log.size(), asked.size());
}

// Each region's call goes to its own host, as the vendor's data lists it (an
// odd one for Hangzhou) or, for a region the data lacks, as its rule makes it.
TEST_F(FanOutTest, EachRegionGoesToItsOwnHost) {
  Sim();
  TestConsole& console = Console();
  ASSERT_EQ(Call(console, {"ecs", "DescribeZones", "--regions", "cn-hangzhou,cn-fuzhou", "--debug",
                           "--format", "tsv"}),
            kExitOk)
      << console.err;
  EXPECT_TRUE(Contains(console.err, "cn-hangzhou: > Host: ecs-cn-hangzhou.aliyuncs.com\n"))
      << console.err;
  EXPECT_TRUE(Contains(console.err,
                       "kestrune: cn-fuzhou: host ecs.cn-fuzhou.aliyuncs.com: "
                       "derived for cn-fuzhou by the vendor's rule, not listed "
                       "(public)\n"))
      << console.err;
}

TEST_F(FanOutTest, BadInputIsOneLineAndSendsNoCall) {
  Sim();
  const std::vector<std::vector<std::string>> cases = {
      {"ecs", "DescribeZones", "--regions", ""},
      {"ecs", "DescribeZones", "--regions", "cn-hangzhou,,cn-beijing"},
      {"ecs", "DescribeZones", "--regions", "cn-hangzhou,cn-hangzhou"},
      {"ecs", "DescribeZones", "--regions", "CN_Hangzhou"},
      {"ecs", "DescribeZones", "--regions", "all", "--parallel", "0"},
      {"ecs", "DescribeZones", "--regions", "all", "--parallel", "65"},
      {"ecs", "DescribeZones", "--parallel", "4"},
      {"ecs", "DescribeRegions", "--regions", "all"},
      {"ecs", "DescribeZones", "--regions", "all", "RegionId=cn-hangzhou"},
      {"ecs", "DescribeZones", "--regions", "all", "--region", "cn-hangzhou"},
      {"ecs", "DescribeZones", "--regions", "all", "--dry-run"},
  };
  for (const std::vector<std::string>& arguments : cases) {
    TestConsole& console = Console();
    EXPECT_EQ(Call(console, arguments), kExitUsage) << arguments.back();
    EXPECT_TRUE(console.out.empty());
    EXPECT_EQ(LineCount(console.err), 1u) << console.err;
  }
  ExpectNothingSentSoFar();
  // An id the account does not have is found by the region list: that list
  // is asked for, the call itself is not sent.
  TestConsole& unknown = Console();
  EXPECT_EQ(Call(unknown, {"ecs", "DescribeZones", "--regions", "cn-hangzhou,mars-north-1"}),
            kExitUsage);
  EXPECT_EQ(LineCount(unknown.err), 1u) << unknown.err;
  EXPECT_TRUE(Contains(unknown.err, "mars-north-1")) << unknown.err;
  const std::vector<std::string> log = simulator_->WaitForRequests(2);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(Contains(log[1], "DescribeRegions")) << log[1];
}

// The region list is the service's reply, not the user's choice: 3,006 ids
// once gave 3,007 requests, repeats called twice, an empty RegionId sent.
TEST(RegionListTest, OnlyDistinctPlainIdsAndAtMostTheCap) {
  std::string body = "<Regions>";
  for (const std::string id :
       {"cn-a", "", "cn-a", "cn-&#98;", "cn-b", "CN-X", "cn-\xE2\x80\xAEx", "cn-c&amp;d"}) {
    body += "<RegionId>" + id + "</RegionId>";
  }
  const RegionList few = RegionIdsOf(body + "</Regions>");
  EXPECT_EQ(few.ids, (std::vector<std::string>{"cn-a", "cn-b"}));
  ASSERT_EQ(few.notes.size(), 1u);
  EXPECT_NE(few.notes[0].find("3 id(s) that are not region ids"), std::string::npos);

  for (int i = 0; i < 300; ++i) body += "<RegionId>r-" + std::to_string(i) + "</RegionId>";
  const RegionList many = RegionIdsOf(body + "</Regions>");
  ASSERT_EQ(many.ids.size(), kMaxRegions);
  EXPECT_EQ(many.ids.back(), "r-253");
  ASSERT_EQ(many.notes.size(), 2u);
  EXPECT_NE(many.notes[1].find("holds 302 regions; only the first 256"), std::string::npos);
}

}  // namespace
}  // namespace kestrune::cli::clitest

namespace kestrune::cli {
namespace {

// A run's parallelism halves once for each pause the service asks for (not
// for every call one full window turned away), never below one; grows back
// by one with each call that ends well, never past its bound; and no call
// starts while a pause holds.
TEST(AdaptiveParallelismTest, HalvesOncePerPauseGrowsBackByOneAndHoldsStarts) {
  using std::chrono::milliseconds;
  AdaptiveParallelism parallelism(8);
  // Pauses long over: just after the clock's zero, which is the machine's
  // start and so may be less than an hour ago.
  const auto past = AdaptiveParallelism::Clock::time_point{} + milliseconds(1);
  EXPECT_EQ(parallelism.limit(), 8);
  parallelism.Acquire();
  parallelism.Throttled(milliseconds(500), past);
  EXPECT_EQ(parallelism.limit(), 4);
  for (int k = 0; k < 3; ++k) parallelism.Throttled(milliseconds(500), past + milliseconds(100));
  EXPECT_EQ(parallelism.limit(), 4);
  for (int k = 1; k <= 3; ++k)
    parallelism.Throttled(milliseconds(500), past + milliseconds(1000 * k));
  EXPECT_EQ(parallelism.limit(), 1);
  parallelism.Release(false);
  EXPECT_EQ(parallelism.limit(), 1);
  for (int k = 0; k < 10; ++k) {
    parallelism.Acquire();  // one in flight at a time: never waits
    parallelism.Release(true);
    EXPECT_EQ(parallelism.limit(), std::min(8, 2 + k));
  }
  const auto before = AdaptiveParallelism::Clock::now();
  parallelism.Throttled(milliseconds(150), before);
  parallelism.Acquire();
  EXPECT_GE(AdaptiveParallelism::Clock::now() - before, milliseconds(150));
  parallelism.Release(true);
}

}  // namespace
}  // namespace kestrune::cli
