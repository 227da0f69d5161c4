// The engine's request driving against a scripted transport: repeats on a used
// nonce, error rows, proxy pages, connection failures and choices that must
// send nothing. Every test is audited: the secret shows in no result, row,
// trace line, request sent or standard stream.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/paging.h"
#include "engine/destination.h"
#include "report/result_list.h"
#include "report/trace_sink.h"
#include "request/clock.h"
#include "request/http_message.h"
#include "tests/e2e/engine_audit.h"
#include "tests/support/secret_audit.h"

namespace kestrune::engine {
namespace {

using report::RecordingResultList;
using report::Row;

// Answers each exchange with the next scripted reply and records every
// request it was given.
// A reply that is `status` alone: no head, no body.
TransportReply ReplyOf(core::Status status) {
  TransportReply reply;
  reply.status = std::move(status);
  return reply;
}

class ScriptedTransport : public Transport {
 public:
  TransportReply Exchange(const request::ServiceEndpoint& endpoint,
                          const request::HttpRequest& request) override {
    hosts.push_back(endpoint.host);
    requests.push_back(request::WriteHttpRequest(request));
    if (replies.empty()) return ReplyOf(core::Status::Connection("no reply scripted"));
    TransportReply reply = replies.front();
    if (replies.size() > 1 || !repeat_last) replies.pop_front();
    return reply;
  }

  static TransportReply Ok(std::string body, int status = 200,
                           std::string status_line = "HTTP/1.1 200 OK") {
    return WithHead(status, status_line + "\r\n\r\n", body);
  }

  // A reply whose head is `head` as the transport would have read it.
  static TransportReply WithHead(int status, std::string head, std::string body) {
    TransportReply reply;
    reply.head = request::ParseHttpHead(head).value();
    reply.head.status = status;
    reply.raw = std::move(head) + body;
    reply.body = std::move(body);
    return reply;
  }

