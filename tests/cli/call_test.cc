// `kestrune call` against a simulator each test starts on 127.0.0.1: rows and
// formats, exit statuses, dry runs, raw replies, credentials, traces and usage
// errors; and the built program itself. Every test is audited (see CallTest).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "catalogue/catalogue.h"
#include "engine/engine.h"
#include "process_support.h"

namespace kestrune::cli::clitest {
namespace {

std::vector<std::string> Fields(const std::string& tsv) {
  std::vector<std::string> fields;
  for (const std::string& line : Lines(tsv)) fields.push_back(line.substr(0, line.find('\t')));
  return fields;
}

std::string InfoOf(const std::string& tsv, std::string_view field) {
  for (const std::string& line : Lines(tsv)) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos && line.substr(0, tab) == field) return line.substr(tab + 1);
  }
  return {};
}

TEST_F(CallTest, DescribeRegionsRowsInProductionOrder) {
  Sim();
  TestConsole& console = Console();
  ASSERT_EQ(Call(console, {"ecs", "DescribeRegions"}), kExitOk) << console.err;
  const std::vector<std::string> fields = Fields(console.out);
  ASSERT_GT(fields.size(), 3u);
  EXPECT_EQ(fields[0], "RequestId");
  EXPECT_FALSE(InfoOf(console.out, "RequestId").empty());
  EXPECT_TRUE(Contains(console.out, "RegionId\tcn-hangzhou\n"));
  EXPECT_TRUE(console.err.empty()) << console.err;
  EXPECT_EQ(simulator_->WaitForRequests(1).size(), 1u);
}

TEST_F(CallTest, TableJsonAndTsvShowTheSameRows) {
  Sim();
  TestConsole& tsv = Console();
  TestConsole& table = Console();
  table.terminal = true;  // the default on a terminal
  TestConsole& json = Console();
  ASSERT_EQ(Call(tsv, {"ecs", "DescribeZones", "RegionId=cn-hangzhou"}), kExitOk) << tsv.err;
  ASSERT_EQ(Call(table, {"ecs", "DescribeZones", "RegionId=cn-hangzhou"}), kExitOk);
  ASSERT_EQ(Call(json, {"ecs", "DescribeZones", "RegionId=cn-hangzhou", "--format", "json"}),
            kExitOk);
  const std::vector<std::string> tsv_lines = Lines(tsv.out);
  ASSERT_GT(tsv_lines.size(), 1u);
  EXPECT_TRUE(Contains(tsv.out, "ZoneId\tcn-hangzhou-"));

  // Table: heading, rule, the same rows (RequestId differs per request), the
  // action line last.
  const std::vector<std::string> table_lines = Lines(table.out);
  ASSERT_GE(table_lines.size(), tsv_lines.size() + 3);
  EXPECT_EQ(table_lines[0].rfind("Field", 0), 0u);
  EXPECT_EQ(table_lines[1].rfind("=====", 0), 0u);
  EXPECT_EQ(table_lines.back(), "Action=DescribeZones");
  EXPECT_EQ(table_lines.size(), tsv_lines.size() + 3);

  // Tab-separated records read as paragraphs: the head, then one zone each.
  std::vector<std::string> records;
  for (std::size_t start = 0; start < tsv.out.size();) {
    std::size_t end = tsv.out.find("\n\n", start);
    if (end == std::string::npos) end = tsv.out.size();
    records.push_back(tsv.out.substr(start, end - start));
    start = end + 2;
  }
  ASSERT_GT(records.size(), 2u);
  EXPECT_EQ(records[0].rfind("RequestId\t", 0), 0u);
  for (std::size_t i = 1; i < records.size(); ++i) {
    EXPECT_EQ(records[i].rfind("ZoneId\tcn-hangzhou-", 0), 0u) << records[i];
  }

  // JSON: the service's own document, the same zones in it.
  const nlohmann::ordered_json document = nlohmann::ordered_json::parse(json.out);
  EXPECT_EQ(document.begin().key(), "RequestId");
  std::size_t zone = 1;
  for (const auto& record : document.at("Zones").at("Zone")) {
    EXPECT_TRUE(Contains(records.at(zone++), "ZoneId\t" + record.at("ZoneId").get<std::string>()));
  }
  EXPECT_EQ(zone, records.size());
  EXPECT_EQ(LineCount(json.out), LineCount(document.dump(2)) + 1);
}

