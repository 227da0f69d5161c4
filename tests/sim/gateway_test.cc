#include "sim/gateway.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <regex>
#include <set>

#include "catalogue/catalogue.h"
#include "catalogue/parameters.h"
#include "core/ascii.h"
#include "request/signer.h"
#include "sim/api.h"
#include "sim/signature.h"
#include "sim/sts.h"
#include "tests/sim/sim_test_util.h"

namespace kestrune::sim {
namespace {

using testing::Count;
using testing::Element;
using testing::MakeRequest;
using testing::Params;

// The published example, in the order its documentation lists it; the
// simulator's clock stands four minutes after its Timestamp.
const std::string kPublishedQuery =
    "Timestamp=2016-02-23T12%3A46%3A24Z&Format=XML&AccessKeyId=testid&Action=DescribeRegions&"
    "SignatureMethod=HMAC-SHA1&SignatureNonce=3ee8c1b8-83d3-44af-a94f-4e0ad82fd6cf&"
    "Version=2014-05-26&SignatureVersion=1.0&Signature=OLeaidS1JvxuMvnyHOwuJ%2BuX5qY%3D";
constexpr std::int64_t kPublishedTime = 1456231584000;  // 2016-02-23T12:46:24Z

// Every reply and request log entry is audited for the secrets of the
// gateway's keys and of the signer.
class GatewayTest : public ::testing::Test {
 protected:
  void Make(GatewayOptions options = {}) {
    audit_.Keys(options.keys);
    gateway_ = std::make_unique<Gateway>(options, clock_);
  }
  void SetUp() override { Make(); }
  void TearDown() override { audit_.Finish(); }

  Outcome Handle(const HttpRequest& request) {
    Outcome outcome = gateway_->Handle(request);
    audit_.CheckOutcome(outcome);
    return outcome;
  }
  Outcome Send(const std::string& query, const std::string& host = "ecs.aliyuncs.com",
               const std::string& method = "GET") {
    return Handle(MakeRequest(query, host, method));
  }
  Outcome Call(const std::string& action, const Params& extra = {},
               const std::string& host = "ecs.aliyuncs.com") {
    audit_.Secret(signer_.secret);
    return Send(signer_.Query(action, extra, clock_.NowMillis()), host);
  }
  static void ExpectError(const Outcome& outcome, int status, const std::string& code) {
    EXPECT_EQ(outcome.response.status, status) << outcome.response.body;
    EXPECT_EQ(Element(outcome.response.body, "Code"), code) << outcome.response.body;
    EXPECT_EQ(outcome.outcome, code);
  }
  // The id of the index-th instance of a region, read from the service.
  std::string InstanceId(const std::string& region, int index) {
    const std::string body =
        Call("DescribeInstanceStatus", {{"RegionId", region}, {"PageSize", "50"}}).response.body;
    std::string_view rest = body;
    for (int i = 0; i < index; ++i) rest.remove_prefix(rest.find("</InstanceId>") + 1);
    return Element(rest, "InstanceId");
  }
  std::string StatusOf(const std::string& region, const std::string& id) {
    const std::string body =
        Call("DescribeInstances", {{"RegionId", region}, {"InstanceIds", "[\"" + id + "\"]"}})
            .response.body;
    return Count(body, "<Instance>") == 1 ? Element(body, "Status") : "<gone>";
  }

  // The text of every <name> element, in order.
  static std::vector<std::string> All(std::string_view body, std::string_view name) {
    std::vector<std::string> out;
    const std::string open = "<" + std::string(name) + ">";
    for (std::size_t at = body.find(open); at != std::string_view::npos;
         at = body.find(open, at + 1)) {
      out.push_back(Element(body.substr(at), name));
    }
    return out;
  }

