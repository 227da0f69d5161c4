// The whole engine against the local simulator on 127.0.0.1: signing,
// exchange, error detection and every formatter over the simulator's replies.
// Every test is audited: the secret shows in no result, row, trace line,
// simulator log line or standard stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "report/result_list.h"
#include "report/trace_sink.h"
#include "request/clock.h"
#include "sim/clock.h"
#include "sim/server.h"
#include "tests/e2e/engine_audit.h"
#include "tests/support/secret_audit.h"

namespace kestrune::engine {
namespace {

using report::RecordingResultList;
using report::Row;

class RecordingTrace : public report::TraceSink {
 public:
  void Line(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

std::size_t CountRows(const std::vector<Row>& rows, std::string_view field) {
  return static_cast<std::size_t>(
      std::count_if(rows.begin(), rows.end(), [&](const Row& r) { return r.field == field; }));
}

std::size_t CountText(std::string_view text, std::string_view pattern) {
  std::size_t count = 0;
  for (std::size_t at = text.find(pattern); at != std::string_view::npos;
       at = text.find(pattern, at + pattern.size())) {
    ++count;
  }
  return count;
}

class SimE2eTest : public ::testing::Test {
 protected:
  void StartSim(sim::FaultPlan faults = {}, std::int64_t sim_clock_offset_ms = 0) {
    server_.reset();  // before the clock it reads
    shifted_sim_clock_ = std::make_unique<sim::OffsetClock>(sim_clock_, sim_clock_offset_ms);
    sim::ServerOptions options;
    options.gateway.faults = faults;
    options.gateway.throttle_rate = throttle_rate_;
    options.log_nonces = true;
    log_start_ = sim_log_.size();
    options.log = [this](std::string_view line) { sim_log_.emplace_back(line); };
    server_ = std::make_unique<sim::Server>(options, *shifted_sim_clock_);
    ASSERT_TRUE(server_->Start().ok());
    engine_options_.endpoint_override = "127.0.0.1:" + std::to_string(server_->port());
    engine_ = std::make_unique<Engine>(clock_, rows_, trace_, engine_options_);
  }
  void TearDown() override {
    if (server_) server_->Stop();
    // Rows and results were audited as each request ended (the next one
    // clears the rows).
    audit_.CheckLines("the trace", trace_.lines);
    audit_.CheckLines("the simulator's log", sim_log_);
    audit_.Finish();
  }

  RequestResult Send(unsigned service, std::string_view action,
                     std::vector<std::string> values = {}) {
    // The values of the template's parameters, in its order.
    const std::optional<catalogue::ResolvedAction> resolved =
        catalogue::ResolveActionName(service, action);
    catalogue::ParameterValues given;
    const catalogue::RequestTemplate* entry = resolved ? resolved->request_template : nullptr;
    for (std::size_t k = 0; entry != nullptr && k < values.size(); ++k) {
      given.Add(entry->parameter_names().Entry(k + 1), values[k]);
    }
    rows_.Clear();
    AuditSecretOf(audit_, credentials_);
    RequestResult result = engine_->Send(credentials_, resolved, given);
    AuditResult(audit_, result, rows_);
    return result;
  }

  static constexpr std::string_view kSecret = "kestrune-demo-secret";
  request::Credentials credentials_{"kestrune-demo-id", std::string(kSecret)};
  request::SystemClock clock_;
  sim::SystemClock sim_clock_;
  std::unique_ptr<sim::OffsetClock> shifted_sim_clock_;
  RecordingResultList rows_;
  RecordingTrace trace_;
  EngineOptions engine_options_;
  std::unique_ptr<sim::Server> server_;
  std::unique_ptr<Engine> engine_;
  std::vector<std::string> sim_log_;
  std::size_t log_start_ = 0;  // where the latest simulator's lines begin
  int throttle_rate_ = 0;

  // The latest simulator's request lines, split into words ("GET ecs Action
  // outcome status nonce=N token=T"); only once it has stopped.
  std::vector<std::vector<std::string>> RequestLines() {
    server_->Stop();
    std::vector<std::vector<std::string>> lines;
    for (std::size_t k = log_start_; k < sim_log_.size(); ++k) {
      if (!sim_log_[k].starts_with("GET ") && !sim_log_[k].starts_with("POST ")) continue;
      std::vector<std::string> words;
      std::istringstream in(sim_log_[k]);
      for (std::string word; in >> word;) words.push_back(word);
      lines.push_back(words);
    }
    return lines;
  }
  testsupport::SecretAudit audit_{{std::string(kSecret)}};
};

TEST_F(SimE2eTest, DescribeRegionsShowsEveryRegionInOrder) {
  StartSim();
  RequestResult result = Send(catalogue::kEcsService, "DescribeRegions");
  ASSERT_EQ(result.outcome, Outcome::kGoodReply) << result.detail << result.reply.body;
  EXPECT_EQ(result.result_text, "Action=DescribeRegions");
  const auto& rows = rows_.produced();
  const std::size_t regions = CountText(result.reply.body, "<Region>");
  ASSERT_GE(regions, 20u);
  ASSERT_EQ(rows.size(), 1 + 3 * regions + 1);
  EXPECT_EQ(rows[0].field, "RequestId");
  for (std::size_t i = 0; i < regions; ++i) {
    EXPECT_TRUE(rows[1 + 3 * i].record_break);
    EXPECT_EQ(rows[2 + 3 * i].field, "RegionId");
    EXPECT_EQ(rows[3 + 3 * i].field, "LocalName");
  }
  EXPECT_TRUE(rows.back().record_break);
  // The exchange's steps come first, each pieced together into a line.
  ASSERT_GE(trace_.lines.size(), 6u);
  EXPECT_EQ(trace_.lines[0], "Looking up hostname 127.0.0.1... found.");
  EXPECT_EQ(trace_.lines[5], "strtitle = RequestId (headreq, 738)");
}

// A request too long for a GET line goes as a signed form POST: the
// simulator verifies its signature and reads the parameters from the body.
TEST_F(SimE2eTest, FurtherParametersReachTheServiceInAFormPost) {
  engine_options_.accept_unknown_parameters = true;  // Padding is no parameter of the action
  StartSim();
  catalogue::ParameterValues values;
  values.Set("RegionId", "cn-shanghai");
  values.Set("PageSize", "2");
  values.Set("Padding", std::string(6000, 'p'));
  AuditSecretOf(audit_, credentials_);
  RequestResult result = engine_->Send(
      credentials_, catalogue::ResolveActionName(catalogue::kEcsService, "DescribeInstances"),
      values);
  AuditResult(audit_, result, rows_);
  ASSERT_EQ(result.outcome, Outcome::kGoodReply) << result.detail << result.reply.body;
  EXPECT_EQ(result.signed_request.rfind("POST / HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(CountRows(rows_.produced(), "InstanceId"), 2u);
}

TEST_F(SimE2eTest, DescribeZonesShowsTheZonesOfTheRegion) {
  StartSim();
  RequestResult result = Send(catalogue::kEcsService, "DescribeZones", {"cn-shenzhen"});
  ASSERT_EQ(result.outcome, Outcome::kGoodReply) << result.detail << result.reply.body;
  EXPECT_EQ(result.result_text, "Action=DescribeZones");
  const std::size_t zones = CountText(result.reply.body, "<Zone>");
  ASSERT_GE(zones, 1u);
  EXPECT_EQ(CountRows(rows_.produced(), "ZoneId"), zones);
  for (const auto& row : rows_.produced()) {
    if (row.field == "ZoneId") {
      EXPECT_EQ(row.info.rfind("cn-shenzhen", 0), 0u) << row.info;
    }
  }
}

TEST_F(SimE2eTest, InstanceStateFollowsStopAndStart) {
  StartSim();
  RequestResult status = Send(catalogue::kEcsService, "DescribeInstanceStatus", {"cn-shanghai"});
  ASSERT_EQ(status.outcome, Outcome::kGoodReply) << status.reply.body;
  const auto first = rows_.produced();
  const std::size_t instances = CountText(status.reply.body, "<InstanceStatus>");
  ASSERT_GE(instances, 1u);
  // RequestId, separator, three page fields, then a pass per record and the
  // closing separator.
  EXPECT_EQ(CountRows(first, "InstanceId"), instances);
  EXPECT_EQ(CountRows(first, "Status"), instances);
  auto id_row = std::find_if(first.begin(), first.end(),
                             [](const Row& r) { return r.field == "InstanceId"; });
  ASSERT_NE(id_row, first.end());
  const std::string instance = id_row->info;

  RequestResult stop = Send(catalogue::kEcsService, "StopInstance", {instance});
  ASSERT_EQ(stop.outcome, Outcome::kGoodReply) << stop.reply.body;
  Send(catalogue::kEcsService, "DescribeInstanceStatus", {"cn-shanghai"});
  const auto after = rows_.produced();
  auto stopped = std::find(after.begin(), after.end(), Row{"InstanceId", instance});
  ASSERT_NE(stopped, after.end());
  ASSERT_NE(stopped + 1, after.end());
  EXPECT_EQ(stopped[1], (Row{"Status", "Stopped"}));

  ASSERT_EQ(Send(catalogue::kEcsService, "StartInstance", {instance}).outcome, Outcome::kGoodReply);
}

TEST_F(SimE2eTest, DescribeInstancesShowsEveryInstanceRecord) {
  StartSim();
  RequestResult result = Send(catalogue::kEcsService, "DescribeInstances", {"cn-shanghai"});
  ASSERT_EQ(result.outcome, Outcome::kGoodReply) << result.detail << result.reply.body;
  const std::size_t records = CountText(result.reply.body, "<Instance>");
  ASSERT_GE(records, 2u);
  EXPECT_EQ(CountRows(rows_.produced(), "InstanceId"), records);
  EXPECT_EQ(CountRows(rows_.produced(), "HostName"), records);
  EXPECT_EQ(CountRows(rows_.produced(), "PageSize"), 1u);
}

TEST_F(SimE2eTest, LargeChunkedInstanceTypesReplyIsFormattedCompletely) {
  StartSim();
  RequestResult result = Send(catalogue::kEcsService, "DescribeInstanceTypes");
  ASSERT_EQ(result.outcome, Outcome::kGoodReply) << result.detail;
  EXPECT_GT(result.reply.body.size(), 64u * 1024);
  EXPECT_NE(result.reply.raw.find("Transfer-Encoding: chunked"), std::string::npos);
  const std::size_t types = CountText(result.reply.body, "<InstanceTypeId>");
  ASSERT_GE(types, 100u);
  EXPECT_EQ(CountRows(rows_.produced(), "InstanceTypeId"), types);
  EXPECT_EQ(CountRows(rows_.produced(), "CpuCoreCount"), types);
}

TEST_F(SimE2eTest, OtherFormattedActions) {
  StartSim();
  struct Case {
    std::string_view action;
    std::vector<std::string> values;
    std::string_view shown_field;
  };
  const Case cases[] = {
      {"DescribeInstanceVncUrl", {"cn-shanghai", ""}, "VncUrl"},
      {"DescribeUserdata", {"cn-shanghai", ""}, "UserData"},
      {"DescribeInstanceTypeFamilies", {"cn-shanghai"}, "InstanceTypeFamilyId"},
      {"DescribeTasks", {"cn-shanghai"}, "TaskId"},
      {"DescribeTaskAttribute", {"cn-shanghai", "t-1"}, "TaskId"},
      {"CancelTask", {"cn-shanghai", "t-1"}, "RequestId"},
  };
  // Instance-bound actions need a real instance id of the model.
  Send(catalogue::kEcsService, "DescribeInstanceStatus", {"cn-shanghai"});
  std::string instance;
  for (const auto& row : rows_.produced()) {
    if (row.field == "InstanceId") instance = row.info;
  }
  ASSERT_FALSE(instance.empty());
  for (Case c : cases) {
    if (c.values.size() == 2 && c.values[1].empty()) c.values[1] = instance;
    if (c.action == "DescribeTaskAttribute" || c.action == "CancelTask") {
      Send(catalogue::kEcsService, "DescribeTasks", {"cn-shanghai"});
      for (const auto& row : rows_.produced()) {
        if (row.field == "TaskId") c.values[1] = row.info;
      }
    }
    RequestResult result = Send(catalogue::kEcsService, c.action, c.values);
    ASSERT_EQ(result.outcome, Outcome::kGoodReply) << c.action << ": " << result.reply.body;
    EXPECT_EQ(result.result_text, "Action=" + std::string(c.action));
    EXPECT_GE(CountRows(rows_.produced(), c.shown_field), 1u)
        << c.action << ": " << result.reply.body;
  }
}

TEST_F(SimE2eTest, IotAndApiGatewayActionsSucceed) {
  StartSim();
  RequestResult iot = Send(catalogue::kIotService, "QueryDevice", {"a1B2c3", "10", "1"});
  EXPECT_EQ(iot.outcome, Outcome::kGoodReply) << iot.reply.body;
  RequestResult gateway = Send(catalogue::kApiGatewayService, "DescribeApiGroups");
  EXPECT_EQ(gateway.outcome, Outcome::kGoodReply) << gateway.reply.body;
  EXPECT_NE(gateway.reply.body.find("<RequestId>"), std::string::npos);
}

// A refused signature is explained from the service's own string to sign:
// the same string means the secret is wrong; a parameter changed on the way
// is named.
TEST_F(SimE2eTest, RefusedSignaturesAreDiagnosed) {
  StartSim();
  credentials_.access_key_secret = "a-wrong-secret-for-the-demo-id";
  audit_.AddSecret(std::string(credentials_.access_key_secret.view()));
  RequestResult wrong = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(wrong.outcome, Outcome::kErrorReply);
  ASSERT_EQ(wrong.notes.size(), 2u) << wrong.reply.body << "\n"
                                    << (wrong.notes.empty() ? "" : wrong.notes[0]);
  EXPECT_NE(wrong.notes[1].find("secret is not the one"), std::string::npos);

  credentials_.access_key_secret = std::string(kSecret);
  StartSim(sim::FaultPlan{.alter = "RegionId"});
  RequestResult altered = Send(catalogue::kEcsService, "DescribeZones", {"cn-hangzhou"});
  EXPECT_EQ(altered.outcome, Outcome::kErrorReply);
  ASSERT_FALSE(altered.notes.empty());
  EXPECT_EQ(altered.notes[0],
            "the service signed parameter \"RegionId\" differently from this request");
  EXPECT_EQ(altered.notes.back(), "the value was changed on the way (by a proxy, say)");
}

// A clock 20 minutes slow is measured from the refusal's Date header and
// repaired by one more request; the offset then holds for the next one.
TEST_F(SimE2eTest, ClockSkewIsRepairedInOneRetry) {
  StartSim({}, 1200 * 1000);
  RequestResult first = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(first.outcome, Outcome::kGoodReply) << first.reply.body;
  EXPECT_EQ(first.attempts, 2);
  ASSERT_EQ(first.notes.size(), 1u);
  EXPECT_NE(first.notes[0].find("20 min"), std::string::npos) << first.notes[0];
  EXPECT_NEAR(static_cast<double>(engine_->clock_offset().count()), 1200.0, 2.0);
  RequestResult second = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(second.attempts, 1);
}

TEST_F(SimE2eTest, UnknownAccessKeyShowsTheErrorRowsWithTheServiceGuidance) {
  StartSim();
  credentials_ = {"nobody", "nobody-secret-e5a0"};
  RequestResult result = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kErrorReply);
  EXPECT_EQ(result.result_text, "");
  const auto& rows = rows_.produced();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].field, "RequestId");
  EXPECT_EQ(rows[1], (Row{"HostId", "ecs.aliyuncs.com"}));
  EXPECT_EQ(rows[2], (Row{"Code", "InvalidAccessKeyId.NotFound"}));
  EXPECT_EQ(rows[3], (Row{"Message", "Specified access key is not found."}));
  EXPECT_EQ(rows[4].field, "Recommend");
  EXPECT_NE(rows[4].info.find("InvalidAccessKeyId.NotFound"), std::string::npos);
}

TEST_F(SimE2eTest, NonceUsedOnceThenSuccess) {
  StartSim(sim::FaultPlan{.nonce_used = 1});
  RequestResult result = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kGoodReply) << result.reply.body;
  EXPECT_EQ(result.attempts, 2);
}

TEST_F(SimE2eTest, NonceUsedForeverStopsAfterFourAttempts) {
  StartSim(sim::FaultPlan{.nonce_used = 100});
  RequestResult result = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kErrorReply);
  EXPECT_EQ(result.attempts, 4);
  EXPECT_EQ(CountRows(rows_.produced(), "Code"), 1u);
  // The engine still answers the next request normally.
  RequestResult next = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(next.outcome, Outcome::kErrorReply);  // the simulator keeps refusing
  EXPECT_EQ(next.attempts, 4);
}

// Each retry is signed afresh (a nonce never seen before) and carries the
// ClientToken of the first attempt.
TEST_F(SimE2eTest, RetriesCarryNewNoncesAndTheSameClientToken) {
  StartSim(sim::FaultPlan{.unavailable = 2});
  const RequestResult result =
      Send(catalogue::kEcsService, "CreateDisk", {"cn-hangzhou", "cn-hangzhou-b"});
  EXPECT_EQ(result.attempts, 3);
  const auto lines = RequestLines();
  ASSERT_EQ(lines.size(), 3u);
  std::set<std::string> nonces;
  for (const auto& words : lines) {
    ASSERT_EQ(words.size(), 7u);
    EXPECT_EQ(words[2], "CreateDisk");
    nonces.insert(words[5]);
    EXPECT_EQ(words[6], lines[0][6]);
  }
  EXPECT_EQ(lines[0][3], "ServiceUnavailable");
  EXPECT_EQ(nonces.size(), 3u);
  EXPECT_NE(lines[0][6], "token=-");
}

// A change whose connection was lost after the service carried it out (or
// closed before any reply) is not sent again, and the user is told it may
// have been done.
TEST_F(SimE2eTest, LostChangeIsNotSentAgain) {
  StartSim();
  Send(catalogue::kEcsService, "DescribeInstanceStatus", {"cn-shanghai"});
  const auto id_row = std::find_if(rows_.produced().begin(), rows_.produced().end(),
                                   [](const Row& r) { return r.field == "InstanceId"; });
  ASSERT_NE(id_row, rows_.produced().end());
  const std::string instance = id_row->info;  // the simulator's worlds all start alike

  for (const sim::FaultPlan& fault : {sim::FaultPlan{.reset = 1}, sim::FaultPlan{.close = 1}}) {
    StartSim(fault);
    const RequestResult stop = Send(catalogue::kEcsService, "StopInstance", {instance});
    EXPECT_EQ(stop.outcome, Outcome::kConnectionFailed);
    EXPECT_EQ(stop.attempts, 1);
    ASSERT_FALSE(stop.notes.empty());
    EXPECT_NE(stop.notes[0].find("may have been carried out"), std::string::npos);
    const RequestResult read =
        Send(catalogue::kEcsService, "DescribeInstanceStatus", {"cn-shanghai"});
    EXPECT_EQ(read.outcome, Outcome::kGoodReply);
    const auto lines = RequestLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0][2], "StopInstance");
  }
}