// A region no host could hold is refused before anything is sent.
TEST_F(CallTest, ARegionNoHostCouldHoldSendsNothing) {
  Sim();
  TestConsole& given = Console();
  EXPECT_EQ(Call(given, {"ecs", "DescribeZones", "RegionId=cn_hangzhou"}), kExitUsage);
  EXPECT_TRUE(Contains(given.err, "region id holds '_'")) << given.err;
  EXPECT_EQ(LineCount(given.err), 1u) << given.err;
  ExpectNothingSentSoFar();
}

TEST_F(CallTest, ParameterNamesAnyCaseAndRegionOption) {
  Sim();
  TestConsole& lower = Console();
  ASSERT_EQ(Call(lower, {"ecs", "describezones", "regionid=cn-beijing"}), kExitOk) << lower.err;
  EXPECT_TRUE(Contains(lower.out, "ZoneId\tcn-beijing-"));
  TestConsole& region = Console();
  ASSERT_EQ(Call(region, {"ecs", "DescribeZones", "--region", "cn-beijing"}), kExitOk);
  EXPECT_EQ(Fields(region.out), Fields(lower.out));
}

TEST_F(CallTest, ErrorRepliesExitOneWithTheirErrorRows) {
  Sim();
  TestConsole& wrong_secret = Console();
  wrong_secret.env["ALIBABA_CLOUD_ACCESS_KEY_SECRET"] = kWrongSecret;
  EXPECT_EQ(Call(wrong_secret, {"ecs", "DescribeRegions"}), kExitErrorReply);
  EXPECT_EQ(Fields(wrong_secret.out),
            (std::vector<std::string>{"RequestId", "HostId", "Code", "Message", "Recommend"}));
  EXPECT_EQ(InfoOf(wrong_secret.out, "Code"), "SignatureDoesNotMatch");
  EXPECT_EQ(InfoOf(wrong_secret.out, "HostId"), "ecs.aliyuncs.com");
  // The error whole on standard error, then where the service points to.
  const std::vector<std::string> said = Lines(wrong_secret.err);
  // Then the diagnosis of the refused signature.
  ASSERT_EQ(said.size(), 4u) << wrong_secret.err;
  EXPECT_EQ(said[2].rfind("kestrune: note: ", 0), 0u);
  EXPECT_EQ(said[0].rfind("kestrune: SignatureDoesNotMatch: Specified signature is not matched "
                          "with our calculation. server string to sign is:GET&%2F&",
                          0),
            0u)
      << said[0];
  EXPECT_TRUE(said[0].ends_with(" (RequestId " + InfoOf(wrong_secret.out, "RequestId") + ")"));
  EXPECT_EQ(
      said[1],
      "kestrune: see "
      "https://error-center.aliyun.com/status/search?Keyword=SignatureDoesNotMatch&source=PopGw");

  TestConsole& unknown_key = Console();
  unknown_key.env["ALIBABA_CLOUD_ACCESS_KEY_ID"] = "nobody";
  EXPECT_EQ(Call(unknown_key, {"ecs", "DescribeRegions", "--format", "json"}), kExitErrorReply);
  const nlohmann::ordered_json error = nlohmann::ordered_json::parse(unknown_key.out);
  EXPECT_EQ(error.at("Code"), "InvalidAccessKeyId.NotFound");
  EXPECT_TRUE(Contains(unknown_key.err,
                       "kestrune: InvalidAccessKeyId.NotFound: Specified access key "
                       "is not found. (RequestId " +
                           error.at("RequestId").get<std::string>() + ")\n"));
}

TEST_F(CallTest, ProxyPagesAndBrokenConnections) {
  Sim({"--fault", "502"});
  TestConsole& proxy = Console();
  proxy.terminal = true;
  // Without retries: a read would be sent again past the page.
  EXPECT_EQ(Call(proxy, {"ecs", "DescribeRegions", "--retries", "0"}), kExitErrorReply);
  EXPECT_TRUE(Contains(proxy.err, "502")) << proxy.err;
  EXPECT_TRUE(Contains(proxy.out, "502")) << proxy.out;  // the status line as ResultText

  TestConsole& refused = Console();
  refused.terminal = true;
  EXPECT_EQ(RunKestrune(refused, {"call", "ecs", "DescribeRegions", "--endpoint",
                                  "127.0.0.1:" + std::to_string(ClosedPort())}),
            kExitConnection);
  // The engine's outcome in the command line's own words.
  EXPECT_TRUE(refused.out.starts_with("connection failed: could not connect to 127.0.0.1:"))
      << refused.out;
  // Nothing was sent, so it was tried again, and the error says how often.
  EXPECT_EQ(LineCount(refused.err), 2u);
  EXPECT_TRUE(Contains(refused.err, "kestrune: note: 4 attempts were made")) << refused.err;
}