  testing::SimAudit audit_;
  ManualClock clock_{kPublishedTime + 4 * 60 * 1000};
  std::unique_ptr<Gateway> gateway_;
  testing::Signer signer_;
};

TEST_F(GatewayTest, PublishedExampleIsAccepted) {
  Make({.keys = {{"testid", "testsecret"}}});
  const Outcome outcome = Send(kPublishedQuery);
  ASSERT_EQ(outcome.response.status, 200) << outcome.response.body;
  EXPECT_EQ(outcome.outcome, "ok");
  EXPECT_EQ(outcome.action, "DescribeRegions");
  EXPECT_TRUE(outcome.response.body.starts_with(
      "<?xml version='1.0' encoding='UTF-8'?><DescribeRegionsResponse><RequestId>"));
  EXPECT_EQ(Count(outcome.response.body, "<Region>"), 28u);
}

TEST_F(GatewayTest, AcceptsTheClientsRequestLayout) {
  // Common items in a fixed order, lower-case Format, a seven-digit nonce, the
  // signature joined with "&&" and the action parameters after it, unsorted.
  const std::string timestamp = FormatTimestamp(clock_.NowMillis());
  const Params params = {{"AccessKeyId", "kestrune-demo-id"}, {"Format", "xml"},
                         {"SignatureMethod", "HMAC-SHA1"},    {"SignatureNonce", "4500000"},
                         {"SignatureVersion", "1.0"},         {"Timestamp", timestamp},
                         {"Version", "2014-05-26"},           {"RegionId", "cn-hangzhou"},
                         {"Action", "DescribeInstanceStatus"}};
  const std::string signature =
      testing::RefSignature("kestrune-demo-secret", testing::RefStringToSign(params));
  std::string url_timestamp;
  for (char c : timestamp) url_timestamp += c == ':' ? std::string("%3A") : std::string(1, c);
  const std::string query =
      "AccessKeyId=kestrune-demo-id&Format=xml&SignatureMethod=HMAC-SHA1&SignatureNonce=4500000&"
      "SignatureVersion=1.0&Timestamp=" +
      url_timestamp + "&Version=2014-05-26&&Signature=" + testing::RefEncode(signature) +
      "&Action=DescribeInstanceStatus&RegionId=cn-hangzhou";
  const Outcome outcome = Send(query);
  ASSERT_EQ(outcome.response.status, 200) << outcome.response.body;
  EXPECT_EQ(outcome.response.content_type, "text/xml;charset=UTF-8");
  EXPECT_EQ(Count(outcome.response.body, "<InstanceStatus><InstanceId>"), 3u);
  // The same nonce again within the window is a replay.
  ExpectError(Send(query), 400, "SignatureNonceUsed");
}

TEST_F(GatewayTest, OneCharacterChangeAnywhereBreaksTheSignature) {
  // Every letter or digit of the parameters that the earlier checks do not
  // read (key id, method, signature version and the timestamp's form are
  // checked before the signature), and of a parameter name.
  Make({.keys = {{"testid", "testsecret"}}});
  auto mutable_span = [&](std::string_view prefix, std::string_view stop) {
    const std::size_t start = kPublishedQuery.find(prefix) + prefix.size();
    return std::pair(start, kPublishedQuery.find(stop, start));
  };
  const std::pair<std::string_view, std::string_view> spans[] = {
      {"Action=", "&"},       {"Format=", "&"}, {"SignatureNonce=", "&"}, {"Version=", "&"},
      {"Signature=", "\x01"}, {"&Form", "at="}, {"T12%3A", "Z"},
  };
  int mutations = 0;
  for (const auto& [prefix, stop] : spans) {
    auto [start, end] = mutable_span(prefix, stop);
    if (end == std::string::npos) end = kPublishedQuery.size();
    for (std::size_t i = start; i < end; ++i) {
      if (kPublishedQuery[i - 1] == '%' || kPublishedQuery[i - 2] == '%') continue;
      std::string query = kPublishedQuery;
      char& c = query[i];
      if (c >= '0' && c <= '9') {
        c = c == '3' ? '2' : '3';  // still a valid time
      } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        c = c == 'q' ? 'r' : 'q';
      } else {
        continue;  // "%", "-", "." keep the escape syntax intact
      }
      ++mutations;
      ExpectError(Send(query), 400, "SignatureDoesNotMatch");
    }
  }
  EXPECT_GT(mutations, 80);
  // The untouched request still passes afterwards: failures burn no nonce.
  EXPECT_EQ(Send(kPublishedQuery).response.status, 200);
}

TEST_F(GatewayTest, ErrorReplyHasTheServiceShape) {
  const Outcome outcome = Send("Action=DescribeRegions", "ECS.aliyuncs.com:8080");
  static const std::regex kShape(
      "<\\?xml version='1\\.0' encoding='UTF-8'\\?><Error><RequestId>"
      "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}</RequestId>"
      "<HostId>ECS\\.aliyuncs\\.com</HostId><Code>MissingParameter</Code><Message>The input "
      "parameter \"AccessKeyId\" that is mandatory for processing this request is not "
      "supplied\\.</Message><Recommend><!\\[CDATA\\[https://error-center\\.aliyun\\.com/status/"
      "search\\?Keyword=MissingParameter&source=PopGw\\]\\]></Recommend></Error>");
  EXPECT_TRUE(std::regex_match(outcome.response.body, kShape)) << outcome.response.body;
  EXPECT_EQ(outcome.response.status, 400);
  // Each reply has its own request id.
  EXPECT_NE(Element(outcome.response.body, "RequestId"),
            Element(Send("Action=DescribeRegions").response.body, "RequestId"));
}

TEST_F(GatewayTest, MethodIsCheckedFirst) {
  const Outcome outcome = Send("", "ecs.aliyuncs.com", "PUT");
  ExpectError(outcome, 403, "UnsupportedHTTPMethod");
  EXPECT_EQ(Element(outcome.response.body, "Message"), "This HTTP method is not supported.");
  ExpectError(
      Send(signer_.Query("DescribeRegions", {}, clock_.NowMillis()), "ecs.aliyuncs.com", "DELETE"),
      403, "UnsupportedHTTPMethod");
}

TEST_F(GatewayTest, EveryCommonParameterIsMandatory) {
  for (const char* name : {"AccessKeyId", "Action", "Version", "Signature", "SignatureMethod",
                           "SignatureNonce", "SignatureVersion", "Timestamp"}) {
    for (bool empty : {false, true}) {
      Params params = signer_.Build("DescribeRegions", {}, clock_.NowMillis());
      std::string query = testing::SignedQuery(params, signer_.secret);
      // Drop (or empty) the parameter from the signed query.
      auto parsed = *ParseQuery(query);
      std::string rebuilt;
      for (const QueryParam& p : parsed) {
        if (p.name == name && !empty) continue;
        rebuilt += testing::RefEncode(p.name) + "=" +
                   (p.name == name ? "" : testing::RefEncode(p.value)) + "&";
      }
      const Outcome outcome = Send(rebuilt);
      ExpectError(outcome, 400, "MissingParameter");
      EXPECT_EQ(Element(outcome.response.body, "Message"),
                "The input parameter \"" + std::string(name) +
                    "\" that is mandatory for processing this request is not supplied.");
    }
  }
}

TEST_F(GatewayTest, UnknownAccessKey) {
  signer_.key_id = "nobody";
  const Outcome outcome = Call("DescribeRegions");
  ExpectError(outcome, 404, "InvalidAccessKeyId.NotFound");
  EXPECT_EQ(Element(outcome.response.body, "Message"), "Specified access key is not found.");
}

TEST_F(GatewayTest, TimestampMustLieWithinFifteenMinutes) {
  const std::int64_t now = clock_.NowMillis();
  const std::int64_t minute = 60 * 1000;
  for (std::int64_t offset : {-16 * minute, 16 * minute, -15 * minute - 1000, 15 * minute + 1000}) {
    const Outcome outcome = Send(signer_.Query("DescribeRegions", {}, now + offset));
    ExpectError(outcome, 400, "InvalidTimeStamp.Expired");
    EXPECT_EQ(Element(outcome.response.body, "Message"),
              "Specified time stamp or date value is expired.");
  }
  for (std::int64_t offset : {-14 * minute, 14 * minute, 15 * minute, -15 * minute}) {
    EXPECT_EQ(Send(signer_.Query("DescribeRegions", {}, now + offset)).response.status, 200);
  }
  Params params = signer_.Build("DescribeRegions", {}, now);
  params[6].second = "yesterday";
  ExpectError(Send(testing::SignedQuery(params, signer_.secret)), 400, "IllegalTimestamp");
}

TEST_F(GatewayTest, WrongSignatureShowsTheServerStringToSign) {
  const Params params =
      signer_.Build("DescribeRegions", {{"Comment", "a b*c~华"}}, clock_.NowMillis());
  audit_.Secret("not-the-secret");
  const Outcome outcome = Send(testing::SignedQuery(params, "not-the-secret"));
  ExpectError(outcome, 400, "SignatureDoesNotMatch");
  // The message is XML-escaped inside the document.
  std::string expected =
      "Specified signature is not matched with our calculation. server string "
      "to sign is:" +
      testing::RefStringToSign(params);
  std::string escaped;
  for (char c : expected) escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
  EXPECT_EQ(Element(outcome.response.body, "Message"), escaped);
  // The same parameters with the right secret pass.
  EXPECT_EQ(Send(testing::SignedQuery(params, signer_.secret)).response.status, 200);
}

// The server's string to sign in SignatureDoesNotMatch is the client's own,
// byte for byte; with a parameter altered on the way it differs in that
// value alone, which is how the client's signature inspector names it.
TEST_F(GatewayTest, ServerStringToSignIsTheClientsOwn) {
  const request::FixedClock client_clock({2016, 2, 23, 12, 50, 24, 0});  // the gateway's now
  const request::ServiceEndpoint ecs{"ecs.aliyuncs.com", "Host: ecs.aliyuncs.com\r\n",
                                     "Version=2014-05-26"};
  request::ActionParameterList parameters;
  ASSERT_TRUE(parameters.Append("Action=DescribeZones").ok());
  ASSERT_TRUE(parameters.Append("RegionId=cn-hangzhou").ok());
  auto sent = [&](const std::string& secret) {
    audit_.Secret(secret);
    auto built = request::BuildSignedRequest({"kestrune-demo-id", secret}, ecs, parameters,
                                             client_clock, request::HttpMethod::kGet);
    EXPECT_TRUE(built.ok()) << built.status().message();
    RequestParser parser;
    EXPECT_EQ(parser.Feed(built->text()), RequestParser::State::kComplete);
    const Outcome outcome = Handle(parser.request());
    std::string message = Element(outcome.response.body, "Message");
    for (std::size_t at = 0; (at = message.find("&amp;", at)) != std::string::npos; ++at) {
      message.replace(at, 5, "&");
    }
    return std::make_pair(built->string_to_sign, message);
  };
  const std::string kLead =
      "Specified signature is not matched with our calculation. server string to sign is:";
  const auto [client, server] = sent("not-the-demo-secret");
  EXPECT_EQ(server, kLead + client);

  Make({.faults = {.alter = "RegionId"}});
  auto [altered, altered_message] = sent(std::string(kDemoAccessKeySecret));
  const std::string value = "RegionId%3Dcn-hangzhou";
  ASSERT_NE(altered.find(value), std::string::npos) << altered;
  altered.insert(altered.find(value) + value.size(), kAlteredSuffix);
  EXPECT_EQ(altered_message, kLead + altered);
}

TEST_F(GatewayTest, NonceReplayPerKeyWithinTheWindow) {
  Make({.keys = {{"kestrune-demo-id", "kestrune-demo-secret"}, {"second", "other-secret"}}});
  Params params = signer_.Build("DescribeRegions", {}, clock_.NowMillis());
  params[4].second = "fixed-nonce";
  const std::string query = testing::SignedQuery(params, signer_.secret);
  EXPECT_EQ(Send(query).response.status, 200);
  const Outcome replay = Send(query);
  ExpectError(replay, 400, "SignatureNonceUsed");
  EXPECT_EQ(Element(replay.response.body, "Message"),
            "Specified signature nonce was used already.");
  // Another key may use the same nonce.
  Params other = params;
  other[0].second = "second";
  EXPECT_EQ(Send(testing::SignedQuery(other, "other-secret")).response.status, 200);
  // Sixteen minutes later the nonce is free again (with a fresh timestamp).
  clock_.AdvanceMillis(16 * 60 * 1000);
  params[6].second = FormatTimestamp(clock_.NowMillis());
  EXPECT_EQ(Send(testing::SignedQuery(params, signer_.secret)).response.status, 200);
}

TEST_F(GatewayTest, VersionActionAndActionParametersAreCheckedAfterTheSignature) {
  signer_.version = "2016-05-30";
  ExpectError(Call("DescribeRegions"), 400, "InvalidVersion");
  signer_.version = "2014-05-26";
  const Outcome unknown = Call("DescribeNothing");
  ExpectError(unknown, 404, "InvalidAction.NotFound");
  EXPECT_EQ(Element(unknown.response.body, "Message"),
            "Specified api is not found, please check your url and method.");
  ExpectError(Call("StopInstance"), 400, "MissingParameter");
  ExpectError(Call("StopInstance", {{"InstanceId", ""}}), 400, "MissingParameter");
  ExpectError(Call("DescribeZones"), 400, "MissingParameter");
  const Outcome bad_region = Call("DescribeZones", {{"RegionId", "cn-atlantis"}});
  ExpectError(bad_region, 400, "InvalidParameter");
  EXPECT_EQ(Element(bad_region.response.body, "Message"),
            "The specified parameter \"RegionId\" is not valid.");
  ExpectError(Call("StopInstance", {{"InstanceId", "i-doesnotexist"}}), 404,
              "InvalidInstanceId.NotFound");
  ExpectError(Call("DescribeInstances", {{"RegionId", "cn-hangzhou"}, {"PageSize", "101"}}), 400,
              "InvalidParameter");
}

TEST_F(GatewayTest, JsonFormatCarriesTheSameData) {
  const Outcome ok = Call("DescribeRegions", {{"Format", "JSON"}});
  ASSERT_EQ(ok.response.status, 200);
  EXPECT_EQ(ok.response.content_type, "application/json;charset=UTF-8");
  EXPECT_TRUE(ok.response.body.starts_with("{\"RequestId\":\"")) << ok.response.body.substr(0, 80);
  EXPECT_NE(ok.response.body.find(
                "\"Regions\":{\"Region\":[{\"RegionId\":\"cn-qingdao\",\"RegionEndpoint\":\"ecs.cn-"
                "qingdao.aliyuncs.com\",\"LocalName\":\"华北1（青岛）\"}"),
            std::string::npos);
  EXPECT_EQ(Count(ok.response.body, "\"RegionId\""), 28u);
  const Outcome status =
      Call("DescribeInstanceStatus", {{"RegionId", "cn-beijing"}, {"Format", "json"}});
  EXPECT_NE(status.response.body.find("\"TotalCount\":3,"), std::string::npos);
  signer_.key_id = "nobody";
  const Outcome error = Call("DescribeRegions", {{"Format", "JSON"}});
  EXPECT_EQ(error.response.status, 404);
  EXPECT_NE(error.response.body.find("\"Code\":\"InvalidAccessKeyId.NotFound\""),
            std::string::npos);
  EXPECT_NE(error.response.body.find("\"HostId\":\"ecs.aliyuncs.com\""), std::string::npos);
  EXPECT_TRUE(error.response.body.ends_with(
      ",\"Recommend\":\"https://error-center.aliyun.com/status/search?Keyword="
      "InvalidAccessKeyId.NotFound&source=PopGw\"}"))
      << error.response.body;
}

TEST_F(GatewayTest, RoutesByHostOrDefaultService) {
  signer_.version = "2016-05-30";
  const Outcome pub = Call(
      "Pub", {{"ProductKey", "a1"}, {"MessageContent", "aGk="}, {"TopicFullName", "/a1/d/get"}},
      "iot.aliyuncs.com");
  ASSERT_EQ(pub.response.status, 200) << pub.response.body;
  EXPECT_EQ(Element(pub.response.body, "Success"), "true");
  EXPECT_EQ(pub.service, "iot");
  // The IoT version is wrong for ECS; an ECS action is unknown to IoT.
  ExpectError(Call("Pub", {}, "ecs.aliyuncs.com"), 400, "InvalidVersion");
  signer_.version = "2014-05-26";
  ExpectError(Call("DescribeRegions", {}, "iot.aliyuncs.com"), 400, "InvalidVersion");

  signer_.version = "2016-07-14";
  const Outcome regions = Call("DescribeRegions", {}, "apigateway.cn-qingdao.aliyuncs.com");
  ASSERT_EQ(regions.response.status, 200);
  EXPECT_NE(
      regions.response.body.find(
          "<RegionId>cn-qingdao</RegionId><LocalName>华北1（青岛）</LocalName><RegionEndpoint>"
          "apigateway.cn-qingdao.aliyuncs.com</RegionEndpoint>"),
      std::string::npos);
  const Outcome group = Call("CreateApiGroup", {{"GroupName", "aaa"}, {"Description", "bbb"}},
                             "apigateway.cn-qingdao.aliyuncs.com");
  EXPECT_EQ(Element(group.response.body, "GroupName"), "aaa");
  EXPECT_EQ(Element(group.response.body, "GroupId").size(), 32u);

  // A host that names no service: the configured default.
  Make({.default_service = Service::kApiGateway});
  EXPECT_EQ(Call("DescribeSystemParameters", {}, "127.0.0.1:8080").response.status, 200);
  signer_.version = "2014-05-26";
  Make();
  EXPECT_EQ(Call("DescribeRegions", {}, "127.0.0.1").response.status, 200);
  EXPECT_EQ(Call("DescribeRegions", {}, "ecs.cn-hangzhou.aliyuncs.com").response.status, 200);
  // A request sent through a proxy names the whole address.
  HttpRequest proxied =
      MakeRequest(signer_.Query("DescribeRegions", {}, clock_.NowMillis()), "ecs.aliyuncs.com");
  proxied.target = "http://ecs.aliyuncs.com" + proxied.target;
  EXPECT_EQ(Handle(proxied).response.status, 200);
  proxied = MakeRequest(signer_.Query("DescribeRegions", {}, clock_.NowMillis()), "x");
  proxied.target = "http://ecs.aliyuncs.com:80" + proxied.target.substr(1);
  EXPECT_EQ(Handle(proxied).response.status, 200);
}

TEST_F(GatewayTest, EveryCatalogueActionAnswers) {
  // With its required parameters (fake values), every known action gives
  // either a reply or a service error about those values — never a crash or
  // an empty body.
  for (const ServiceInfo& service : AllServices()) {
    signer_.version = service.version;
    for (const ActionInfo& action : ActionsOf(service.service)) {
      Params extra;
      std::string_view required = action.required;
      while (!required.empty()) {
        const std::size_t space = required.find(' ');
        const std::string name(required.substr(0, space));
        extra.emplace_back(name, name == "RegionId" ? "cn-hangzhou" : "1");
        required = space == std::string_view::npos ? "" : required.substr(space + 1);
      }
      // And what the published list requires.
      const auto listed = ListedAction(service.service, action.name);
      const auto checked = listed ? catalogue::ParametersToCheck(*listed) : std::nullopt;
      for (const catalogue::ParameterInfo& info :
           checked ? checked->parameters : std::vector<catalogue::ParameterInfo>{}) {
        const bool given = std::any_of(extra.begin(), extra.end(), [&info](const auto& p) {
          return core::EqualsIgnoreCase(p.first, info.name);
        });
        if (!info.required || given) continue;
        if (info.type == catalogue::ParameterType::kRepeatList) {
          extra.emplace_back(info.name + ".1", "1");
        } else {
          extra.emplace_back(info.name,
                             info.type == catalogue::ParameterType::kBoolean ? "true" : "1");
        }
      }
      const Outcome outcome = Call(std::string(action.name), extra, std::string(service.host));
      ASSERT_FALSE(outcome.response.body.empty()) << action.name;
      if (outcome.response.status == 200) {
        EXPECT_TRUE(outcome.response.body.starts_with("<?xml version='1.0' encoding='UTF-8'?><" +
                                                      std::string(action.name) +
                                                      "Response><RequestId>"))
            << action.name;
      } else {
        EXPECT_NE(outcome.outcome, "MissingParameter") << action.name;
        EXPECT_NE(outcome.outcome, "SignatureDoesNotMatch") << action.name;
      }
    }
  }
}

TEST_F(GatewayTest, RegionsAndZones) {
  const std::string body = Call("DescribeRegions").response.body;
  EXPECT_EQ(Count(body, "<Region>"), 28u);
  for (const char* expected :
       {"<RegionId>cn-qingdao</RegionId><RegionEndpoint>ecs.cn-qingdao.aliyuncs.com</"
        "RegionEndpoint><LocalName>华北1（青岛）</LocalName>",
        "<LocalName>华北2（北京）</LocalName>", "<LocalName>华东1（杭州）</LocalName>",
        "<LocalName>华东2（上海）</LocalName>", "<LocalName>华南1（深圳）</LocalName>",
        "<RegionId>eu-central-1</RegionId>", "<LocalName>欧洲中部 1（法兰克福）</LocalName>",
        "<RegionId>me-central-1</RegionId>", "<RegionId>ap-southeast-7</RegionId>"}) {
    EXPECT_NE(body.find(expected), std::string::npos) << expected;
  }
  const std::string zones = Call("DescribeZones", {{"RegionId", "cn-qingdao"}}).response.body;
  EXPECT_EQ(Count(zones, "<Zone>"), 2u);
  EXPECT_NE(zones.find("<Zone><ZoneId>cn-qingdao-b</ZoneId><LocalName>"), std::string::npos);
  EXPECT_NE(zones.find("<AvailableResourceCreation><ResourceTypes>"), std::string::npos);
  EXPECT_NE(zones.find("<AvailableDiskCategories><DiskCategories>cloud_essd</DiskCategories>"),
            std::string::npos);
  const std::string tokyo = Call("DescribeZones", {{"RegionId", "ap-northeast-1"}}).response.body;
  EXPECT_EQ(Element(tokyo, "ZoneId"), "ap-northeast-1a");
}

TEST_F(GatewayTest, InstanceRecordsCarryEveryElementClientsRead) {
  const std::string body =
      Call("DescribeInstances", {{"RegionId", "cn-hangzhou"}, {"PageSize", "2"}}).response.body;
  EXPECT_EQ(Element(body, "TotalCount"), "3");
  EXPECT_EQ(Element(body, "PageNumber"), "1");
  EXPECT_EQ(Element(body, "PageSize"), "2");
  EXPECT_EQ(Count(body, "<Instance>"), 2u);
  const std::string record = Element(body, "Instance");
  for (const char* name : {"ImageId",
                           "InstanceTypeFamily",
                           "VlanId",
                           "InstanceId",
                           "EipAddress",
                           "AllocationId",
                           "InternetMaxBandwidthIn",
                           "ZoneId",
                           "InternetChargeType",
                           "SpotStrategy",
                           "SerialNumber",
                           "IoOptimized",
                           "Memory",
                           "Cpu",
                           "VpcAttributes",
                           "NatIpAddress",
                           "VSwitchId",
                           "VpcId",
                           "InternetMaxBandwidthOut",
                           "DeviceAvailable",
                           "SecurityGroupIds",
                           "SecurityGroupId",
                           "AutoReleaseTime",
                           "InstanceName",
                           "Description",
                           "InstanceNetworkType",
                           "PublicIpAddress",
                           "InnerIpAddress",
                           "HostName",
                           "InstanceType",
                           "CreationTime",
                           "Status",
                           "ClusterId",
                           "RegionId",
                           "GPUSpec",
                           "InstanceChargeType",
                           "GPUAmount",
                           "ExpiredTime"}) {
    EXPECT_NE(record.find(std::string(1, '<').append(name).append(">")), std::string::npos) << name;
  }
  // Nesting as the service nests it.
  EXPECT_NE(record.find("<EipAddress><IpAddress>"), std::string::npos);
  EXPECT_NE(
      record.find("<VpcAttributes><NatIpAddress></NatIpAddress><PrivateIpAddress><IpAddress>172."),
      std::string::npos);
  EXPECT_NE(record.find("<SecurityGroupIds><SecurityGroupId>sg-"), std::string::npos);
  // Fields appear in the order the service writes them.
  EXPECT_LT(record.find("<ImageId>"), record.find("<EipAddress>"));
  EXPECT_LT(record.find("<Cpu>"), record.find("<VpcAttributes>"));
  EXPECT_LT(record.find("<InstanceNetworkType>"), record.find("<PublicIpAddress>"));
  EXPECT_LT(record.find("<HostName>"), record.find("<ExpiredTime>"));
  EXPECT_GT(record.size(), 2000u);
}

TEST_F(GatewayTest, VncUrlUserDataTypesFamiliesAndTasks) {
  const std::string id = InstanceId("cn-shanghai", 0);
  const std::string vnc =
      Call("DescribeInstanceVncUrl", {{"RegionId", "cn-shanghai"}, {"InstanceId", id}})
          .response.body;
  const std::string url = Element(vnc, "VncUrl");
  EXPECT_TRUE(url.starts_with("wss://")) << url;
  EXPECT_GT(url.size(), 255u);
  EXPECT_EQ(url.find('&'), std::string::npos);
  ExpectError(Call("DescribeInstanceVncUrl", {{"RegionId", "cn-beijing"}, {"InstanceId", id}}), 404,
              "InvalidInstanceId.NotFound");

  const Outcome user = Call("DescribeUserdata", {{"RegionId", "cn-shanghai"}, {"InstanceId", id}});
  EXPECT_TRUE(user.response.body.find("<DescribeUserdataResponse><RequestId>") !=
              std::string::npos);
  EXPECT_EQ(Element(user.response.body, "InstanceId"), id);
  EXPECT_EQ(Element(user.response.body, "RegionId"), "cn-shanghai");
  EXPECT_TRUE(
      Element(user.response.body, "UserData").starts_with(Base64("#!/bin/bash").substr(0, 12)));

  const Outcome types = Call("DescribeInstanceTypes");
  EXPECT_GT(types.response.body.size(), 64u * 1024);
  EXPECT_GT(types.response.chunk_size, 0u);
  EXPECT_LE(types.response.chunk_size, 4096u);
  EXPECT_GE(Count(types.response.body, "<InstanceType><InstanceTypeId>"), 200u);
  EXPECT_EQ(Count(types.response.body, "<InstanceType>"),
            Count(types.response.body, "<InstanceType><InstanceTypeId>"));
  EXPECT_NE(types.response.body.find("<GPUSpec>NVIDIA T4</GPUSpec>"), std::string::npos);

  const std::string families =
      Call("DescribeInstanceTypeFamilies", {{"RegionId", "cn-hangzhou"}}).response.body;
  EXPECT_NE(
      families.find("<InstanceTypeFamily><InstanceTypeFamilyId>ecs.g7</"
                    "InstanceTypeFamilyId><Generation>ecs-5</Generation></InstanceTypeFamily>"),
      std::string::npos);

  const std::string tasks = Call("DescribeTasks", {{"RegionId", "cn-hangzhou"}}).response.body;
  EXPECT_EQ(Element(tasks, "RegionId"), "cn-hangzhou");
  EXPECT_EQ(Element(tasks, "TotalCount"), "3");
  EXPECT_EQ(Count(tasks, "<Task><TaskId>t-"), 3u);
  // The processing task can be cancelled once.
  const std::string before = tasks.substr(0, tasks.find("<TaskStatus>Processing"));
  const std::string task_id =
      Element(std::string_view(before).substr(before.rfind("<TaskId>")), "TaskId");
  const std::string attribute =
      Call("DescribeTaskAttribute", {{"RegionId", "cn-hangzhou"}, {"TaskId", task_id}})
          .response.body;
  EXPECT_EQ(Element(attribute, "TaskStatus"), "Processing");
  EXPECT_EQ(Element(attribute, "SupportCancel"), "true");
  for (const char* name : {"TaskAction", "TaskProcess", "SuccessCount", "FailedCount",
                           "CreationTime", "FinishedTime"}) {
    EXPECT_NE(Element(attribute, name), "<absent>") << name;
  }
  // The service names the progress TaskProcess only.
  EXPECT_EQ(Element(attribute, "Progress"), "<absent>");
  EXPECT_EQ(Call("CancelTask", {{"RegionId", "cn-hangzhou"}, {"TaskId", task_id}}).response.status,
            200);
  ExpectError(Call("CancelTask", {{"RegionId", "cn-hangzhou"}, {"TaskId", task_id}}), 403,
              "IncorrectTaskStatus");
  EXPECT_EQ(
      Element(Call("DescribeTaskAttribute", {{"RegionId", "cn-hangzhou"}, {"TaskId", task_id}})
                  .response.body,
              "TaskStatus"),
      "Cancelled");
  ExpectError(Call("DescribeTaskAttribute", {{"RegionId", "cn-beijing"}, {"TaskId", task_id}}), 404,
              "InvalidTaskId.NotFound");
}

TEST_F(GatewayTest, WriteActionsChangeWhatDescribeShows) {
  const std::string running = InstanceId("cn-qingdao", 0);
  ASSERT_EQ(StatusOf("cn-qingdao", running), "Running");
  EXPECT_EQ(Call("StopInstance", {{"InstanceId", running}}).response.status, 200);
  EXPECT_EQ(StatusOf("cn-qingdao", running), "Stopped");
  const std::string statuses =
      Call("DescribeInstanceStatus", {{"RegionId", "cn-qingdao"}}).response.body;
  EXPECT_NE(statuses.find("<InstanceId>" + running + "</InstanceId><Status>Stopped</Status>"),
            std::string::npos);
  ExpectError(Call("StopInstance", {{"InstanceId", running}}), 403, "IncorrectInstanceStatus");
  ExpectError(Call("RebootInstance", {{"InstanceId", running}}), 403, "IncorrectInstanceStatus");
  EXPECT_EQ(Call("StartInstance", {{"InstanceId", running}}).response.status, 200);
  EXPECT_EQ(StatusOf("cn-qingdao", running), "Running");
  EXPECT_EQ(Call("RebootInstance", {{"InstanceId", running}}).response.status, 200);

  // Deleting needs a stopped instance (or Force).
  ExpectError(Call("DeleteInstance", {{"InstanceId", running}}), 403, "IncorrectInstanceStatus");
  EXPECT_EQ(Call("DeleteInstance", {{"InstanceId", running}, {"Force", "true"}}).response.status,
            200);
  EXPECT_EQ(StatusOf("cn-qingdao", running), "<gone>");

  const Outcome run = Call("RunInstances", {{"RegionId", "cn-qingdao"},
                                            {"ImageId", "m-test"},
                                            {"InstanceType", "ecs.g7.large"},
                                            {"Amount", "2"}});
  ASSERT_EQ(run.response.status, 200) << run.response.body;
  EXPECT_EQ(Count(run.response.body, "<InstanceIdSet>"), 2u);
  const std::string launched = Element(run.response.body, "InstanceIdSet");
  EXPECT_EQ(StatusOf("cn-qingdao", launched), "Running");
  const Outcome created =
      Call("CreateInstance",
           {{"RegionId", "cn-qingdao"}, {"ImageId", "m-test"}, {"InstanceType", "ecs.c7.large"}});
  EXPECT_EQ(StatusOf("cn-qingdao", Element(created.response.body, "InstanceId")), "Stopped");
  EXPECT_EQ(
      Element(Call("DescribeInstances", {{"RegionId", "cn-qingdao"}}).response.body, "TotalCount"),
      "5");
  ExpectError(
      Call("RunInstances",
           {{"RegionId", "cn-qingdao"}, {"ImageId", "m-test"}, {"InstanceType", "ecs.nonsense"}}),
      400, "InvalidParameter");

  EXPECT_EQ(Call("ModifyInstanceAttribute", {{"InstanceId", launched}, {"InstanceName", "renamed"}})
                .response.status,
            200);
  EXPECT_EQ(Element(Call("DescribeInstances",
                         {{"RegionId", "cn-qingdao"}, {"InstanceIds", "[\"" + launched + "\"]"}})
                        .response.body,
                    "InstanceName"),
            "renamed");
}

TEST_F(GatewayTest, ResourceListingsFollowTheModel) {
  const std::string first = InstanceId("cn-shenzhen", 0);
  const std::string instances =
      Call("DescribeInstances", {{"RegionId", "cn-shenzhen"}}).response.body;
  const std::string vpc = Element(instances, "VpcId");

  std::string disks = Call("DescribeDisks", {{"RegionId", "cn-shenzhen"}}).response.body;
  EXPECT_EQ(Element(disks, "TotalCount"), "3");
  EXPECT_EQ(Count(disks, "<Disk><DiskId>d-"), 3u);
  EXPECT_EQ(Element(disks, "InstanceId"), first);
  Call("RunInstances",
       {{"RegionId", "cn-shenzhen"}, {"ImageId", "m-x"}, {"InstanceType", "ecs.c7.large"}});
  disks = Call("DescribeDisks", {{"RegionId", "cn-shenzhen"}, {"PageSize", "2"}}).response.body;
  EXPECT_EQ(Element(disks, "TotalCount"), "4");
  EXPECT_EQ(Count(disks, "<Disk>"), 2u);
  EXPECT_EQ(
      Count(
          Call("DescribeDisks", {{"RegionId", "cn-shenzhen"}, {"InstanceId", first}}).response.body,
          "<Disk>"),
      1u);

  const std::string vpcs = Call("DescribeVpcs", {{"RegionId", "cn-shenzhen"}}).response.body;
  EXPECT_EQ(Element(vpcs, "VpcId"), vpc);
  EXPECT_EQ(Count(vpcs, "<VSwitchId>"), 5u);  // one per zone
  const std::string switches = Call("DescribeVSwitches", {{"VpcId", vpc}}).response.body;
  EXPECT_EQ(Element(switches, "TotalCount"), "5");
  EXPECT_EQ(Element(switches, "VpcId"), vpc);
  EXPECT_EQ(Element(Call("DescribeVSwitches", {{"VpcId", "vpc-none"}}).response.body, "TotalCount"),
            "0");

  const std::string groups =
      Call("DescribeSecurityGroups", {{"RegionId", "cn-shenzhen"}}).response.body;
  EXPECT_EQ(Element(groups, "SecurityGroupId"), Element(instances, "SecurityGroupId"));
  const std::string eips =
      Call("DescribeEipAddresses", {{"RegionId", "cn-shenzhen"}}).response.body;
  EXPECT_EQ(Element(eips, "TotalCount"), "1");
  EXPECT_EQ(Element(eips, "InstanceId"), first);
  const std::string images =
      Call("DescribeImages", {{"RegionId", "cn-shenzhen"}, {"ImageName", "Ubuntu"}}).response.body;
  EXPECT_EQ(Element(images, "TotalCount"), "1");
  EXPECT_TRUE(Element(images, "ImageId").starts_with("ubuntu_22_04"));
}

TEST_F(GatewayTest, SeededInstancesPageInCreationOrder) {
  // 235 over 28 regions: cn-hangzhou, the sixth, holds the 6th, 34th, ... 230th.
  Make({.seed = {.instances = 235}});
  std::vector<std::string> names, ids;
  for (const char* page : {"1", "2", "3"}) {
    const std::string body =
        Call("DescribeInstances",
             {{"RegionId", "cn-hangzhou"}, {"PageSize", "4"}, {"PageNumber", page}})
            .response.body;
    EXPECT_EQ(Element(body, "TotalCount"), "9");
    for (const std::string& name : All(body, "InstanceName")) names.push_back(name);
    for (const std::string& id : All(body, "InstanceId")) ids.push_back(id);
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"instance-000006", "instance-000034", "instance-000062",
                                      "instance-000090", "instance-000118", "instance-000146",
                                      "instance-000174", "instance-000202", "instance-000230"}));
  EXPECT_EQ(All(Call("DescribeInstanceStatus", {{"RegionId", "cn-hangzhou"}}).response.body,
                "InstanceId"),
            ids);
  Make({.seed = {.instances = 235}});
  EXPECT_EQ(InstanceId("cn-hangzhou", 8), ids[8]);  // the same ids every run
}

