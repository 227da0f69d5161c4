// The engine against a simulator that runs outside this process, given as
// KESTRUNE_TEST_SIM=host:port. This is how the Windows build, running under
// Wine, is proven against the simulator running natively on the same machine;
// the test command starts that simulator and sets the variable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "catalogue/engine.h"
#include "report/result_list.h"
#include "report/trace_sink.h"
#include "request/clock.h"

namespace kestrune::catalogue {
namespace {

class RemoteSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* address = std::getenv("KESTRUNE_TEST_SIM");
    if (!address || !*address) GTEST_SKIP() << "KESTRUNE_TEST_SIM is not set";
    options_.endpoint_override = address;
  }

  RequestResult Send(std::string_view action, const char* region = nullptr) {
    ParameterValueSlots slots;
    if (region) {
      EXPECT_TRUE(slots.Set(1, region).ok());
    }
    rows_.Clear();
    Engine engine(clock_, rows_, trace_, options_);
    return engine.Send(credentials_, ResolveActionName(kEcsService, action), slots);
  }

  std::size_t Count(std::string_view field) const {
    std::size_t n = 0;
    for (const auto& row : rows_.produced()) n += row.field == field;
    return n;
  }

  request::Credentials credentials_{"kestrune-demo-id", "kestrune-demo-secret"};
  request::SystemClock clock_;
  report::RecordingResultList rows_;
  report::NullTraceSink trace_;
  EngineOptions options_;
};

TEST_F(RemoteSimTest, DescribeRegionsIsSignedAcceptedAndFormatted) {
  RequestResult result = Send("DescribeRegions");
  ASSERT_EQ(result.outcome, Outcome::kGoodReply) << result.detail << result.body;
  EXPECT_EQ(result.result_text, "Action=DescribeRegions");
  ASSERT_FALSE(rows_.produced().empty());
  EXPECT_EQ(rows_.produced()[0].field, "RequestId");
  EXPECT_GE(Count("RegionId"), 20u);
  EXPECT_EQ(Count("RegionId"), Count("LocalName"));
}

TEST_F(RemoteSimTest, LargeChunkedReplyIsFormattedCompletely) {
  RequestResult result = Send("DescribeInstanceTypes");
  ASSERT_EQ(result.outcome, Outcome::kGoodReply) << result.detail;
  EXPECT_GT(result.body.size(), 64u * 1024);
  std::size_t records = 0;
  for (std::size_t at = result.body.find("<InstanceTypeId>"); at != std::string::npos;
       at = result.body.find("<InstanceTypeId>", at + 1)) {
    ++records;
  }
  EXPECT_EQ(Count("InstanceTypeId"), records);
}

TEST_F(RemoteSimTest, UnknownAccessKeyIsAnErrorReply) {
  credentials_ = {"nobody", "nothing"};
  RequestResult result = Send("DescribeZones", "cn-beijing");
  EXPECT_EQ(result.outcome, Outcome::kErrorReply);
  EXPECT_EQ(Count("Code"), 1u);
  EXPECT_EQ(result.result_text, "");
}

}  // namespace
}  // namespace kestrune::catalogue
