#include "report/formatters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune::report {
namespace {

const Row kSep = Row::Break();
using Rows = std::vector<Row>;

class FormattersTest : public ::testing::Test {
 protected:
  FormatOutcome Format(Formatter formatter, std::string_view reply,
                       std::string_view action_line = "Action=Test") {
    return FormatReply(formatter, action_line, reply, x_);
  }
  const Rows& rows() const { return list_.produced(); }

  RecordingResultList list_;
  RecordingTraceSink trace_;
  DisplayText display_;
  Extractor x_{list_, trace_, display_};
};

std::string Region(std::string_view id, std::string_view name) {
  return "<Region><RegionId>" + std::string(id) + "</RegionId><RegionEndpoint>ecs." +
         std::string(id) + ".aliyuncs.com</RegionEndpoint><LocalName>" + std::string(name) +
         "</LocalName></Region>";
}

TEST_F(FormattersTest, RegionsShowEachRecordBetweenSeparators) {
  std::string reply =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DescribeRegionsResponse>"
      "<RequestId>req-1</RequestId><Regions>" +
      Region("cn-qingdao", "华北 1") + Region("cn-beijing", "华北 2") +
      "</Regions></DescribeRegionsResponse>";
  FormatOutcome outcome = Format(Formatter::kRegions, reply, "Action=DescribeRegions");
  EXPECT_TRUE(outcome.formatted);
  EXPECT_EQ(outcome.result_text, "Action=DescribeRegions");
  EXPECT_EQ(rows(), (Rows{{"RequestId", "req-1"},
                          kSep,
                          {"RegionId", "cn-qingdao"},
                          {"LocalName", "华北 1"},
                          kSep,
                          {"RegionId", "cn-beijing"},
                          {"LocalName", "华北 2"},
                          kSep}));
  // On screen the last separator is on top and RequestId at the bottom.
  EXPECT_EQ(list_.ScreenOrder().front(), kSep);
  EXPECT_EQ(list_.ScreenOrder().back(), (Row{"RequestId", "req-1"}));
  EXPECT_EQ(trace_.lines().size(), 2u * 5u);
}

TEST_F(FormattersTest, WalkEndsAfterPassWithoutRecord) {
  std::string reply = "<RequestId>r</RequestId><Regions>" + Region("a", "A") + Region("b", "B") +
                      Region("c", "C") + "</Regions>";
  Format(Formatter::kRegions, reply);
  Rows expected{{"RequestId", "r"}};
  for (std::string id : {"a", "b", "c"}) {
    expected.push_back(kSep);
    expected.push_back({"RegionId", id});
    std::string upper(1, static_cast<char>(id[0] - 'a' + 'A'));
    expected.push_back({"LocalName", upper});
  }
  expected.push_back(kSep);
  EXPECT_EQ(rows(), expected);
}

TEST_F(FormattersTest, WalkMovesTheSearchWindowAlongLongReplies) {
  // Far more than the 8191 bytes one search looks at.
  std::string reply = "<RequestId>r</RequestId><Regions>";
  const int count = 400;
  for (int i = 0; i < count; ++i) {
    std::string number = std::to_string(i);
    reply += Region(std::string("r").append(number), number);
  }
  reply += "</Regions>";
  ASSERT_GT(reply.size(), 4u * 8191u);
  Format(Formatter::kRegions, reply);
  ASSERT_EQ(rows().size(), 1u + 3u * count + 1u);
  EXPECT_EQ(rows()[rows().size() - 3], (Row{"RegionId", "r399"}));
  EXPECT_EQ(rows()[rows().size() - 2], (Row{"LocalName", "399"}));
}

TEST_F(FormattersTest, ZonesStepByTheirLocalName) {
  std::string reply =
      "<DescribeZonesResponse><RequestId>z</RequestId><Zones>"
      "<Zone><ZoneId>cn-hangzhou-b</ZoneId><LocalName>杭州 可用区B</LocalName>"
      "<AvailableResourceCreation><ResourceTypes>Instance</ResourceTypes>"
      "</AvailableResourceCreation></Zone>"
      "<Zone><ZoneId>cn-hangzhou-g</ZoneId><LocalName>杭州 可用区G</LocalName></Zone>"
      "</Zones></DescribeZonesResponse>";
  FormatOutcome outcome = Format(Formatter::kZones, reply, "Action=DescribeZones");
  EXPECT_EQ(outcome.result_text, "Action=DescribeZones");
  EXPECT_EQ(rows(), (Rows{{"RequestId", "z"},
                          kSep,
                          {"ZoneId", "cn-hangzhou-b"},
                          {"LocalName", "杭州 可用区B"},
                          kSep,
                          {"ZoneId", "cn-hangzhou-g"},
                          {"LocalName", "杭州 可用区G"},
                          kSep}));
}

TEST_F(FormattersTest, InstanceStatusGivesTwelveRowsForTwoRecords) {
  std::string_view reply =
      "<DescribeInstanceStatusResponse><InstanceStatuses>"
      "<InstanceStatus><InstanceId>i-1</InstanceId><Status>Running</Status></InstanceStatus>"
      "<InstanceStatus><InstanceId>i-2</InstanceId><Status>Stopped</Status></InstanceStatus>"
      "</InstanceStatuses><TotalCount>2</TotalCount><PageSize>10</PageSize>"
      "<RequestId>s</RequestId><PageNumber>1</PageNumber></DescribeInstanceStatusResponse>";
  Format(Formatter::kInstanceStatus, reply);
  EXPECT_EQ(rows(), (Rows{{"RequestId", "s"},
                          kSep,
                          {"PageNumber", "1"},
                          {"TotalCount", "2"},
                          {"PageSize", "10"},
                          kSep,
                          {"InstanceId", "i-1"},
                          {"Status", "Running"},
                          kSep,
                          {"InstanceId", "i-2"},
                          {"Status", "Stopped"},
                          kSep}));
}

// A DescribeInstances record in the service's element order. Without a
// description when `with_description` is false.
std::string InstanceRecord(int k, bool with_description = true) {
  std::string n = std::to_string(k);
  return "<Instance><ImageId>img-" + n +
         "</ImageId><InstanceTypeFamily>ecs.g5</InstanceTypeFamily><VlanId></VlanId>"
         "<InstanceId>i-" +
         n + "</InstanceId><PublicIpAddress><IpAddress>pub-" + n +
         "</IpAddress></PublicIpAddress><EipAddress><IpAddress>eip-" + n +
         "</IpAddress><AllocationId>alloc-" + n +
         "</AllocationId><InternetChargeType>PayByTraffic</InternetChargeType></EipAddress>"
         "<InternetMaxBandwidthIn>100</InternetMaxBandwidthIn><ZoneId>zone-" +
         n +
         "</ZoneId><InternetChargeType>PayByBandwidth</InternetChargeType>"
         "<SpotStrategy>NoSpot</SpotStrategy><SerialNumber>sn-" +
         n +
         "</SerialNumber><IoOptimized>true</IoOptimized><Memory>8192</Memory><Cpu>2</Cpu>"
         "<VpcAttributes><NatIpAddress></NatIpAddress><PrivateIpAddress><IpAddress>priv-" +
         n + "</IpAddress></PrivateIpAddress><VSwitchId>vsw-" + n + "</VSwitchId><VpcId>vpc-" + n +
         "</VpcId></VpcAttributes><InternetMaxBandwidthOut>5</InternetMaxBandwidthOut>"
         "<DeviceAvailable>true</DeviceAvailable><SecurityGroupIds><SecurityGroupId>sg-" +
         n +
         "</SecurityGroupId></SecurityGroupIds><AutoReleaseTime></AutoReleaseTime>"
         "<InstanceName>name-" +
         n + "</InstanceName>" +
         (with_description ? "<Description>desc-" + n + "</Description>" : std::string()) +
         "<InstanceNetworkType>vpc</InstanceNetworkType><InnerIpAddress><IpAddress>inner-" + n +
         "</IpAddress></InnerIpAddress><HostName>host-" + n +
         "</HostName><InstanceType>ecs.g5.large</InstanceType><CreationTime>2024-01-0" + n +
         "T00:00Z</CreationTime><Status>Running</Status><ClusterId></ClusterId>"
         "<RegionId>cn-hangzhou</RegionId><GPUSpec></GPUSpec>"
         "<InstanceChargeType>PostPaid</InstanceChargeType><GPUAmount>0</GPUAmount>"
         "<ExpiredTime>2099-12-31T15:59Z</ExpiredTime></Instance>";
}

// The rows of one record pass, as the record above lays its fields out.
Rows InstancePass(int k, bool with_description = true) {
  std::string n = std::to_string(k);
  Rows rows{kSep,
            {"ImageId", "img-" + n},
            {"InstanceTypeFamily", "ecs.g5"},
            {"InstanceId", "i-" + n},
            kSep,
            {"IpAddress", "pub-" + n},
            {"AllocationId", "alloc-" + n},
            {"InternetChargeType", "PayByTraffic"},
            {"InternetMaxBandwidthIn", "100"},
            {"ZoneId", "zone-" + n},
            {"InternetChargeType", "PayByBandwidth"},
            {"SpotStrategy", "NoSpot"},
            {"SerialNumber", "sn-" + n},
            {"IoOptimized", "true"},
            {"Memory", "8192"},
            {"Cpu", "2"},
            kSep,
            {"IpAddress", "priv-" + n},
            {"VSwitchId", "vsw-" + n},
            {"VpcId", "vpc-" + n},
            kSep,
            {"InternetMaxBandwidthOut", "5"},
            {"DeviceAvailable", "true"},
            {"SecurityGroupId", "sg-" + n},
            {"InstanceName", "name-" + n}};
  if (with_description) rows.push_back({"Description", "desc-" + n});
  Rows tail{{"InstanceNetworkType", "vpc"},
            kSep,
            {"IpAddress", "inner-" + n},
            kSep,
            {"HostName", "host-" + n},
            {"InstanceType", "ecs.g5.large"},
            {"CreationTime", "2024-01-0" + n + "T00:00Z"},
            {"Status", "Running"},
            {"RegionId", "cn-hangzhou"},
            {"InstanceChargeType", "PostPaid"},
            {"GPUAmount", "0"},
            {"ExpiredTime", "2099-12-31T15:59Z"}};
  rows.insert(rows.end(), tail.begin(), tail.end());
  return rows;
}

TEST_F(FormattersTest, InstancesShowEveryRecordOnce) {
  std::string reply = "<DescribeInstancesResponse><RequestId>q</RequestId><Instances>" +
                      InstanceRecord(1) + InstanceRecord(2) + InstanceRecord(3) +
                      "</Instances><TotalCount>3</TotalCount><PageNumber>1</PageNumber>"
                      "<PageSize>10</PageSize></DescribeInstancesResponse>";
  Format(Formatter::kInstances, reply);
  Rows expected{
      {"RequestId", "q"}, kSep, {"PageNumber", "1"}, {"TotalCount", "3"}, {"PageSize", "10"}};
  for (int k = 1; k <= 3; ++k) {
    Rows pass = InstancePass(k);
    expected.insert(expected.end(), pass.begin(), pass.end());
  }
  expected.push_back(kSep);
  EXPECT_EQ(rows(), expected);
}

TEST_F(FormattersTest, InstanceFieldsStayInsideTheirRecord) {
  // The first record has no Description: the second one's must not appear in
  // the first pass.
  std::string reply = "<RequestId>q</RequestId><Instances>" + InstanceRecord(1, false) +
                      InstanceRecord(2) + "</Instances>";
  Format(Formatter::kInstances, reply);
  Rows expected{{"RequestId", "q"}, kSep};
  for (const Rows& pass : {InstancePass(1, false), InstancePass(2)}) {
    expected.insert(expected.end(), pass.begin(), pass.end());
  }
  expected.push_back(kSep);
  EXPECT_EQ(rows(), expected);
}

TEST_F(FormattersTest, RecordWalksWithoutRecordsGiveHeadAndOneSeparator) {
  Format(Formatter::kInstances,
         "<RequestId>e</RequestId><Instances></Instances><TotalCount>0</TotalCount>"
         "<PageNumber>1</PageNumber><PageSize>10</PageSize>");
  EXPECT_EQ(rows(), (Rows{{"RequestId", "e"},
                          kSep,
                          {"PageNumber", "1"},
                          {"TotalCount", "0"},
                          {"PageSize", "10"},
                          kSep}));
  list_.Clear();
  Format(Formatter::kInstanceTypes, "<RequestId>e</RequestId><InstanceTypes></InstanceTypes>");
  EXPECT_EQ(rows(), (Rows{{"RequestId", "e"}, kSep}));
  list_.Clear();
  Format(Formatter::kRegions, "<RequestId>e</RequestId><Regions></Regions>");
  EXPECT_EQ(rows(), (Rows{{"RequestId", "e"}, kSep}));
}

std::string InstanceType(std::string_view id, std::string_view family, std::string_view cpu,
                         std::string_view memory) {
  return "<InstanceType><InstanceTypeId>" + std::string(id) + "</InstanceTypeId><CpuCoreCount>" +
         std::string(cpu) + "</CpuCoreCount><MemorySize>" + std::string(memory) +
         "</MemorySize><InstanceTypeFamily>" + std::string(family) +
         "</InstanceTypeFamily><GPUSpec></GPUSpec><GPUAmount>0</GPUAmount></InstanceType>";
}

Rows InstanceTypeRows(std::string_view id, std::string_view family, std::string_view cpu,
                      std::string_view memory) {
  return {kSep,
          {"InstanceTypeId", std::string(id)},
          {"InstanceTypeFamily", std::string(family)},
          {"MemorySize", std::string(memory)},
          {"GPUAmount", "0"},
          {"CpuCoreCount", std::string(cpu)}};
}

TEST_F(FormattersTest, InstanceTypesShowEachIdFirstInItsPass) {
  std::string reply = "<DescribeInstanceTypesResponse><RequestId>t</RequestId><InstanceTypes>" +
                      InstanceType("ecs.t1.xsmall", "ecs.t1", "1", "0.5") +
                      InstanceType("ecs.g5.large", "ecs.g5", "2", "8.0") +
                      "</InstanceTypes></DescribeInstanceTypesResponse>";
  Rows expected{{"RequestId", "t"}};
  for (const Rows& pass : {InstanceTypeRows("ecs.t1.xsmall", "ecs.t1", "1", "0.5"),
                           InstanceTypeRows("ecs.g5.large", "ecs.g5", "2", "8.0")}) {
    expected.insert(expected.end(), pass.begin(), pass.end());
  }
  expected.push_back(kSep);

  FormatOutcome outcome = Format(Formatter::kInstanceTypes, reply, "Action=DescribeInstanceTypes");
  EXPECT_EQ(outcome.result_text, "Action=DescribeInstanceTypes");
  EXPECT_EQ(rows(), expected);
}

TEST_F(FormattersTest, InstanceTypeFamilies) {
  std::string_view reply =
      "<RequestId>f</RequestId><InstanceTypeFamilies>"
      "<InstanceTypeFamily><InstanceTypeFamilyId>ecs.g5</InstanceTypeFamilyId>"
      "<Generation>ecs-3</Generation></InstanceTypeFamily>"
      "<InstanceTypeFamily><InstanceTypeFamilyId>ecs.t1</InstanceTypeFamilyId>"
      "<Generation>ecs-1</Generation></InstanceTypeFamily></InstanceTypeFamilies>";
  Format(Formatter::kInstanceTypeFamilies, reply);
  EXPECT_EQ(rows(), (Rows{{"RequestId", "f"},
                          kSep,
                          {"InstanceTypeFamilyId", "ecs.g5"},
                          {"Generation", "ecs-3"},
                          kSep,
                          {"InstanceTypeFamilyId", "ecs.t1"},
                          {"Generation", "ecs-1"},
                          kSep}));
}

std::string Task(int k) {
  std::string n = std::to_string(k);
  return "<Task><TaskId>t-" + n +
         "</TaskId><TaskAction>ImportImage</TaskAction>"
         "<TaskStatus>Finished</TaskStatus><SupportCancel>false</SupportCancel>"
         "<CreationTime>2024-01-0" +
         n + "T01:00Z</CreationTime><FinishedTime>2024-01-0" + n + "T02:00Z</FinishedTime></Task>";
}

TEST_F(FormattersTest, TasksHeadThenOnePassPerTask) {
  std::string reply =
      "<DescribeTasksResponse><RequestId>k</RequestId><PageNumber>1</PageNumber>"
      "<TotalCount>2</TotalCount><PageSize>10</PageSize><RegionId>cn-hangzhou"
      "</RegionId><TaskSet>" +
      Task(1) + Task(2) + "</TaskSet></DescribeTasksResponse>";
  Format(Formatter::kTasks, reply);
  Rows expected{{"RequestId", "k"},  kSep,
                {"PageNumber", "1"}, {"TotalCount", "2"},
                {"PageSize", "10"},  {"RegionId", "cn-hangzhou"}};
  for (std::string n : {"1", "2"}) {
    Rows pass{kSep,
              {"CreationTime", "2024-01-0" + n + "T01:00Z"},
              {"FinishedTime", "2024-01-0" + n + "T02:00Z"},
              {"SupportCancel", "false"},
              {"TaskAction", "ImportImage"},
              {"TaskStatus", "Finished"},
              {"TaskId", "t-" + n}};
    expected.insert(expected.end(), pass.begin(), pass.end());
  }
  expected.push_back(kSep);
  EXPECT_EQ(rows(), expected);
}

TEST_F(FormattersTest, TaskAttributeHasNoTrailingSeparator) {
  std::string_view reply =
      "<DescribeTaskAttributeResponse><RequestId>a</RequestId><TaskId>t-9</TaskId>"
      "<RegionId>cn-hangzhou</RegionId><TaskAction>ExportImage</TaskAction>"
      "<TaskStatus>Processing</TaskStatus><TaskProcess>50%</TaskProcess>"
      "<SupportCancel>true</SupportCancel><SuccessCount>1</SuccessCount>"
      "<FailedCount>0</FailedCount><CreationTime>c</CreationTime><FinishedTime></FinishedTime>"
      "<TotalCount>1</TotalCount></DescribeTaskAttributeResponse>";
  Format(Formatter::kTaskAttribute, reply);
  EXPECT_EQ(rows(), (Rows{{"RequestId", "a"},
                          kSep,
                          {"TaskId", "t-9"},
                          {"TaskAction", "ExportImage"},
                          {"RegionId", "cn-hangzhou"},
                          {"TaskStatus", "Processing"},
                          {"TaskProcess", "50%"},
                          {"SupportCancel", "true"},
                          {"SuccessCount", "1"},
                          {"FailedCount", "0"},
                          {"CreationTime", "c"}}));
}

TEST_F(FormattersTest, VncUrl) {
  std::string_view reply =
      "<RequestId>v</RequestId><VncUrl>wss://vnc.example/?token=a&amp;b=1</VncUrl>";
  Format(Formatter::kVncUrl, reply);
  EXPECT_EQ(rows(), (Rows{{"RequestId", "v"}, kSep, {"VncUrl", "wss://vnc.example/?token=a&b=1"}}));
}

TEST_F(FormattersTest, UserData) {
  std::string_view reply =
      "<RequestId>u</RequestId><RegionId>cn-beijing</RegionId><InstanceId>i-7</InstanceId>"
      "<UserData>ZWNobyBoZWxsbw==</UserData>";
  Format(Formatter::kUserData, reply);
  EXPECT_EQ(rows(), (Rows{{"RequestId", "u"},
                          kSep,
                          {"UserData", "ZWNobyBoZWxsbw=="},
                          {"InstanceId", "i-7"},
                          {"RegionId", "cn-beijing"}}));
  // The actions that share the formatter show what their reply has.
  list_.Clear();
  Format(Formatter::kUserData, "<RequestId>only</RequestId>");
  EXPECT_EQ(rows(), (Rows{{"RequestId", "only"}, kSep}));
}

TEST_F(FormattersTest, ReplyWithoutRequestIdStillShowsTheRest) {
  Format(Formatter::kVncUrl, "<VncUrl>x</VncUrl>");
  EXPECT_EQ(rows(), (Rows{kSep, {"VncUrl", "x"}}));
}

TEST_F(FormattersTest, UnformattedChoicesLeaveResultAndListAlone) {
  list_.InsertTop("kept", "row");
  std::string_view reply = "<RequestId>n</RequestId><RegionId>x</RegionId>";
  FormatOutcome outcome = Format(Formatter::kNone, reply);
  EXPECT_FALSE(outcome.formatted);
  EXPECT_EQ(outcome.result_text, "");
  EXPECT_EQ(rows(), (Rows{{"kept", "row"}}));
  EXPECT_TRUE(trace_.lines().empty());
}

TEST_F(FormattersTest, FormattersAddToWhatTheListHolds) {
  list_.InsertTop("earlier", "row");
  Format(Formatter::kRegions, "<RequestId>r</RequestId>");
  EXPECT_EQ(rows(), (Rows{{"earlier", "row"}, {"RequestId", "r"}, kSep}));
}

}  // namespace
}  // namespace kestrune::report