TEST_F(GatewayTest, PageSizeLimitsAndPagesPastTheEnd) {
  auto listed = [&](const char* action, const char* size) {
    const Outcome outcome = Call(action, {{"RegionId", "cn-hangzhou"}, {"PageSize", size}});
    return outcome.outcome + " " + Element(outcome.response.body, "Message");
  };
  EXPECT_EQ(listed("DescribeInstances", "100"), "ok <absent>");
  EXPECT_EQ(listed("DescribeInstanceStatus", "50"), "ok <absent>");
  for (const auto& [action, size] : {std::pair{"DescribeInstances", "101"},
                                     {"DescribeInstanceStatus", "51"},
                                     {"DescribeDisks", "0"},
                                     {"DescribeTasks", "-1"},
                                     {"DescribeInstances", "ten"}}) {
    EXPECT_EQ(listed(action, size),
              "InvalidParameter The specified parameter \"PageSize\" is not valid.");
  }
  const std::string past =
      Call("DescribeInstances", {{"RegionId", "cn-hangzhou"}, {"PageNumber", "2"}}).response.body;
  EXPECT_EQ(Element(past, "TotalCount") + " " + std::to_string(Count(past, "<Instance>")), "3 0");
}

TEST_F(GatewayTest, NextTokenWalksEveryInstanceOnce) {
  Make({.seed = {.instances = 25, .region = "cn-hangzhou"}});
  std::vector<std::string> names;
  std::string token, first_token;
  for (int page = 0; page < 3; ++page) {
    const std::string body =
        Call("DescribeInstances",
             {{"RegionId", "cn-hangzhou"}, {"MaxResults", "10"}, {"NextToken", token}})
            .response.body;
    EXPECT_EQ(Element(body, "TotalCount"), page == 0 ? "25" : "24");
    for (const std::string& name : All(body, "InstanceName")) names.push_back(name);
    token = Element(body, "NextToken");
    EXPECT_EQ(token.empty(), page == 2);
    if (page > 0) continue;
    // Dealt over the region's six zones in turn.
    const std::vector<std::string> zones = All(body, "ZoneId");
    EXPECT_TRUE(zones.at(0) != zones.at(1) && zones.at(0) == zones.at(6));
    // Deleting the next record between pages shifts no other.
    first_token = token;
    Call("DeleteInstance", {{"InstanceId", InstanceId("cn-hangzhou", 10)}, {"Force", "true"}});
  }
  ASSERT_EQ(names.size(), 24u);
  EXPECT_EQ(names[10], "instance-000012");
  EXPECT_EQ(names[23], "instance-000025");
  first_token[15] = first_token[15] == '0' ? '1' : '0';  // not a token the simulator issued
  ExpectError(Call("DescribeInstances", {{"RegionId", "cn-hangzhou"}, {"NextToken", first_token}}),
              400, "InvalidParameter");
  ExpectError(Call("DescribeInstances", {{"RegionId", "cn-hangzhou"}, {"MaxResults", "101"}}), 400,
              "InvalidParameter");
}