TEST_F(CallTest, TimeOutExitsThree) {
  Sim({"--fault", "delay=5000"});
  TestConsole& console = Console();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Call(console, {"ecs", "DescribeRegions", "--timeout", "0.3"}), kExitConnection);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_TRUE(console.out.empty());  // tab-separated output has no rows to show
  // The failure, then why no retry followed within the time-out.
  EXPECT_EQ(LineCount(console.err), 2u);
  EXPECT_TRUE(Contains(console.err, "within the time-out")) << console.err;
}

// 235 instances in one region: the first walk's third page fails (the
// simulator fails the second request for a later page); the next walk gives
// three pages of 100, every record once and in the simulator's order.
TEST_F(CallTest, AllPagesShowsEveryRecordOnceOrSaysWhichPageFailed) {
  Sim({"--instances", "235@cn-hangzhou", "--fault", "page=2"});
  const std::vector<std::string> arguments = {"ecs", "DescribeInstances", "RegionId=cn-hangzhou",
                                              "--all-pages"};
  auto names = [](const std::string& out) {
    std::vector<std::string> found;
    for (const std::string& line : Lines(out)) {
      if (line.rfind("InstanceName\t", 0) == 0) found.push_back(line.substr(13));
    }
    return found;
  };
  auto padded = [](std::size_t n) {
    const std::string digits = std::to_string(n);
    return "instance-" + std::string(6 - digits.size(), '0') + digits;
  };
  TestConsole& failing = Console();
  std::vector<std::string> no_retries = arguments;
  no_retries.insert(no_retries.end(), {"--retries", "0"});
  EXPECT_EQ(Call(failing, no_retries), kExitErrorReply);
  EXPECT_TRUE(Contains(failing.err, "page 3 failed after 200 records")) << failing.err;
  const std::vector<std::string> fetched = names(failing.out);
  ASSERT_EQ(fetched.size(), 200u);
  EXPECT_EQ(fetched.back(), padded(200));
  EXPECT_TRUE(Contains(failing.out, "Code\tInternalError"));

  TestConsole& all = Console();
  ASSERT_EQ(Call(all, arguments), kExitOk) << all.err;
  const std::vector<std::string> every = names(all.out);
  ASSERT_EQ(every.size(), 235u);
  for (std::size_t i = 0; i < every.size(); ++i) EXPECT_EQ(every[i], padded(i + 1));

  // JSON: one document, the first reply with every page's records, read as
  // one page holding the whole list.
  TestConsole& json = Console();
  std::vector<std::string> json_arguments = arguments;
  json_arguments.insert(json_arguments.end(), {"--format", "json"});
  ASSERT_EQ(Call(json, json_arguments), kExitOk) << json.err;
  const nlohmann::ordered_json joined = nlohmann::ordered_json::parse(json.out);
  const auto& instances = joined.at("Instances").at("Instance");
  ASSERT_EQ(instances.size(), 235u);
  for (std::size_t i = 0; i < instances.size(); ++i) {
    EXPECT_EQ(instances[i].at("InstanceName"), padded(i + 1));
  }
  EXPECT_EQ(joined.at("TotalCount"), 235);
  EXPECT_EQ(joined.at("PageSize"), 235);
  EXPECT_EQ(joined.at("PageNumber"), 1);
  EXPECT_FALSE(joined.contains("KestrunePartial"));

  // A failed walk in JSON keeps the records fetched and says it is partial.
  Sim({"--instances", "235@cn-hangzhou", "--fault", "page=2"});
  TestConsole& partial = Console();
  json_arguments.insert(json_arguments.end(), {"--retries", "0"});
  EXPECT_EQ(Call(partial, json_arguments), kExitErrorReply);
  const nlohmann::ordered_json fetched_json = nlohmann::ordered_json::parse(partial.out);
  EXPECT_EQ(fetched_json.at("Instances").at("Instance").size(), 200u);
  EXPECT_EQ(fetched_json.at("KestrunePartial"),
            nlohmann::ordered_json::parse(R"({"failedPage": 3, "records": 200})"));

  // Past --max-bytes the walk stops as after a failed page, with the records
  // joined so far.
  TestConsole& capped = Console();
  std::vector<std::string> capped_arguments = arguments;
  capped_arguments.insert(capped_arguments.end(), {"--format", "json", "--max-bytes", "1K"});
  EXPECT_EQ(Call(capped, capped_arguments), kExitUsage);
  EXPECT_TRUE(Contains(capped.err, "page 2 would take the joined reply past 1024 bytes"))
      << capped.err;
  const nlohmann::ordered_json capped_json = nlohmann::ordered_json::parse(capped.out);
  EXPECT_EQ(capped_json.at("Instances").at("Instance").size(), 100u);
  EXPECT_EQ(capped_json.at("KestrunePartial"),
            nlohmann::ordered_json::parse(R"({"failedPage": 2, "records": 100})"));

  // With retries the failed page is asked for again, and the walk goes on
  // from there: every record once.
  Sim({"--instances", "235@cn-hangzhou", "--fault", "page=2"});
  TestConsole& resumed = Console();
  ASSERT_EQ(Call(resumed, arguments), kExitOk) << resumed.err;
  EXPECT_EQ(names(resumed.out), every);
}

