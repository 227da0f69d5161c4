// `kestrune doctor` against a simulator the test starts, and against a port
// nothing listens on. Audited as every CallTest is.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "process_support.h"

namespace kestrune::cli::clitest {
namespace {

class DoctorTest : public CallTest {
 protected:
  TestConsole& DemoConsole() {
    TestConsole& console = Console(false);
    console.env["ALIBABA_CLOUD_ACCESS_KEY_ID"] = "kestrune-demo-id";
    console.env["ALIBABA_CLOUD_ACCESS_KEY_SECRET"] = kDemoSecret;
    return console;
  }
};

TEST_F(DoctorTest, PassesAgainstAHealthySimulator) {
  Sim({}, false);
  TestConsole& console = DemoConsole();
  ASSERT_EQ(
      RunKestrune(console, {"doctor", "--endpoint", simulator_->address(), "--format", "tsv"}),
      kExitOk)
      << console.out << console.err;
  for (const std::string& line : Lines(console.out)) {
    EXPECT_FALSE(Contains(line, "\tFAIL\t")) << line;
  }
  EXPECT_TRUE(Contains(console.out, "credentials\tok\t")) << console.out;
  EXPECT_TRUE(Contains(console.out, "AccessKey id kest****")) << console.out;
  EXPECT_FALSE(Contains(console.out, "kestrune-demo-id")) << console.out;
  EXPECT_TRUE(Contains(console.out, "connect " + simulator_->address() + "\tok\t")) << console.out;
  EXPECT_TRUE(Contains(console.out, "call ecs DescribeRegions\tok\t")) << console.out;
  EXPECT_TRUE(Contains(console.out, "clock\tok\t")) << console.out;
  const std::vector<std::string> log = simulator_->WaitForRequests(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(Contains(log[0], "DescribeRegions")) << log[0];
}

// Each service's host in the region over the VPC: a derived one is a warning.
TEST_F(DoctorTest, ShowsTheHostEachServiceResolvesTo) {
  Sim({}, false);
  TestConsole& console = DemoConsole();
  console.env["ALIBABA_CLOUD_REGION_ID"] = "cn-hangzhou";
  ASSERT_EQ(RunKestrune(console, {"doctor", "--endpoint", simulator_->address(), "--format", "tsv",
                                  "--endpoint-type", "vpc"}),
            kExitOk)
      << console.out << console.err;
  EXPECT_TRUE(Contains(console.out,
                       "host ecs\tok\thost ecs-vpc.cn-hangzhou.aliyuncs.com: "
                       "listed for cn-hangzhou (vpc)\n"))
      << console.out;
  EXPECT_TRUE(Contains(console.out,
                       "host iot\twarn\thost iot-vpc.cn-hangzhou.aliyuncs.com: "
                       "derived for cn-hangzhou"))
      << console.out;
}

TEST_F(DoctorTest, FailsAgainstAStoppedSimulator) {
  TestConsole& console = DemoConsole();
  const std::string address = "127.0.0.1:" + std::to_string(ClosedPort());
  ASSERT_EQ(RunKestrune(console, {"doctor", "--endpoint", address, "--format", "json"}),
            kExitErrorReply)
      << console.out << console.err;
  const nlohmann::json lines = nlohmann::json::parse(console.out, nullptr, false);
  ASSERT_TRUE(lines.is_array()) << console.out;
  std::map<std::string, std::string> verdicts;
  for (const nlohmann::json& line : lines) verdicts[line.at("check")] = line.at("verdict");
  EXPECT_EQ(verdicts["credentials"], "ok");
  EXPECT_EQ(verdicts["resolve 127.0.0.1"], "ok");
  EXPECT_EQ(verdicts["connect " + address], "FAIL");
  EXPECT_EQ(verdicts["call ecs DescribeRegions"], "FAIL");
}

}  // namespace
}  // namespace kestrune::cli::clitest