TEST_F(GatewayTest, PageFaultBreaksTheWalkOnce) {
  Make({.faults = {.page = 2}});
  auto page = [&](std::string name, std::string value) {
    return Call("DescribeInstances",
                {{"RegionId", "cn-hangzhou"}, {"PageSize", "1"}, {name, value}});
  };
  // First pages do not count; the retry of the failed page passes.
  for (const auto& [number, outcome] :
       {std::pair{"1", "ok"}, {"2", "ok"}, {"3", "InternalError"}, {"3", "ok"}}) {
    EXPECT_EQ(page("PageNumber", number).outcome, outcome) << number;
  }
  Make({.faults = {.page = 1}});  // a NextToken asks for a later page too
  const std::string token = Element(page("MaxResults", "1").response.body, "NextToken");
  ExpectError(page("NextToken", token), 500, "InternalError");
}

TEST_F(GatewayTest, FaultPlans) {
  Make({.faults = {.nonce_used = 2}});
  // Refused requests do not use up the fault.
  signer_.key_id = "nobody";
  ExpectError(Call("DescribeRegions"), 404, "InvalidAccessKeyId.NotFound");
  signer_.key_id = "kestrune-demo-id";
  ExpectError(Call("DescribeRegions"), 400, "SignatureNonceUsed");
  ExpectError(Call("DescribeRegions"), 400, "SignatureNonceUsed");
  EXPECT_EQ(Call("DescribeRegions").response.status, 200);

  Make({.faults = {.close = 1, .bad_gateway = 1}});
  EXPECT_EQ(Call("DescribeRegions").disposition, Disposition::kCloseWithoutReply);
  const Outcome gateway = Call("DescribeRegions");
  EXPECT_EQ(gateway.response.status, 502);
  EXPECT_EQ(gateway.response.content_type, "text/html");
  EXPECT_EQ(gateway.response.body.find("<Error>"), std::string::npos);
  EXPECT_NE(gateway.response.body.find("502 Bad Gateway"), std::string::npos);
  EXPECT_EQ(Call("DescribeRegions").response.status, 200);

  Make({.faults = {.delay_ms = 250, .half = 1}});
  const Outcome half = Call("DescribeRegions");
  EXPECT_EQ(half.disposition, Disposition::kHalfThenReset);
  EXPECT_EQ(half.delay_ms, 250);
  EXPECT_EQ(Call("DescribeRegions").disposition, Disposition::kReply);

  Make({.faults = {.big_mib = 2}});
  const Outcome big = Call("DescribeRegions");
  EXPECT_EQ(big.response.body.size(), 2u << 20);
  EXPECT_TRUE(big.response.body.ends_with("</Padding></DescribeRegionsResponse>"));
  const Outcome big_json = Call("DescribeRegions", {{"Format", "JSON"}});
  EXPECT_EQ(big_json.response.body.size(), 2u << 20);
  EXPECT_TRUE(big_json.response.body.ends_with("xx\"}"));
}