// The pages of a walk share one connection; each repeat of a request whose
// nonce was found used goes over a new one, as every retry does.
TEST_F(CallTest, PagesShareOneConnectionRepeatsOpenTheirOwn) {
  auto connections = [](const Simulator& sim) {
    const std::string output = sim.Output();
    std::size_t count = 0;
    for (std::size_t at = 0; (at = output.find("kestrune-sim: connection #", at)) != output.npos;
         ++at) {
      ++count;
    }
    return count;
  };
  Simulator& pages = Sim({"--instances", "25@cn-hangzhou"});
  TestConsole& walk = Console();
  ASSERT_EQ(Call(walk, {"ecs", "DescribeInstances", "RegionId=cn-hangzhou", "PageSize=10",
                        "--all-pages"}),
            kExitOk)
      << walk.err;
  ASSERT_EQ(pages.WaitForRequests(3).size(), 3u);
  EXPECT_EQ(connections(pages), 1u) << pages.Output();

  Simulator& repeats = Sim({"--fault", "nonce-used=3"});
  TestConsole& repeated = Console();
  ASSERT_EQ(Call(repeated, {"ecs", "DescribeRegions"}), kExitOk) << repeated.err;
  ASSERT_EQ(repeats.WaitForRequests(4).size(), 4u);
  EXPECT_EQ(connections(repeats), 4u) << repeats.Output();
}

// A service that takes only version 3 refuses the version 1 request; the same
// call goes once more, signed that way, and says so.
TEST_F(CallTest, AnUnsupportedSignatureVersionIsSignedAgainAsVersionThreeOnce) {
  Simulator& v3_only = Sim({"--fault", "unsupported-v1"});
  TestConsole& console = Console();
  ASSERT_EQ(Call(console, {"ecs", "DescribeZones", "RegionId=cn-beijing"}), kExitOk) << console.err;
  EXPECT_TRUE(Contains(console.out, "ZoneId\tcn-beijing-")) << console.out;
  EXPECT_EQ(console.err,
            "kestrune: note: the service takes only signature version 3 for DescribeZones; the "
            "request was signed again that way\n");
  const std::vector<std::string> log = v3_only.WaitForRequests(3, std::chrono::milliseconds(300));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0].ends_with("GET ecs DescribeZones UnsupportedSignatureVersion 400")) << log[0];
  EXPECT_TRUE(log[1].ends_with("GET ecs DescribeZones ok 200")) << log[1];
}

