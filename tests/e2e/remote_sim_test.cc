// The engine against a simulator that runs outside this process, given as
// KESTRUNE_TEST_SIM=host:port. This is how the Windows build, running under
// Wine, is proven against the simulator running natively on the same machine;
// ctest starts that simulator as a fixture and cmake/test-env.sh sets the
// variable (natively too). With KESTRUNE_TEST_SIM_LOG naming the simulator's
// log file, the secret audit reads that log too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/engine.h"
#include "report/result_list.h"
#include "report/trace_sink.h"
#include "request/clock.h"
#include "tests/e2e/engine_audit.h"
#include "tests/support/secret_audit.h"

namespace kestrune::engine {
namespace {

class RemoteSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* address = std::getenv("KESTRUNE_TEST_SIM");
    if (!address || !*address) {
      FAIL() << "KESTRUNE_TEST_SIM is not set: run through ctest, which starts the simulator";
    }
    options_.endpoint_override = address;
  }

  void TearDown() override {
    audit_.CheckLines("the trace", trace_.lines());
    const char* log = std::getenv("KESTRUNE_TEST_SIM_LOG");
    if (log && *log) {
      std::ifstream in(log, std::ios::binary);
      EXPECT_TRUE(in) << "cannot read the simulator's log " << log;
      audit_.CheckText("the simulator's log", std::string(std::istreambuf_iterator<char>(in),
                                                          std::istreambuf_iterator<char>()));
    }
    audit_.Finish();
  }

  RequestResult Send(std::string_view action, const char* region = nullptr) {
    catalogue::ParameterValues values;
    if (region) values.Set("RegionId", region);
    rows_.Clear();
    Engine engine(clock_, rows_, trace_, options_);
    AuditSecretOf(audit_, credentials_);
    RequestResult result = engine.Send(
        credentials_, catalogue::ResolveActionName(catalogue::kEcsService, action), values);
    AuditResult(audit_, result, rows_);
    return result;
  }

  std::size_t Count(std::string_view field) const {
    std::size_t n = 0;
    for (const auto& row : rows_.produced()) n += row.field == field;
    return n;
  }

  request::Credentials credentials_{"kestrune-demo-id", "kestrune-demo-secret"};
  request::SystemClock clock_;
  report::RecordingResultList rows_;
  report::RecordingTraceSink trace_;
  EngineOptions options_;
  testsupport::SecretAudit audit_{{std::string(credentials_.access_key_secret.view())}};
};

TEST_F(RemoteSimTest, DescribeRegionsIsSignedAcceptedAndFormatted) {
  RequestResult result = Send("DescribeRegions");
  ASSERT_EQ(result.outcome, Outcome::kGoodReply) << result.detail << result.reply.body;
  EXPECT_EQ(result.result_text, "Action=DescribeRegions");
  ASSERT_FALSE(rows_.produced().empty());
  EXPECT_EQ(rows_.produced()[0].field, "RequestId");
  EXPECT_GE(Count("RegionId"), 20u);
  EXPECT_EQ(Count("RegionId"), Count("LocalName"));
}

TEST_F(RemoteSimTest, LargeChunkedReplyIsFormattedCompletely) {
  RequestResult result = Send("DescribeInstanceTypes");
  ASSERT_EQ(result.outcome, Outcome::kGoodReply) << result.detail;
  EXPECT_GT(result.reply.body.size(), 64u * 1024);
  std::size_t records = 0;
  for (std::size_t at = result.reply.body.find("<InstanceTypeId>"); at != std::string::npos;
       at = result.reply.body.find("<InstanceTypeId>", at + 1)) {
    ++records;
  }
  EXPECT_EQ(Count("InstanceTypeId"), records);
}

TEST_F(RemoteSimTest, UnknownAccessKeyIsAnErrorReply) {
  credentials_ = {"nobody", "nobody-secret-e5a0"};
  RequestResult result = Send("DescribeZones", "cn-beijing");
  EXPECT_EQ(result.outcome, Outcome::kErrorReply);
  EXPECT_EQ(Count("Code"), 1u);
  EXPECT_EQ(result.result_text, "");
}

}  // namespace
}  // namespace kestrune::engine