// The rate holds over any second, not per second of the calendar: a burst
// late in one second and early in the next is still one burst.
TEST_F(GatewayTest, ThrottleCountsAnyOneSecond) {
  Make({.throttle_rate = 3});
  clock_.AdvanceMillis(900);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(Call("DescribeRegions").response.status, 200);
  clock_.AdvanceMillis(200);
  const Outcome throttled = Call("DescribeRegions");
  ExpectError(throttled, 400, "Throttling.User");
  ASSERT_EQ(throttled.response.headers.size(), 2u);
  const std::int64_t reset = clock_.NowMillis() + 800;
  EXPECT_EQ(throttled.response.headers[1].first, "x-ratelimit-user-api");
  EXPECT_EQ(throttled.response.headers[1].second,
            "Limit:3,Remain:0,TimeLeft:800,Reset:" + std::to_string(reset));
  // A refused request takes no place: the first place frees when it said.
  clock_.AdvanceMillis(799);
  ExpectError(Call("DescribeRegions"), 400, "Throttling.User");
  clock_.AdvanceMillis(1);
  EXPECT_EQ(Call("DescribeRegions").response.status, 200);
}

TEST_F(GatewayTest, StateChangesTakeTheTransitionTime) {
  Make({.transition_ms = 2000});
  const std::string id = InstanceId("cn-qingdao", 0);
  EXPECT_EQ(Call("StopInstance", {{"InstanceId", id}}).response.status, 200);
  EXPECT_EQ(StatusOf("cn-qingdao", id), "Stopping");
  ExpectError(Call("StartInstance", {{"InstanceId", id}}), 403, "IncorrectInstanceStatus");
  clock_.AdvanceMillis(1999);
  EXPECT_EQ(StatusOf("cn-qingdao", id), "Stopping");
  clock_.AdvanceMillis(1);
  EXPECT_EQ(StatusOf("cn-qingdao", id), "Stopped");
  EXPECT_EQ(Call("StartInstance", {{"InstanceId", id}}).response.status, 200);
  EXPECT_EQ(StatusOf("cn-qingdao", id), "Starting");
  // An instance deleted on its way ends its transition with it.
  EXPECT_EQ(Call("DeleteInstance", {{"InstanceId", id}, {"Force", "true"}}).response.status, 200);
  clock_.AdvanceMillis(2000);
  EXPECT_EQ(StatusOf("cn-qingdao", id), "<gone>");
}