TEST_F(CallTest, RepliesWithoutFormatterShowEveryLeaf) {
  Sim();
  TestConsole& console = Console();
  ASSERT_EQ(Call(console, {"ecs", "DescribeSecurityGroups", "RegionId=cn-hangzhou"}), kExitOk)
      << console.err;
  EXPECT_EQ(Fields(console.out).at(0), "RequestId");
  EXPECT_GT(Lines(console.out).size(), 1u);
  EXPECT_TRUE(Contains(console.err, "every element of the reply is shown")) << console.err;
  EXPECT_EQ(LineCount(console.err), 1u);

  TestConsole& table = Console();
  table.terminal = true;
  ASSERT_EQ(Call(table, {"ecs", "DescribeSecurityGroups", "RegionId=cn-hangzhou"}), kExitOk);
  EXPECT_TRUE(Contains(table.out,
                       "(no formatter for Action=DescribeSecurityGroups: every "
                       "element of the reply is shown)\n"));
  EXPECT_TRUE(table.err.empty()) << table.err;
}

TEST_F(CallTest, RawPrintsTheBodyAsReceived) {
  Sim();
  TestConsole& console = Console();
  ASSERT_EQ(Call(console, {"ecs", "DescribeRegions", "--raw"}), kExitOk) << console.err;
  EXPECT_EQ(console.out.rfind("<?xml", 0), 0u) << console.out.substr(0, 80);
  EXPECT_TRUE(Contains(console.out, "<DescribeRegionsResponse>"));
  EXPECT_TRUE(Contains(console.out, "</DescribeRegionsResponse>"));
  EXPECT_FALSE(Contains(console.out, "HTTP/1.1"));

  TestConsole& error = Console();
  error.env["ALIBABA_CLOUD_ACCESS_KEY_SECRET"] = kRawWrongSecret;
  EXPECT_EQ(Call(error, {"ecs", "DescribeRegions", "--raw"}), kExitErrorReply);
  EXPECT_TRUE(Contains(error.out, "<Code>SignatureDoesNotMatch</Code>"));
}

TEST_F(CallTest, DryRunPrintsASignedRequestTheSimulatorAccepts) {
  Simulator& sim = Sim();
  TestConsole& console = Console();
  ASSERT_EQ(Call(console, {"ecs", "DescribeZones", "RegionId=cn-shanghai", "--dry-run"}), kExitOk)
      << console.err;
  const std::string& request = console.out;
  EXPECT_EQ(request.rfind("GET /?AccessKeyId=" + std::string(kId) + "&", 0), 0u) << request;
  EXPECT_TRUE(Contains(request, "&Signature="));
  EXPECT_TRUE(Contains(request, "Action=DescribeZones"));
  EXPECT_TRUE(Contains(request, "RegionId=cn-shanghai"));
  EXPECT_TRUE(Contains(request, "\r\nHost: ecs.cn-shanghai.aliyuncs.com\r\n"));
  ASSERT_GE(request.size(), 4u);
  EXPECT_EQ(request.substr(request.size() - 4), "\r\n\r\n");
  EXPECT_TRUE(console.err.empty());
  // A dry run sends nothing...
  ExpectNothingSentSoFar();
  // ...and what it printed is a complete request the service accepts.
  const std::string reply = ExchangeRaw(sim.port(), request);
  EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply.substr(0, 200);
  EXPECT_TRUE(Contains(reply, "<ZoneId>cn-shanghai-"));
  // Replayed once more it is refused: the nonce is spent.
  const std::string again = ExchangeRaw(sim.port(), request);
  EXPECT_TRUE(Contains(again, "SignatureNonceUsed")) << again.substr(0, 200);
}

TEST_F(CallTest, CredentialsFromTheEnvironmentOrTheFile) {
  Sim();
  // The file alone.
  WriteFile("sign", std::string(kId) + ":" + kSecret);
  TestConsole& from_file = Console(false);
  ASSERT_EQ(Call(from_file, {"ecs", "DescribeRegions", "--debug"}), kExitOk) << from_file.err;
  EXPECT_TRUE(Contains(from_file.err, "credentials from the file \"sign\"")) << from_file.err;

  // The environment wins over the file.
  WriteFile("sign", std::string("other-id:") + kOtherSecret);
  TestConsole& from_env = Console();
  ASSERT_EQ(Call(from_env, {"ecs", "DescribeRegions", "--debug"}), kExitOk) << from_env.err;
  EXPECT_TRUE(Contains(from_env.err, "credentials from the environment")) << from_env.err;
  EXPECT_EQ(simulator_->WaitForAnswered(2), 2u);
}