  std::deque<TransportReply> replies;
  bool repeat_last = false;
  std::vector<std::string> requests;
  std::vector<std::string> hosts;
};

class RecordingTrace : public report::TraceSink {
 public:
  void Line(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

// A clock whose milliseconds advance on every reading, so that repeated
// attempts are told apart by their nonces.
class TickingClock : public request::Clock {
 public:
  request::UtcInstant NowUtc() const override {
    request::UtcInstant now{2024, 3, 5, 14, 7, 9, 0};
    now.millisecond = static_cast<int>(ticks_++ % 1000);
    return now;
  }

 private:
  mutable unsigned ticks_ = 1;
};

const std::string kNonceUsed =
    "<?xml version='1.0' encoding='UTF-8'?><Error><RequestId>R-1</RequestId><HostId>"
    "ecs.aliyuncs.com</HostId><Code>SignatureNonceUsed</Code><Message>Specified signature "
    "nonce was used already.</Message></Error>";

const std::string kRegions =
    "<?xml version='1.0' encoding='UTF-8'?><DescribeRegionsResponse><RequestId>R-2</RequestId>"
    "<Regions><Region><RegionId>cn-qingdao</RegionId><LocalName>华北 1</LocalName></Region>"
    "</Regions></DescribeRegionsResponse>";

std::string NonceOf(const std::string& request) {
  std::size_t at = request.find("SignatureNonce=");
  return request.substr(at + 15, 7);
}

constexpr char kSecret[] = "engine-test-secret-71d4";

catalogue::ParameterValues InRegion() {
  catalogue::ParameterValues values;
  values.Set("RegionId", "cn-hangzhou");
  return values;
}

// What the service requires of the actions these tests send.
catalogue::ParameterValues Required(std::string_view action) {
  if (action != "StopInstance") return InRegion();
  catalogue::ParameterValues values;
  values.Set("InstanceId", "i-1");
  return values;
}

class EngineTest : public ::testing::Test {
 protected:
  RequestResult Send(std::string_view service_action, unsigned service = catalogue::kEcsService,
                     catalogue::ParameterValues values = {}) {
    AuditSecretOf(audit, credentials);
    RequestResult result =
        engine.Send(credentials, catalogue::ResolveActionName(service, service_action), values);
    AuditResult(audit, result, rows);
    return result;
  }

  void SetUp() override {
    engine.set_wait([this](std::chrono::milliseconds wait) { waits.push_back(wait); });
  }

  void TearDown() override {
    audit.CheckLines("the trace", trace.lines);
    audit.CheckLines("the requests sent", transport.requests);
    audit.Finish();
  }

  TickingClock clock;
  RecordingResultList rows;
  RecordingTrace trace;
  ScriptedTransport transport;
  Engine engine{clock, rows, trace, transport};
  std::vector<std::chrono::milliseconds> waits;
  request::Credentials credentials{"testid", kSecret};
  testsupport::SecretAudit audit{{kSecret}};
};

TEST_F(EngineTest, GoodReplyIsFormattedAndReportsTheActionLine) {
  transport.replies.push_back(ScriptedTransport::Ok(kRegions));
  RequestResult result = Send("DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kGoodReply);
  EXPECT_TRUE(result.formatted);
  EXPECT_EQ(result.result_text, "Action=DescribeRegions");
  EXPECT_EQ(result.attempts, 1);
  ASSERT_EQ(transport.hosts.size(), 1u);
  EXPECT_EQ(transport.hosts[0], "ecs.aliyuncs.com");
  const std::vector<Row> expected = {{"RequestId", "R-2"},
                                     report::Row::Break(),
                                     {"RegionId", "cn-qingdao"},
                                     {"LocalName", "华北 1"},
                                     report::Row::Break()};
  EXPECT_EQ(rows.produced(), expected);
}

// Refused for its signature version: signed again in version 3, once only.
TEST_F(EngineTest, UnsupportedSignatureVersionIsSignedAgainAsVersionThreeOnce) {
  const TransportReply refused = ScriptedTransport::Ok(
      "<Error><RequestId>R-9</RequestId><Code>UnsupportedSignatureVersion</Code></Error>", 400,
      "HTTP/1.1 400 Bad Request");
  transport.replies = {refused, ScriptedTransport::Ok(kRegions)};
  RequestResult result = Send("DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kGoodReply);
  ASSERT_EQ(transport.requests.size(), 2u);
  EXPECT_NE(transport.requests[0].find("SignatureVersion=1.0"), std::string::npos);
  EXPECT_NE(transport.requests[1].find("Authorization: ACS3-HMAC-SHA256 "), std::string::npos);
  ASSERT_EQ(result.notes.size(), 1u);
  EXPECT_NE(result.notes[0].find("signature version 3"), std::string::npos);

  transport.requests.clear();
  transport.replies = {refused, refused, refused};
  EXPECT_EQ(Send("DescribeRegions").outcome, Outcome::kErrorReply);
  EXPECT_EQ(transport.requests.size(), 2u);
}

TEST_F(EngineTest, UsedNonceIsRetriedWithAFreshNonceAndTimestamp) {
  transport.replies.push_back(ScriptedTransport::Ok(kNonceUsed, 400, "HTTP/1.1 400 Bad Request"));
  transport.replies.push_back(ScriptedTransport::Ok(kRegions));
  RequestResult result = Send("DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kGoodReply);
  EXPECT_EQ(result.attempts, 2);
  ASSERT_EQ(transport.requests.size(), 2u);
  EXPECT_NE(NonceOf(transport.requests[0]), NonceOf(transport.requests[1]));
  // Only the good reply's rows are shown.
  ASSERT_FALSE(rows.produced().empty());
  EXPECT_EQ(rows.produced()[0], (Row{"RequestId", "R-2"}));
}

TEST_F(EngineTest, UsedNonceForeverStopsAfterFourAttemptsAndShowsTheError) {
  transport.replies.push_back(ScriptedTransport::Ok(kNonceUsed, 400, "HTTP/1.1 400 Bad Request"));
  transport.repeat_last = true;
  RequestResult result = Send("DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kErrorReply);
  EXPECT_EQ(result.attempts, 4);
  EXPECT_EQ(transport.requests.size(), 4u);
  EXPECT_EQ(result.result_text, "");
  const std::vector<Row> expected = {{"RequestId", "R-1"},
                                     {"HostId", "ecs.aliyuncs.com"},
                                     {"Code", "SignatureNonceUsed"},
                                     {"Message", "Specified signature nonce was used already."}};
  EXPECT_EQ(rows.produced(), expected);
}

TEST_F(EngineTest, ErrorReplyShowsItsFieldsInOrderAndSkipsAbsentOnes) {
  transport.replies.push_back(ScriptedTransport::Ok(
      "<Error><RequestId>R-3</RequestId><Code>InvalidAccessKeyId.NotFound</Code><Message>"
      "Specified access key is not found.</Message></Error>",
      404, "HTTP/1.1 404 Not Found"));
  RequestResult result = Send("DescribeInstances", catalogue::kEcsService, InRegion());
  EXPECT_EQ(result.outcome, Outcome::kErrorReply);
  EXPECT_EQ(result.result_text, "");
  const std::vector<Row> expected = {{"RequestId", "R-3"},
                                     {"Code", "InvalidAccessKeyId.NotFound"},
                                     {"Message", "Specified access key is not found."}};
  EXPECT_EQ(rows.produced(), expected);
}

TEST_F(EngineTest, NonceUsedOutsideAnErrorDocumentIsAGoodReply) {
  transport.replies.push_back(
      ScriptedTransport::Ok("<DescribeRegionsResponse><RequestId>SignatureNonceUsed</RequestId>"
                            "</DescribeRegionsResponse>"));
  RequestResult result = Send("DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kGoodReply);
  EXPECT_EQ(result.attempts, 1);
}

TEST_F(EngineTest, ProxyPageWithoutErrorDocumentIsNotASuccess) {
  transport.replies.push_back(ScriptedTransport::Ok(
      "<html><body><h1>502 Bad Gateway</h1><RequestId>x</RequestId></body></html>", 502,
      "HTTP/1.1 502 Bad Gateway"));
  transport.repeat_last = true;  // a read is retried past a 5xx, to no avail here
  RequestResult result = Send("DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kHttpError);
  EXPECT_EQ(result.attempts, 4);
  EXPECT_EQ(result.result_text, "HTTP/1.1 502 Bad Gateway");
  EXPECT_TRUE(rows.produced().empty());
}

TEST_F(EngineTest, FailedExchangeShowsTheConnectionMessage) {
  transport.replies.push_back(ReplyOf(core::Status::Connection("could not connect.")));
  RequestResult result = Send("DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kConnectionFailed);
  EXPECT_EQ(result.result_text, "");  // the faces word it
  EXPECT_EQ(result.detail, "could not connect.");
  EXPECT_TRUE(rows.produced().empty());
}

TEST_F(EngineTest, ServerClosingWithoutAReplyIsAConnectionFailure) {
  transport.replies.push_back(ReplyOf(core::Status::Ok()));
  RequestResult result = Send("DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kConnectionFailed);
  EXPECT_EQ(result.result_text, "");  // the faces word it
  EXPECT_TRUE(rows.produced().empty());
}

TEST_F(EngineTest, AChoiceWithoutATemplateSendsItsOwnActionAndShowsEveryLeaf) {
  // AttachInstanceRamRole (ECS category 1, entry 10) has no template.
  catalogue::ParameterValues values;
  values.Set("InstanceIds", "[\"i-1\"]");
  values.Set("RamRoleName", "r");
  values.Set("RegionId", "cn-hangzhou");
  transport.replies.push_back(ScriptedTransport::Ok(
      "<AttachInstanceRamRoleResponse><RequestId>R-9</RequestId><TotalCount>1</TotalCount>"
      "</AttachInstanceRamRoleResponse>"));
  RequestResult result = engine.Send(credentials, catalogue::ResolveBrowsingEntry(0, 0, 9), values);
  EXPECT_EQ(result.outcome, Outcome::kGoodReply);
  ASSERT_EQ(transport.requests.size(), 1u);
  EXPECT_NE(transport.requests[0].find("&Action=AttachInstanceRamRole&InstanceIds=%5B%22i-1%22%5D"
                                       "&RamRoleName=r&RegionId=cn-hangzhou HTTP/1.1\r\n"),
            std::string::npos)
      << transport.requests[0];
  EXPECT_TRUE(result.leaves_shown);
  EXPECT_EQ(rows.produced().size(), 2u);

  result = engine.Send(credentials, std::nullopt, {});
  EXPECT_EQ(result.outcome, Outcome::kNotSupported);
  EXPECT_EQ(transport.requests.size(), 1u);
}

TEST_F(EngineTest, RefusedInputSendsNothingAndNeverShowsTheSecret) {
  // One over the limit; Send() has the audit look for it in the reason given.
  credentials.access_key_secret = "engine-over-long-secret-" + std::string(25, 'x');
  RequestResult result = Send("DescribeRegions");
  EXPECT_EQ(result.outcome, Outcome::kRefused);
  EXPECT_FALSE(result.detail.empty());
  EXPECT_TRUE(transport.requests.empty());

  credentials.access_key_secret = kSecret;
  catalogue::ParameterValues values;
  values.Set("RegionId", std::string(request::kItemLimit, 'r'));
  result = Send("DescribeZones", catalogue::kEcsService, values);
  EXPECT_EQ(result.outcome, Outcome::kRefused);
  EXPECT_TRUE(transport.requests.empty());
}

TEST_F(EngineTest, ValuesBindToTheChosenActionAndServiceHost) {
  catalogue::ParameterValues values;
  values.Set("InstanceId", "i-123");
  transport.replies.push_back(ScriptedTransport::Ok(
      "<StopInstanceResponse><RequestId>R-4</RequestId></StopInstanceResponse>"));
  RequestResult result = Send("StopInstance", catalogue::kEcsService, values);
  EXPECT_EQ(result.outcome, Outcome::kGoodReply);
  ASSERT_EQ(transport.requests.size(), 1u);
  EXPECT_NE(transport.requests[0].find("&&Signature="), std::string::npos);
  EXPECT_NE(transport.requests[0].find("&Action=StopInstance&InstanceId=i-123 HTTP/1.1\r\n"),
            std::string::npos);

  transport.replies.push_back(ScriptedTransport::Ok("<R><RequestId>R-5</RequestId></R>"));
  result = Send("QueryApplyStatus", catalogue::kIotService);
  EXPECT_EQ(result.outcome, Outcome::kGoodReply);
  EXPECT_FALSE(result.formatted);
  EXPECT_EQ(result.result_text, "");
  EXPECT_EQ(transport.hosts.back(), "iot.aliyuncs.com");
  EXPECT_NE(transport.requests.back().find("Version=2016-05-30"), std::string::npos);
}

// The request's region chooses its host (its own RegionId before the
// options' region); a host named as the endpoint is the Host header itself.
TEST_F(EngineTest, TheRegionOrTheNamedEndpointChoosesTheHost) {
  // DescribeRegions takes no RegionId of its own; DescribeZones needs one.
  auto send = [&](const EngineOptions& options, catalogue::ParameterValues values,
                  std::string_view action = "DescribeZones") {
    Engine chosen(clock, rows, trace, transport, options);
    transport.replies.push_back(ScriptedTransport::Ok(kRegions));
    AuditSecretOf(audit, credentials);
    return chosen.Send(credentials, catalogue::ResolveActionName(catalogue::kEcsService, action),
                       values);
  };
  EngineOptions options;
  options.region = "eu-central-1";
  EXPECT_EQ(send(options, {}, "DescribeRegions").outcome, Outcome::kGoodReply);
  EXPECT_EQ(transport.hosts.back(), "ecs.eu-central-1.aliyuncs.com");

  catalogue::ParameterValues own_region;
  own_region.Set("RegionId", "cn-hangzhou");
  options.endpoint_type = catalogue::EndpointType::kVpc;
  EXPECT_EQ(send(options, own_region).outcome, Outcome::kGoodReply);
  EXPECT_EQ(transport.hosts.back(), "ecs-vpc.cn-hangzhou.aliyuncs.com");

  options.host = "gw.example";
  EXPECT_EQ(send(options, own_region).outcome, Outcome::kGoodReply);
  EXPECT_NE(transport.requests.back().find("\r\nHost: gw.example\r\n"), std::string::npos);
}

// --endpoint (else ALIBABA_CLOUD_ENDPOINT) names the host; KESTRUNE_ENDPOINT
// only says where to send, and --endpoint replaces it.
TEST(ChooseEndpointTest, NamesTheHostOrOnlyWhereToSend) {
  struct Case {
    EndpointTexts texts;
    const char* host;
    const char* endpoint_override;
  } cases[] = {
      {{"ecs.cn-hangzhou.aliyuncs.com", {}, "127.0.0.1:8300"},
       "ecs.cn-hangzhou.aliyuncs.com",
       "https://ecs.cn-hangzhou.aliyuncs.com:443"},
      {{"127.0.0.1:9", "gw.example", "127.0.0.1:8300"}, "", "127.0.0.1:9"},
      {{{}, "gw.example:8443", {}}, "gw.example", "https://gw.example:8443"},
  };
  for (const Case& c : cases) {
    EngineOptions options;
    ASSERT_TRUE(ChooseEndpoint(c.texts, options).ok());
    EXPECT_EQ(options.host, c.host);
    EXPECT_EQ(options.endpoint_override, c.endpoint_override);
  }
}

TEST_F(EngineTest, TheSecretNeverReachesTraceOrRequest) {
  transport.replies.push_back(ScriptedTransport::Ok(kNonceUsed, 400, "HTTP/1.1 400 Bad Request"));
  transport.repeat_last = true;
  Send("DescribeRegions");
  // Four signed requests and their traces, all audited when the test ends.
  EXPECT_EQ(transport.requests.size(), 4u);
  EXPECT_FALSE(trace.lines.empty());
}

std::string ErrorDocument(std::string_view code, std::string_view message) {
  return "<?xml version='1.0' encoding='UTF-8'?><Error><RequestId>R-E</RequestId><HostId>"
         "ecs.aliyuncs.com</HostId><Code>" +
         std::string(code) + "</Code><Message>" + std::string(message) + "</Message></Error>";
}

TransportReply Failed(transport::FailureStage stage) {
  TransportReply reply = ReplyOf(core::Status::Connection("the exchange failed"));
  reply.failure = stage;
  return reply;
}

// The retry rule, case by case: what the first attempt came to, and for a
// read, a change that takes a ClientToken and any other change, whether a
// second attempt (answered well) was made. The service's word counts only in
// the Code element or its retry header, never in other text of the body.
TEST_F(EngineTest, RetriesOnlyWhatCannotBeCarriedOutTwice) {
  struct Case {
    std::string what;
    TransportReply first;
    bool read, token, change;  // retried for DescribeInstances, RunInstances, StopInstance
    std::chrono::milliseconds least_wait{0};
  };
  auto error = [](int status, std::string_view code, std::string_view message,
                  std::string_view headers = "") {
    return ScriptedTransport::WithHead(
        status,
        "HTTP/1.1 " + std::to_string(status) + " Whatever\r\n" + std::string(headers) + "\r\n",
        ErrorDocument(code, message));
  };
  const Case cases[] = {
      {"throttled", error(400, "Throttling.User", "Request was denied due to user flow control."),
       true, true, true},
      {"throttled, plain", error(400, "Throttling", "Request was denied."), true, true, true},
      {"rate-limit headers",
       error(400, "Throttling.Api", "denied",
             "x-ratelimit-user-api: Limit:10,Remain:0,TimeLeft:900,Reset:0\r\n"),
       true, true, true, std::chrono::milliseconds(900)},
      {"unavailable", error(503, "ServiceUnavailable", "The service is unavailable."), true, true,
       true},
      {"nonce used", error(400, "SignatureNonceUsed", "Specified signature nonce was used."), true,
       true, true},
      {"asked to retry later", error(400, "Busy", "later", "x-acs-retry-after: 1500\r\n"), true,
       true, true, std::chrono::milliseconds(1500)},
      {"internal error naming a used nonce",
       error(500, "InternalError", "failed after SignatureNonceUsed"), true, true, false},
      {"refusal naming throttling", error(400, "InvalidParameter", "Throttling.User is no value"),
       false, false, false},
      {"not found", error(404, "InvalidInstanceId.NotFound", "none"), false, false, false},
      {"proxy page", ScriptedTransport::Ok("<html>502</html>", 502, "HTTP/1.1 502 Bad Gateway"),
       true, true, false},
      {"nothing sent", Failed(transport::FailureStage::kBeforeSending), true, true, true},
      {"lost after sending", Failed(transport::FailureStage::kAfterSending), true, true, false},
      {"closed without a reply", ScriptedTransport::Ok("", 0, ""), true, true, false},
      {"beyond repair", Failed(transport::FailureStage::kFinal), false, false, false},
  };
  for (const Case& c : cases) {
    for (const auto& [action, retried] :
         {std::pair{"DescribeInstances", c.read}, std::pair{"RunInstances", c.token},
          std::pair{"StopInstance", c.change}}) {
      SCOPED_TRACE(c.what + ", " + action);
      transport.requests.clear();
      waits.clear();
      transport.replies = {c.first, ScriptedTransport::Ok("<R><RequestId>R-OK</RequestId></R>")};
      const RequestResult result = Send(action, catalogue::kEcsService, Required(action));
      EXPECT_EQ(result.attempts, retried ? 2 : 1);
      EXPECT_EQ(result.outcome == Outcome::kGoodReply, retried);
      EXPECT_TRUE(!retried || result.detail.empty()) << result.detail;  // none of the failure's
      if (retried) {
        ASSERT_EQ(waits.size(), 1u);
        EXPECT_GE(waits[0], c.least_wait);
        EXPECT_LE(waits[0], std::max(c.least_wait, std::chrono::milliseconds(200)));
        EXPECT_NE(NonceOf(transport.requests[0]), NonceOf(transport.requests[1]));
      }
      const bool unknown = !retried && (c.read || c.token);
      const bool says_unknown =
          std::any_of(result.notes.begin(), result.notes.end(), [](const std::string& note) {
            return note.find("may have been carried out") != std::string::npos;
          });
      EXPECT_EQ(says_unknown, unknown);
    }
  }
}

std::string ClientTokenOf(const std::string& request) {
  const std::size_t at = request.find("&ClientToken=");
  if (at == std::string::npos) return {};
  return request.substr(at + 13, request.find_first_of("& ", at + 13) - at - 13);
}

// A ClientToken of its own for each request of a change that takes one
// (kept on its retries, as the simulator's log shows), unless the user gave
// one; none for an action that takes none.
TEST_F(EngineTest, OneClientTokenForEachRequest) {
  const TransportReply throttled = ScriptedTransport::Ok(ErrorDocument("Throttling.User", "denied"),
                                                         400, "HTTP/1.1 400 Bad Request");
  transport.replies = {ScriptedTransport::Ok("<R></R>"), ScriptedTransport::Ok("<R></R>")};
  Send("RunInstances", catalogue::kEcsService, InRegion());
  Send("RunInstances", catalogue::kEcsService, InRegion());
  ASSERT_EQ(transport.requests.size(), 2u);
  EXPECT_EQ(ClientTokenOf(transport.requests[0]).size(), 36u);
  EXPECT_NE(ClientTokenOf(transport.requests[1]), ClientTokenOf(transport.requests[0]));

  catalogue::ParameterValues given = InRegion();
  given.Set("ClientToken", "mine-1");
  transport.replies = {throttled, ScriptedTransport::Ok("<R></R>")};
  EXPECT_EQ(Send("CreateDisk", catalogue::kEcsService, given).attempts, 2);
  EXPECT_EQ(ClientTokenOf(transport.requests[2]), "mine-1");
  EXPECT_EQ(ClientTokenOf(transport.requests[3]), "mine-1");

  transport.replies = {ScriptedTransport::Ok("<R></R>")};
  Send("StopInstance", catalogue::kEcsService, Required("StopInstance"));
  EXPECT_EQ(ClientTokenOf(transport.requests.back()), "");
}

// A walk's rows reach the face page by page: the first page's rows before the
// second page is asked for, and all of them, in order, the very rows a walk
// that joins the pages shows (the head once, from the first page).
TEST_F(EngineTest, AWalkHandsOnEachPagesRowsBeforeAskingForTheNext) {
  const auto page = [](int number, std::initializer_list<const char*> names) {
    std::string body = "<DescribeInstancesResponse><RequestId>R-" + std::to_string(number) +
                       "</RequestId><TotalCount>5</TotalCount><PageNumber>" +
                       std::to_string(number) + "</PageNumber><PageSize>2</PageSize><Instances>";
    for (const char* name : names) {
      body += std::string("<Instance><InstanceId>i-") + name + "</InstanceId><InstanceName>" +
              name + "</InstanceName></Instance>";
    }
    return ScriptedTransport::Ok(body + "</Instances></DescribeInstancesResponse>");
  };
  const auto script = [&] {
    transport.replies = {page(1, {"a", "b"}), page(2, {"c", "d"}), page(3, {"e"})};
  };
  const std::optional<catalogue::ResolvedAction> action =
      catalogue::ResolveActionName(catalogue::kEcsService, "DescribeInstances");
  const std::optional<catalogue::PagingInfo> paging =
      catalogue::PagingOf(catalogue::kEcsService, "DescribeInstances");
  ASSERT_TRUE(action && paging);
  AuditSecretOf(audit, credentials);
  const catalogue::ParameterValues region = InRegion();

  script();
  const RequestResult joined = engine.SendAllPages(credentials, *action, region, *paging);
  ASSERT_EQ(joined.outcome, Outcome::kGoodReply);
  const std::vector<Row> joined_rows = rows.TakeProduced();
  ASSERT_GT(joined_rows.size(), 10u);

  script();
  transport.requests.clear();
  std::vector<Row> streamed;
  std::vector<std::size_t> requests_at_each_page;
  const RequestResult walked =
      engine.SendAllPages(credentials, *action, region, *paging, [&](std::vector<Row> page_rows) {
        requests_at_each_page.push_back(transport.requests.size());
        streamed.insert(streamed.end(), page_rows.begin(), page_rows.end());
      });
  EXPECT_EQ(walked.outcome, Outcome::kGoodReply);
  EXPECT_EQ(walked.walk.pages, 3);
  EXPECT_TRUE(walked.formatted);
  EXPECT_EQ(walked.result_text, joined.result_text);
  EXPECT_TRUE(walked.reply.body.empty());
  EXPECT_TRUE(rows.produced().empty());
  EXPECT_EQ(requests_at_each_page, (std::vector<std::size_t>{1, 2, 3, 3}));
  EXPECT_EQ(streamed, joined_rows);
}

// Temporary credentials are asked for before every page of a walk: one fetch
// serves while they last, the page that comes with less than three minutes
// left signs with a renewed key, and a renewal that fails stops the walk
// before that page is sent.
TEST_F(EngineTest, AWalkLongerThanTheCredentialsLifeRenewsThemInTheMiddle) {
  request::FixedClock wall(request::UtcInstant{2026, 12, 8, 10, 0, 0, 0});
  struct HourKeys final : request::CredentialProvider {
    HourKeys(const request::Clock& c, int& n, int last) : clock(c), fetches(n), good(last) {}
    core::Result<request::IssuedCredentials> Fetch() override {
      if (++fetches > good) return core::Status::Connection("the token service is down");
      const auto now =
          std::chrono::time_point_cast<std::chrono::seconds>(ToTimePoint(clock.NowUtc()));
      std::string id = "key";
      id += std::to_string(fetches);
      return request::IssuedCredentials{{id, kSecret, "token"}, now + std::chrono::hours(1)};
    }
    std::string Describe() const override { return "hourly keys"; }
    const request::Clock& clock;
    int& fetches;
    int good;
  };
  const std::optional<catalogue::ResolvedAction> action =
      catalogue::ResolveActionName(catalogue::kEcsService, "DescribeInstances");
  const std::optional<catalogue::PagingInfo> paging =
      catalogue::PagingOf(catalogue::kEcsService, "DescribeInstances");
  ASSERT_TRUE(action && paging);
  for (const int good_fetches : {2, 1}) {
    int fetches = 0;
    EngineOptions options;
    options.renewing = std::make_shared<request::RenewingCredentials>(
        std::make_unique<HourKeys>(wall, fetches, good_fetches), wall);
    // Each page takes 25 minutes of the credentials' hour.
    struct SlowPages final : Transport {
      TransportReply Exchange(const request::ServiceEndpoint&,
                              const request::HttpRequest& request) override {
        const std::string text = request::WriteHttpRequest(request);
        const std::size_t at = text.find("AccessKeyId=") + 12;
        ids.emplace_back(text.substr(at, text.find('&', at) - at));
        const request::UtcInstant now = clock->NowUtc();
        clock->Set(request::FromTimePoint(request::ToTimePoint(now) + std::chrono::minutes(25)));
        return ScriptedTransport::Ok(
            "<DescribeInstancesResponse><TotalCount>5</TotalCount><PageSize>1</PageSize><Instances>"
            "<Instance><InstanceId>i</InstanceId></Instance></Instances></"
            "DescribeInstancesResponse>");
      }
      request::FixedClock* clock = nullptr;
      std::vector<std::string> ids;
    } pages;
    pages.clock = &wall;
    Engine walker(clock, rows, trace, pages, options);
    const RequestResult walked = walker.SendAllPages(credentials, *action, InRegion(), *paging);
    std::vector<std::string> expected = {"key1", "key1", "key1", "key2", "key2"};
    if (good_fetches == 1) {
      expected.resize(3);
      EXPECT_EQ(walked.walk.failed_page, 4);
      EXPECT_NE(walked.detail.find("the token service is down"), std::string::npos);
    }
    EXPECT_EQ(walked.outcome, good_fetches == 2 ? Outcome::kGoodReply : Outcome::kConnectionFailed);
    EXPECT_EQ(pages.ids, expected);
    EXPECT_EQ(fetches, 2);
    rows.TakeProduced();
  }
}

}  // namespace
}  // namespace kestrune::engine