TEST_F(GatewayTest, BadQueryBytesAreRefusedClearly) {
  ExpectError(Send("Action=Describe%ZZRegions"), 400, "InvalidParameter");
  const Outcome not_utf8 = Send("Action=%FF%FE");
  ExpectError(not_utf8, 400, "InvalidParameter");
  EXPECT_EQ(Element(not_utf8.response.body, "Message"),
            "The specified parameter \"Action\" is not valid.");
  ExpectError(Send("%C0%AF=1"), 400, "InvalidParameter");  // overlong form
  HttpRequest other_path =
      MakeRequest(signer_.Query("DescribeRegions", {}, clock_.NowMillis()), "ecs.aliyuncs.com");
  other_path.target = "/admin" + other_path.target.substr(1);
  ExpectError(Handle(other_path), 404, "InvalidAction.NotFound");
  const Outcome malformed = gateway_->Malformed(431, "too large");
  audit_.CheckOutcome(malformed);
  EXPECT_EQ(malformed.response.status, 431);
  EXPECT_EQ(Element(malformed.response.body, "Code"), "RequestHeaderFieldsTooLarge");
}

// Every action the client's catalogue lists or holds a template for is
// answered; sent bare, one that requires a parameter is refused naming it.
// A read of a known record list, not modelled, gives an empty page as asked.
TEST_F(GatewayTest, EveryListedActionIsAnsweredAndChecksItsRequiredParameters) {
  struct Endpoint {
    unsigned service;
    std::string host, version;
  };
  const Endpoint endpoints[] = {
      {catalogue::kEcsService, "ecs.aliyuncs.com", "2014-05-26"},
      {catalogue::kIotService, "iot.aliyuncs.com", "2016-05-30"},
      {catalogue::kApiGatewayService, "apigateway.cn-qingdao.aliyuncs.com", "2016-07-14"}};
  std::size_t swept = 0;
  std::size_t refused = 0;
  for (const Endpoint& endpoint : endpoints) {
    std::set<std::string> names;
    const std::size_t position = catalogue::ServicePosition(endpoint.service);
    for (std::size_t c = 0; c < catalogue::CategoryList(position).Count(); ++c) {
      for (std::size_t e = 0; e < catalogue::ActionList(position, c).Count(); ++e) {
        if (auto action = catalogue::ResolveBrowsingEntry(position, c, e)) {
          names.insert(action->action_name);
        }
      }
    }
    for (const catalogue::RequestTemplate& t : catalogue::Templates()) {
      if (t.service == endpoint.service) names.insert(std::string(t.action()));
    }
    signer_.version = endpoint.version;
    for (const std::string& name : names) {
      SCOPED_TRACE(endpoint.host + " " + name);
      const Outcome outcome = Call(name, {}, endpoint.host);
      ++swept;
      EXPECT_NE(outcome.outcome, "InvalidAction.NotFound");
      const auto checked = catalogue::ParametersToCheck(
          catalogue::ResolveActionName(endpoint.service, name).value());
      if (!checked) continue;
      for (const catalogue::ParameterInfo& info : checked->parameters) {
        if (!info.required) continue;
        ++refused;
        ExpectError(outcome, 400, "MissingParameter");
        EXPECT_NE(outcome.response.body.find('"' + info.name + '"'), std::string::npos);
        break;
      }
    }
  }
  EXPECT_GT(swept, 350u);
  EXPECT_GT(refused, 250u);

  signer_.version = "2014-05-26";
  const Outcome page = Call("DescribeKeyPairs",
                            {{"RegionId", "cn-hangzhou"}, {"PageNumber", "3"}, {"PageSize", "7"}});
  ASSERT_EQ(page.response.status, 200) << page.response.body;
  EXPECT_NE(page.response.body.find("<TotalCount>0</TotalCount><PageNumber>3</PageNumber>"
                                    "<PageSize>7</PageSize><KeyPairs"),
            std::string::npos)
      << page.response.body;
}

}  // namespace
}  // namespace kestrune::sim