TEST_F(CallTest, TraceOptionAndVariableTraceEveryShownValue) {
  Sim();
  TestConsole& traced = Console();
  ASSERT_EQ(Call(traced, {"ecs", "DescribeRegions", "--trace"}), kExitOk);
  const std::vector<std::string>& lines = traced.trace.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "strtitle = RequestId (headreq, 738)"),
            lines.end());

  TestConsole& variable = Console();
  variable.env["KESTRUNE_TRACE"] = "1";
  ASSERT_EQ(Call(variable, {"ecs", "DescribeRegions"}), kExitOk);
  // The same shown values are traced (a nonce retry may add a line of its own).
  auto shown = [](const TestConsole& console) {
    std::size_t count = 0;
    for (const std::string& line : console.trace.lines()) {
      count += line.rfind("strtitle = ", 0) == 0 ? 1 : 0;
    }
    return count;
  };
  EXPECT_GT(shown(traced), 1u);
  EXPECT_EQ(shown(variable), shown(traced));

  TestConsole& quiet = Console();
  ASSERT_EQ(Call(quiet, {"ecs", "DescribeRegions"}), kExitOk);
  EXPECT_TRUE(quiet.trace.lines().empty());
  EXPECT_TRUE(quiet.err.empty());
}

// --debug shows the exchange as curl -v does, and no internal trace line.
TEST_F(CallTest, DebugShowsTheExchange) {
  Sim();
  TestConsole& debug = Console();
  ASSERT_EQ(Call(debug, {"ecs", "DescribeRegions", "--debug"}), kExitOk);
  EXPECT_TRUE(debug.trace.lines().empty());
  EXPECT_TRUE(Contains(debug.err, "sending to " + simulator_->address()));
  EXPECT_TRUE(Contains(debug.err, "\n* string to sign: GET&%2F&AccessKeyId%3D" + std::string(kId)));
  EXPECT_TRUE(Contains(debug.err, "\n> GET /?AccessKeyId=")) << debug.err;
  EXPECT_TRUE(Contains(debug.err, "\n> Host: ecs.aliyuncs.com\n"));
  EXPECT_TRUE(Contains(debug.err, "\n> Connection: close\n>\n* sent "));
  EXPECT_TRUE(Contains(debug.err, "\n< HTTP/1.1 200 OK\n< "));
  EXPECT_TRUE(Contains(debug.err, " bytes (a body of ")) << debug.err;
  for (std::string_view phase : {"resolved ", "connected ", "first byte ", "whole "}) {
    EXPECT_TRUE(Contains(debug.err, phase)) << phase;
  }
  EXPECT_FALSE(Contains(debug.err, kSecret));
}

TEST_F(CallTest, UsageErrorsSendNothing) {
  Sim();
  struct Case {
    std::vector<std::string> arguments;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {{"ec2", "DescribeRegions"}, "unknown service \"ec2\""},
      {{"ecs", "DescribeEverything"}, "ecs has no action \"DescribeEverything\""},
      {{"ecs", "DescribeInstancs"}, "did you mean DescribeInstances"},
      {{"ecs", "Describe-Instances", "--force"}, "is not an action name"},
      {{"ecs", "DescribeZones", "Zone x=1"}, "is not a parameter name"},
      {{"ecs", "DescribeRegions", "--all-pages"}, "DescribeRegions has no pages"},
      {{"ecs", "DescribeInstances", "--all-pages", "--max-bytes", "1T"}, "--max-bytes needs"},
      {{"ecs", "DescribeZones", "RegionId"}, "malformed parameter \"RegionId\""},
      {{"ecs", "DescribeZones", "=cn-x"}, "malformed parameter"},
      {{"ecs", "DescribeZones", "RegionId=a", "regionid=b"}, "given twice"},
      {{"ecs"}, "call needs a service and an action"},
      {{"ecs", "DescribeRegions", "--ca-file", "."}, "\".\" is a directory"},
  };
  for (const Case& c : cases) {
    TestConsole& console = Console();
    EXPECT_EQ(Call(console, c.arguments), kExitUsage) << c.mentions;
    EXPECT_TRUE(console.out.empty());
    ASSERT_EQ(LineCount(console.err), 1u) << console.err;
    EXPECT_TRUE(Contains(console.err, c.mentions)) << console.err;
  }
  // No credentials anywhere, or only half of the environment pair.
  TestConsole& none = Console(false);
  EXPECT_EQ(Call(none, {"ecs", "DescribeRegions"}), kExitUsage);
  EXPECT_EQ(LineCount(none.err), 1u);
  EXPECT_TRUE(Contains(none.err, "no credentials")) << none.err;
  TestConsole& half = Console(false);
  half.env["ALIBABA_CLOUD_ACCESS_KEY_ID"] = kId;
  EXPECT_EQ(Call(half, {"ecs", "DescribeRegions"}), kExitUsage);
  EXPECT_TRUE(Contains(half.err, "ALIBABA_CLOUD_ACCESS_KEY_SECRET is not"));
  WriteFile("sign", "only-an-id");
  TestConsole& id_only = Console(false);
  EXPECT_EQ(Call(id_only, {"ecs", "DescribeRegions"}), kExitUsage);
  EXPECT_EQ(LineCount(id_only.err), 1u);
  std::filesystem::remove("sign");
  // A value beyond what one request item carries is refused by the engine.
  TestConsole& too_long = Console();
  EXPECT_EQ(Call(too_long, {"ecs", "DescribeZones", "RegionId=" + std::string(70000, 'x')}),
            kExitUsage);
  EXPECT_TRUE(too_long.out.empty());
  EXPECT_EQ(LineCount(too_long.err), 1u) << too_long.err;
  ExpectNothingSentSoFar();
}