// Past its rate the simulator throttles; each throttled read waits for the
// time the rate-limit header gives and then goes through.
TEST_F(SimE2eTest, ThrottledReadsWaitAndGoThrough) {
  throttle_rate_ = 1;
  StartSim();
  int attempts = 0;
  for (int k = 0; k < 3; ++k) {
    const RequestResult result = Send(catalogue::kEcsService, "DescribeRegions");
    EXPECT_EQ(result.outcome, Outcome::kGoodReply) << result.reply.body;
    attempts += result.attempts;
  }
  const auto lines = RequestLines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(attempts));
  const auto throttled = std::count_if(
      lines.begin(), lines.end(), [](const auto& words) { return words[3] == "Throttling.User"; });
  EXPECT_EQ(throttled, attempts - 3);
  EXPECT_GE(throttled, 1);  // three reads at once cannot all fall in seconds of their own
}

TEST_F(SimE2eTest, SilentServerTimesOut) {
  engine_options_.idle_timeout = std::chrono::milliseconds(300);
  StartSim(sim::FaultPlan{.delay_ms = 3000});
  RequestResult result = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kConnectionFailed);
  EXPECT_EQ(result.result_text, "");  // the faces word it
}

TEST_F(SimE2eTest, BadGatewayPageIsReportedNotFormatted) {
  engine_options_.max_attempts = 1;  // a read would be retried past the page
  StartSim(sim::FaultPlan{.bad_gateway = 1});
  RequestResult result = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kHttpError);
  EXPECT_NE(result.result_text.find("502"), std::string::npos);
  EXPECT_TRUE(rows_.produced().empty());
  EXPECT_EQ(Send(catalogue::kEcsService, "DescribeRegions").outcome, Outcome::kGoodReply);
}

TEST_F(SimE2eTest, RefusedConnectionFailsCleanly) {
  StartSim();
  const std::string address = engine_options_.endpoint_override;
  server_->Stop();
  server_.reset();
  RequestResult result = Send(catalogue::kEcsService, "DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kConnectionFailed);
  EXPECT_EQ(result.result_text, "");  // the faces word it
}

}  // namespace
}  // namespace kestrune::engine