namespace kestrune::sim {
namespace {

TEST(GatewayRobustnessTest, RandomlyDamagedRequestsGetAClearAnswer) {
  ManualClock clock(1767225600000);
  Gateway gateway({}, clock);
  testing::Signer signer;
  testing::SimAudit audit;
  audit.Secret(signer.secret);
  std::mt19937 random(11);
  int accepted = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string head =
        "GET /?" +
        signer.Query("DescribeInstances", {{"RegionId", "cn-hangzhou"}}, clock.NowMillis()) +
        " HTTP/1.1\r\nHost: ecs.aliyuncs.com\r\n\r\n";
    const int damage = static_cast<int>(random() % 4);
    for (int d = 0; d < damage; ++d) {
      const std::size_t at = random() % head.size();
      switch (random() % 3) {
        case 0:
          head[at] = static_cast<char>(random());
          break;
        case 1:
          head.erase(at, 1 + random() % 8);
          break;
        default:
          head.insert(at, std::string(1 + random() % 4, static_cast<char>(random())));
          break;
      }
    }
    RequestParser parser;
    const auto state = parser.Feed(head);
    if (state == RequestParser::State::kIncomplete) continue;  // would time out with 408
    const Outcome outcome = state == RequestParser::State::kComplete
                                ? gateway.Handle(parser.request())
                                : gateway.Malformed(parser.error_status(), parser.error_reason());
    audit.CheckOutcome(outcome);
    const int status = outcome.response.status;
    EXPECT_TRUE(status == 200 || status == 400 || status == 403 || status == 404 || status == 431)
        << status;
    EXPECT_TRUE(outcome.response.body.starts_with("<?xml version='1.0' encoding='UTF-8'?>"));
    if (status != 200) {
      EXPECT_NE(Element(outcome.response.body, "Code"), "<absent>");
    } else {
      ++accepted;
    }
  }
  EXPECT_GT(accepted, 100);  // the undamaged quarter (and harmless damage) passes
}

}  // namespace
}  // namespace kestrune::sim