TEST_F(CallTest, IotAndApiGatewayActionsByDisplayName) {
  Sim();
  TestConsole& iot = Console();
  const std::string display(catalogue::ActionList(1, 0).Entry(3));  // a query action
  const int status = Call(iot, {"iot", display});
  // Whatever the service makes of empty values, the reply is shown.
  EXPECT_TRUE(status == kExitOk || status == kExitErrorReply) << iot.err;
  EXPECT_EQ(Fields(iot.out).at(0), "RequestId");
  const std::vector<std::string> log = simulator_->WaitForRequests(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(Contains(log[0], " iot ")) << log[0];
}

// --wait-for calls again until every record holds a wanted value; a
// --wait-fail value or the time-out ends it unreached (6); a field the reply
// lacks is said after the first call, not polled for.
TEST_F(CallTest, WaitForCallsAgainUntilEveryRecordIsThere) {
  Sim({"--transition", "300"});
  TestConsole& list = Console();
  ASSERT_EQ(Call(list, {"ecs", "DescribeInstances", "RegionId=cn-hangzhou", "--format", "json"}),
            kExitOk);
  std::string stopped;
  std::string running;
  const nlohmann::json listed = nlohmann::json::parse(list.out);
  for (const auto& instance : listed.at("Instances").at("Instance")) {
    (instance.at("Status") == "Stopped" ? stopped : running) =
        instance.at("InstanceId").get<std::string>();
  }
  TestConsole& start = Console();
  ASSERT_EQ(Call(start, {"ecs", "StartInstance", "InstanceId=" + stopped}), kExitOk) << start.err;
  TestConsole& all_up = Console();
  ASSERT_EQ(Call(all_up, {"ecs", "DescribeInstanceStatus", "RegionId=cn-hangzhou", "--wait-for",
                          "Status=Running", "--wait-interval", "0.1", "--debug"}),
            kExitOk)
      << all_up.err;
  EXPECT_TRUE(Contains(all_up.err, "Status holds Running, Starting (call 1)")) << all_up.err;
  const std::vector<std::string> shown = Lines(all_up.out);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "Status\tRunning"), 3) << all_up.out;

  TestConsole& stop = Console();
  ASSERT_EQ(Call(stop, {"ecs", "StopInstance", "InstanceId=" + running}), kExitOk) << stop.err;
  TestConsole& failed = Console();
  EXPECT_EQ(Call(failed, {"ecs", "DescribeInstances", "RegionId=cn-hangzhou",
                          "InstanceIds=[\"" + running + "\"]", "--format", "json", "--wait-for",
                          "Instances.Instance.Status=Running", "--wait-fail", "Stopped",
                          "--wait-interval", "0.1", "--debug"}),
            kExitWaitEnded);
  EXPECT_TRUE(Contains(failed.err, "holds Stopping (call 1)")) << failed.err;
  EXPECT_TRUE(Contains(failed.err, "holds Stopped, a --wait-fail value")) << failed.err;
  EXPECT_EQ(nlohmann::json::parse(failed.out)["Instances"]["Instance"][0]["Status"], "Stopped");

  TestConsole& late = Console();
  EXPECT_EQ(Call(late, {"ecs", "DescribeInstanceStatus", "RegionId=cn-hangzhou", "--wait-for",
                        "Status=Starting", "--wait-interval", "0.1", "--wait-timeout", "0.25"}),
            kExitWaitEnded);
  EXPECT_TRUE(Contains(late.err, "still not Starting after 0.25 s (")) << late.err;

  const std::size_t before = simulator_->RequestLog().size();
  TestConsole& misspelt = Console();
  EXPECT_EQ(Call(misspelt, {"ecs", "DescribeInstanceStatus", "RegionId=cn-hangzhou", "--wait-for",
                            "Statuz=Running"}),
            kExitUsage);
  EXPECT_EQ(misspelt.err,
            "kestrune: --wait-for: Statuz names nothing in the reply of DescribeInstanceStatus\n");
  EXPECT_EQ(simulator_->WaitForRequests(before + 1).size(), before + 1);

  // A change is never repeated to wait: refused before anything is sent.
  TestConsole& change = Console();
  EXPECT_EQ(Call(change,
                 {"ecs", "StopInstance", "InstanceId=" + running, "--wait-for", "Status=Stopped"}),
            kExitUsage);
  EXPECT_TRUE(Contains(change.err, "StopInstance changes resources")) << change.err;
  EXPECT_EQ(simulator_->RequestLog().size(), before + 1);
}

