// `kestrune sample`: the six built-in responses, their rows in order, the
// zones of each region and the instance state carried from one action to the
// next within a run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/samples.h"
#include "test_console.h"

namespace kestrune::cli {
namespace {

using clitest::Lines;
using clitest::RunKestrune;
using clitest::TestConsole;

struct Pair {
  std::string field;
  std::string info;
};

std::vector<Pair> TsvPairs(const std::string& text) {
  std::vector<Pair> pairs;
  for (const std::string& line : Lines(text)) {
    if (line.empty()) continue;  // between records, and between actions
    const std::size_t tab = line.find('\t');
    EXPECT_NE(tab, std::string::npos) << line;
    if (tab == std::string::npos) continue;
    pairs.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return pairs;
}

std::vector<Pair> Sample(std::vector<std::string> arguments) {
  TestConsole console;
  arguments.insert(arguments.begin(), "sample");
  EXPECT_EQ(RunKestrune(console, arguments), kExitOk) << console.err;
  EXPECT_TRUE(console.err.empty()) << console.err;
  return TsvPairs(console.out);
}

std::string Joined(const std::vector<Pair>& pairs) {
  std::string joined;
  for (const Pair& pair : pairs) joined += pair.field + "=" + pair.info + ";";
  return joined;
}

// The rows each response shows, in the order they are produced.
TEST(SampleTest, TheSixResponses) {
  EXPECT_EQ(Joined(Sample({"DescribeZones"})),
            "RequestId=FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5;ZoneId=cn-shanghai-f;");
  EXPECT_EQ(Joined(Sample({"DescribeInstanceStatus"})),
            "RequestId=FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5;Status=Running;"
            "InstanceId=i-wz9ggfw2esucbqffffff;TotalCount=1;PageNumber=1;PageSize=10;");
  EXPECT_EQ(Joined(Sample({"RebootInstance"})), "RequestId=FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5;");
  EXPECT_EQ(Joined(Sample({"StartInstance"})), "RequestId=FFFFFFFF-DE1B-90A2-5B4F-3DAE85ABDAA5;");
  EXPECT_EQ(Joined(Sample({"StopInstance"})), "RequestId=FFFFFFFF-DE1B-5B4F-90A2-3DAE1AB345A5;");

  const std::vector<Pair> regions = Sample({"DescribeRegions"});
  ASSERT_EQ(regions.size(), 57u);
  EXPECT_EQ(regions[0].field, "RequestId");
  EXPECT_EQ(regions[0].info, "FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5");
  for (std::size_t i = 1; i < regions.size(); ++i) {
    EXPECT_EQ(regions[i].field, i % 2 == 1 ? "RegionId" : "LocalName") << i;
  }
  EXPECT_EQ(regions[1].info, "cn-qingdao");
  EXPECT_EQ(regions[2].info, "华北1（青岛）");
  EXPECT_EQ(regions[29].info, "ap-northeast-1");
  EXPECT_EQ(regions[30].info, "亚太东北 1 (东京)");
  EXPECT_EQ(regions[55].info, "eu-central-1");
  EXPECT_EQ(regions[56].info, "欧洲中部 1 (法兰克福)");
}

TEST(SampleTest, ActionNamesAnyCaseAndUnknownOnesRefused) {
  EXPECT_EQ(Joined(Sample({"stopinstance"})), Joined(Sample({"StopInstance"})));
  TestConsole console;
  EXPECT_EQ(RunKestrune(console, {"sample", "DescribeInstances"}), kExitUsage);
  EXPECT_TRUE(console.out.empty());
  ASSERT_EQ(clitest::LineCount(console.err), 1u);
  EXPECT_NE(console.err.find("DescribeRegions, DescribeZones"), std::string::npos);
  TestConsole none;
  EXPECT_EQ(RunKestrune(none, {"sample"}), kExitUsage);
  EXPECT_EQ(clitest::LineCount(none.err), 1u);
}

TEST(SampleTest, ZonesOfEachRegion) {
  EXPECT_EQ(Joined(Sample({"DescribeZones", "--region", "cn-shanghai"})),
            "RequestId=FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5;ZoneId=cn-shanghai-f;");
  EXPECT_EQ(Joined(Sample({"DescribeZones", "--region", "cn-shenzhen"})),
            "RequestId=FFFFFFFF-5B4F-5B4F-DE1B-3DAE858545A5;ZoneId=cn-shenzhen-a;"
            "ZoneId=cn-shenzhen-c;");
  EXPECT_EQ(Joined(Sample({"--region=cn-beijing", "DescribeZones"})),
            "RequestId=FFFFFFFF-DE1B-DE1B-90A2-3DAE858545A5;ZoneId=cn-beijing-g;");
  TestConsole console;
  EXPECT_EQ(RunKestrune(console, {"sample", "DescribeZones", "--region", "cn-hangzhou"}),
            kExitUsage);
  EXPECT_NE(console.err.find("cn-shanghai, cn-shenzhen, cn-beijing"), std::string::npos);
  EXPECT_EQ(clitest::LineCount(console.err), 1u);
}

TEST(SampleTest, InstanceStateCarriesAcrossActionsOfOneRun) {
  const std::vector<Pair> rows = Sample(
      {"DescribeInstanceStatus", "StopInstance", "DescribeInstanceStatus", "StartInstance",
       "DescribeInstanceStatus", "StopInstance", "RebootInstance", "DescribeInstanceStatus"});
  std::vector<std::string> statuses;
  for (const Pair& pair : rows) {
    if (pair.field == "Status") statuses.push_back(pair.info);
  }
  EXPECT_EQ(statuses, (std::vector<std::string>{"Running", "stopped", "Running", "Running"}));
  // A new run starts with a running instance again.
  EXPECT_EQ(Sample({"DescribeInstanceStatus"})[1].info, "Running");
}

TEST(SampleTest, EachActionOfARunStartsFromAnEmptyList) {
  const std::vector<Pair> twice = Sample({"StopInstance", "StopInstance"});
  ASSERT_EQ(twice.size(), 2u);  // one row per action, not three
}

TEST(SampleTest, TableAndJsonForms) {
  TestConsole table;
  table.terminal = true;  // a terminal gets a table by default
  ASSERT_EQ(RunKestrune(table, {"sample", "StopInstance", "DescribeZones"}), kExitOk);
  const std::vector<std::string> lines = Lines(table.out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "== StopInstance ==");
  EXPECT_EQ(lines[1].rfind("Field", 0), 0u);
  EXPECT_NE(table.out.find("\n== DescribeZones ==\n"), std::string::npos);
  EXPECT_NE(table.out.find("ZoneId     cn-shanghai-f\n"), std::string::npos) << table.out;

  TestConsole json;
  ASSERT_EQ(RunKestrune(json, {"sample", "DescribeRegions", "--format", "json"}), kExitOk);
  // One record (the sample draws no rule), its repeated fields as arrays.
  EXPECT_EQ(json.out.rfind("[\n  {\n    \"RequestId\": \"", 0), 0u) << json.out;
  EXPECT_TRUE(json.out.ends_with("\"欧洲中部 1 (法兰克福)\"\n    ]\n  }\n]\n")) << json.out;

  // Several actions: one document, an array of each action's records.
  TestConsole several;
  ASSERT_EQ(RunKestrune(several, {"sample", "StopInstance", "RebootInstance", "--format", "json"}),
            kExitOk);
  EXPECT_EQ(
      several.out,
      "[\n  [\n    {\n      \"RequestId\": \"FFFFFFFF-DE1B-5B4F-90A2-3DAE1AB345A5\"\n    }\n"
      "  ],\n  [\n    {\n      \"RequestId\": \"FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5\"\n    }\n"
      "  ]\n]\n");
}

TEST(SampleTest, GbkTerminalsGetGbkText) {
  TestConsole console;
  console.encoding = report::DisplayEncoding::kGbk;
  ASSERT_EQ(RunKestrune(console, {"sample", "DescribeRegions"}), kExitOk);
  // 华北1（青岛） in code page 936.
  EXPECT_NE(console.out.find("LocalName\t\xBB\xAA\xB1\xB1"
                             "1\xA3\xA8\xC7\xE0\xB5\xBA\xA3\xA9\n"),
            std::string::npos);
  // JSON stays UTF-8 whatever the terminal.
  TestConsole json;
  json.encoding = report::DisplayEncoding::kGbk;
  ASSERT_EQ(RunKestrune(json, {"sample", "DescribeRegions", "--format", "json"}), kExitOk);
  EXPECT_NE(json.out.find("华北1（青岛）"), std::string::npos);
}

}  // namespace
}  // namespace kestrune::cli