namespace kestrune::sim {
namespace {

// A key the token service issues works with its token, and only until it
// expires; the OIDC exchange needs no key at all.
TEST(StsGatewayTest, IssuedKeysLiveWithTheirTokenUntilTheyExpire) {
  ManualClock clock(kPublishedTime);
  Gateway gateway({}, clock);
  testing::Signer base;
  base.version = std::string(kStsVersion);
  const std::string role = "acs:ram::1234567890123456:role/ops";
  auto assume = [&](const Params& extra, const std::string& action = "AssumeRole") {
    return gateway.Handle(testing::MakeRequest(base.Query(action, extra, clock.NowMillis()),
                                               "sts.cn-hangzhou.aliyuncs.com", "GET"));
  };
  const Outcome issued =
      assume({{"RoleArn", role}, {"RoleSessionName", "ci-run"}, {"DurationSeconds", "900"}});
  ASSERT_EQ(issued.response.status, 200) << issued.response.body;
  const std::string& body = issued.response.body;
  EXPECT_EQ(Element(body, "Arn"), role + "/ci-run");
  EXPECT_EQ(Element(body, "Expiration"), FormatTimestamp(kPublishedTime + 900 * 1000));

  testing::Signer temporary;
  temporary.key_id = Element(body, "AccessKeyId");
  temporary.secret = Element(body, "AccessKeySecret");
  const std::string token = Element(body, "SecurityToken");
  auto describe = [&](const std::string& with_token) {
    return gateway
        .Handle(testing::MakeRequest(
            temporary.Query("DescribeRegions", {{"SecurityToken", with_token}}, clock.NowMillis()),
            "ecs.aliyuncs.com", "GET"))
        .response.body;
  };
  EXPECT_EQ(Element(describe(token), "Code"), "<absent>");
  EXPECT_EQ(Element(describe("CAISother"), "Code"), "InvalidSecurityToken.Malformed");
  clock.AdvanceMillis(900 * 1000);
  EXPECT_EQ(Element(describe(token), "Code"), "InvalidSecurityToken.Expired");

  // Refusals in the service's words.
  EXPECT_EQ(Element(assume({{"RoleArn", "ops"}, {"RoleSessionName", "ci"}}).response.body, "Code"),
            "InvalidParameter.RoleArn");
  EXPECT_EQ(
      Element(assume({{"RoleArn", role}, {"RoleSessionName", "ci"}, {"DurationSeconds", "899"}})
                  .response.body,
              "Code"),
      "InvalidParameter.DurationSeconds");

  // OIDC: unsigned, the provider in the role's account, a token of JWT form.
  auto oidc = [&](const std::string& provider, const std::string& jwt) {
    const std::string query = "Action=AssumeRoleWithOIDC&Version=2015-04-01&Format=JSON&RoleArn=" +
                              testing::RefEncode(role) +
                              "&OIDCProviderArn=" + testing::RefEncode(provider) +
                              "&OIDCToken=" + jwt + "&RoleSessionName=pod";
    return gateway.Handle(testing::MakeRequest(query, "sts.aliyuncs.com", "GET")).response;
  };
  const std::string provider = "acs:ram::1234567890123456:oidc-provider/cluster";
  const HttpResponse good = oidc(provider, "aGVhZA.Ym9keQ.c2ln");
  EXPECT_EQ(good.status, 200) << good.body;
  EXPECT_NE(good.body.find("\"SecurityToken\":\"CAIS"), std::string::npos) << good.body;
  EXPECT_NE(oidc(provider, "not-a-jwt").body.find("AuthenticationFail.OIDCToken.Invalid"),
            std::string::npos);
  EXPECT_NE(oidc("acs:ram::99:oidc-provider/cluster", "a.b.c").body.find("OIDCProviderArn"),
            std::string::npos);
}

}  // namespace
}  // namespace kestrune::sim