TEST_F(CallTest, TheProgramItself) {
  Simulator& sim = Sim();
  ProgramOptions options;
  options.env = {{"ALIBABA_CLOUD_ACCESS_KEY_ID", kId},
                 {"ALIBABA_CLOUD_ACCESS_KEY_SECRET", kSecret},
                 {"KESTRUNE_ENDPOINT", sim.address()},
                 {"KESTRUNE_TRACE", std::nullopt}};
  const ProgramRun good = RunBinary({"call", "ecs", "DescribeRegions"}, options);
  EXPECT_EQ(good.exit_code, kExitOk) << good.err;
  EXPECT_EQ(good.out.rfind("RequestId\t", 0), 0u);  // not a terminal: tab-separated
  EXPECT_TRUE(good.err.empty());

  const ProgramRun traced = RunBinary({"call", "ecs", "DescribeRegions", "--trace"}, options);
  EXPECT_EQ(traced.exit_code, kExitOk);
  EXPECT_TRUE(Contains(traced.err, "strtitle = RequestId (headreq, 738)\n"));

  // A full disk is reported, with a status of its own.
  const ProgramRun full = RunProgram("/bin/sh", {"-c", "exec \"$0\" \"$@\" >/dev/full",
                                                 KESTRUNE_CLI_PATH, "sample", "DescribeRegions"});
  EXPECT_EQ(full.exit_code, kExitWriteError);
  EXPECT_EQ(full.err.rfind("kestrune: write error: ", 0), 0u) << full.err;
  EXPECT_EQ(LineCount(full.err), 1u);

  const ProgramRun usage = RunBinary({"call", "ecs", "Nope"}, options);
  EXPECT_EQ(usage.exit_code, kExitUsage);
  EXPECT_EQ(LineCount(usage.err), 1u);

  const ProgramRun dry = RunBinary({"call", "ecs", "DescribeRegions", "--dry-run"}, options);
  EXPECT_EQ(dry.exit_code, kExitOk);
  EXPECT_EQ(dry.out.rfind("GET /?", 0), 0u);

  options.input = std::string(kSecret) + "\n";
  const ProgramRun writer = RunBinary({"credentials", kId}, options);
  EXPECT_EQ(writer.exit_code, kExitOk) << writer.err;
  EXPECT_EQ(ReadFile(work_.File("sign")), std::string(kId) + ":" + kSecret);

  const ProgramRun version = RunBinary({"--version"});
  EXPECT_EQ(version.exit_code, kExitOk);
  EXPECT_EQ(version.out.rfind("kestrune ", 0), 0u);
}

}  // namespace
}  // namespace kestrune::cli::clitest
