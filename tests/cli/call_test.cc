// `kestrune call` and `kestrune demo` against a simulator each test starts on
// 127.0.0.1: rows and formats, exit statuses, dry runs, raw replies,
// credentials, traces and usage errors. Every test is audited: no secret it
// holds, right or wrong, shows on a standard stream (this process's and its
// children's), in a run's output, errors, prompts or trace, in the
// simulator's output and log, or in a file the program wrote other than "sign".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/engine.h"
#include "process_support.h"
#include "test_console.h"
#include "tests/support/secret_audit.h"

namespace kestrune::cli {
namespace {

using clitest::LineCount;
using clitest::Lines;
using clitest::RunKestrune;
using clitest::Simulator;
using clitest::TestConsole;

constexpr char kId[] = "cli-test-id";
constexpr char kSecret[] = "cli-test-secret-9f2c";
// Secrets the tests use on purpose besides their own.
constexpr char kWrongSecret[] = "not-the-secret";           // SignatureDoesNotMatch
constexpr char kRawWrongSecret[] = "wrong-secret-for-raw";  // the same, for --raw
constexpr char kOtherSecret[] = "other-secret";             // a file the environment overrides
constexpr char kTypedSecret[] = "typed-secret";             // typed at the prompt
constexpr char kColonIdSecret[] = "colon-id-secret";        // typed for an id that is refused
constexpr char kDemoSecret[] = "kestrune-demo-secret";      // the demo's key pair

// One character over the longest secret the program takes.
std::string OverLongSecret() {
  std::string secret = "over-long-typed-secret-";
  secret.resize(49, 'x');
  return secret;
}

bool Contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

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

// Requests the simulator answered with a good reply. A request the simulator
// refused for a used nonce is sent again, so the log may hold more lines than
// requests were made.
std::size_t Answered(const std::vector<std::string>& log) {
  std::size_t answered = 0;
  for (const std::string& line : log) {
    const std::string_view ok = " ok 200";
    answered +=
        line.size() >= ok.size() && line.compare(line.size() - ok.size(), ok.size(), ok) == 0;
  }
  return answered;
}

// Waits (bounded) until `count` good replies are in the log; returns how many.
std::size_t WaitForAnswered(const Simulator& sim, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (;;) {
    const std::size_t answered = Answered(sim.RequestLog());
    if (answered >= count || std::chrono::steady_clock::now() > deadline) return answered;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

class CallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    start_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(work_.path());  // where "sign" is looked for
  }

  void TearDown() override {
    std::filesystem::current_path(start_dir_);
    audit_.CheckFilesUnder(work_.path());
    for (const auto& console : consoles_) {
      audit_.CheckText("a run's output", console->out);
      audit_.CheckText("a run's errors", console->err);
      audit_.CheckLines("a run's trace", console->trace.lines());
      for (const auto& prompt : console->prompts) audit_.CheckText("a prompt", prompt.first);
    }
    for (const clitest::ProgramRun& run : runs_) {
      audit_.CheckText("the program's standard output", run.out);
      audit_.CheckText("the program's standard error", run.err);
    }
    for (const auto& simulator : simulators_) {
      audit_.CheckText("the simulator's output and log", simulator->Output());
    }
    audit_.Finish();
  }

  // A simulator that knows the test's key pair (or, without `test_key`, only
  // its default demo pair); the latest one is the one Call() aims at.
  Simulator& Sim(std::vector<std::string> arguments = {}, bool test_key = true) {
    if (test_key) {
      arguments.push_back("--access-key");
      arguments.push_back(std::string(kId) + ":" + kSecret);
    }
    simulators_.push_back(std::make_unique<Simulator>(arguments));
    simulator_ = simulators_.back().get();
    EXPECT_TRUE(simulator_->started());
    return *simulator_;
  }

  // A console whose environment holds the test's key pair.
  TestConsole& Console(bool with_credentials = true) {
    consoles_.push_back(std::make_unique<TestConsole>());
    TestConsole& console = *consoles_.back();
    if (with_credentials) {
      console.env["ALIBABA_CLOUD_ACCESS_KEY_ID"] = kId;
      console.env["ALIBABA_CLOUD_ACCESS_KEY_SECRET"] = kSecret;
    }
    return console;
  }

  int Call(TestConsole& console, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "call");
    arguments.push_back("--endpoint");
    arguments.push_back(simulator_->address());
    return RunKestrune(console, arguments);
  }

  clitest::ProgramRun RunBinary(const std::vector<std::string>& arguments,
                                clitest::ProgramOptions options = {}) {
    if (options.working_dir.empty()) options.working_dir = work_.path();
    runs_.push_back(clitest::RunProgram(KESTRUNE_CLI_PATH, arguments, options));
    return runs_.back();
  }

  // Proves that nothing reached the simulator so far: a good request now is
  // the first and only one in its log.
  void ExpectNothingSentSoFar() {
    TestConsole& probe = Console();
    ASSERT_EQ(Call(probe, {"ecs", "DescribeRegions"}), kExitOk) << probe.err;
    const std::vector<std::string> log = simulator_->WaitForRequests(1);
    ASSERT_EQ(log.size(), 1u) << (log.empty() ? "" : log[0]);
    EXPECT_TRUE(Contains(log[0], "DescribeRegions")) << log[0];
  }

  clitest::TempDir work_;
  std::filesystem::path start_dir_;
  std::vector<std::unique_ptr<Simulator>> simulators_;
  Simulator* simulator_ = nullptr;
  std::vector<std::unique_ptr<TestConsole>> consoles_;
  std::vector<clitest::ProgramRun> runs_;
  testsupport::SecretAudit audit_{{kSecret, kWrongSecret, kRawWrongSecret, kOtherSecret,
                                   kTypedSecret, kColonIdSecret, kDemoSecret, OverLongSecret()}};
};

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

  // JSON: one object per row, in the same order.
  const std::vector<std::string> json_lines = Lines(json.out);
  ASSERT_EQ(json_lines.size(), tsv_lines.size() + 2);
  EXPECT_EQ(json_lines.front(), "[");
  EXPECT_EQ(json_lines.back(), "]");
  for (std::size_t i = 1; i < tsv_lines.size(); ++i) {
    const std::string field = tsv_lines[i].substr(0, tsv_lines[i].find('\t'));
    EXPECT_EQ(json_lines[i + 1].rfind("  {\"field\":\"" + field + "\",\"info\":", 0), 0u)
        << json_lines[i + 1];
  }
}

TEST_F(CallTest, ParameterNamesAnyCaseAndRegionOption) {
  Sim();
  TestConsole& lower = Console();
  ASSERT_EQ(Call(lower, {"ecs", "describezones", "regionid=cn-beijing"}), kExitOk) << lower.err;
  EXPECT_TRUE(Contains(lower.out, "ZoneId\tcn-beijing-"));
  TestConsole& region = Console();
  ASSERT_EQ(Call(region, {"ecs", "DescribeZones", "--region", "cn-beijing"}), kExitOk);
  EXPECT_EQ(Fields(region.out), Fields(lower.out));
  // --region applies only where the action has a RegionId.
  TestConsole& none = Console();
  EXPECT_EQ(Call(none, {"ecs", "StopInstance", "--region", "cn-beijing"}), kExitUsage);
  EXPECT_EQ(LineCount(none.err), 1u);
}

TEST_F(CallTest, ErrorRepliesExitOneWithTheirFourRows) {
  Sim();
  TestConsole& wrong_secret = Console();
  wrong_secret.env["ALIBABA_CLOUD_ACCESS_KEY_SECRET"] = kWrongSecret;
  EXPECT_EQ(Call(wrong_secret, {"ecs", "DescribeRegions"}), kExitErrorReply);
  EXPECT_EQ(Fields(wrong_secret.out),
            (std::vector<std::string>{"RequestId", "HostId", "Code", "Message"}));
  EXPECT_EQ(InfoOf(wrong_secret.out, "Code"), "SignatureDoesNotMatch");
  EXPECT_EQ(InfoOf(wrong_secret.out, "HostId"), "ecs.aliyuncs.com");
  EXPECT_EQ(LineCount(wrong_secret.err), 1u);
  EXPECT_TRUE(Contains(wrong_secret.err, "SignatureDoesNotMatch"));

  TestConsole& unknown_key = Console();
  unknown_key.env["ALIBABA_CLOUD_ACCESS_KEY_ID"] = "nobody";
  EXPECT_EQ(Call(unknown_key, {"ecs", "DescribeRegions", "--format", "json"}), kExitErrorReply);
  EXPECT_TRUE(Contains(unknown_key.out, "\"info\":\"InvalidAccessKeyId.NotFound\""));
}

TEST_F(CallTest, ProxyPagesAndBrokenConnections) {
  Sim({"--fault", "502"});
  TestConsole& proxy = Console();
  proxy.terminal = true;
  EXPECT_EQ(Call(proxy, {"ecs", "DescribeRegions"}), kExitErrorReply);
  EXPECT_TRUE(Contains(proxy.err, "502")) << proxy.err;
  EXPECT_TRUE(Contains(proxy.out, "502")) << proxy.out;  // the status line as ResultText

  TestConsole& refused = Console();
  refused.terminal = true;
  EXPECT_EQ(RunKestrune(refused, {"call", "ecs", "DescribeRegions", "--endpoint",
                                  "127.0.0.1:" + std::to_string(clitest::ClosedPort())}),
            kExitConnection);
  EXPECT_EQ(refused.out, std::string(engine::kConnectionFailedText) + "\n");
  EXPECT_EQ(LineCount(refused.err), 1u);
}

TEST_F(CallTest, TimeOutExitsThree) {
  Sim({"--fault", "delay=5000"});
  TestConsole& console = Console();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Call(console, {"ecs", "DescribeRegions", "--timeout", "0.3"}), kExitConnection);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_TRUE(console.out.empty());  // tab-separated output has no rows to show
  EXPECT_EQ(LineCount(console.err), 1u);
}

TEST_F(CallTest, ListedActionWithoutRequestIsNotSupported) {
  Sim();
  TestConsole& console = Console();
  console.terminal = true;
  EXPECT_EQ(Call(console, {"ecs", "StartInstances"}), kExitNotSupported);
  EXPECT_EQ(console.out, std::string(engine::kNotSupportedText) + "\n");
  EXPECT_EQ(LineCount(console.err), 1u);
  ExpectNothingSentSoFar();
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
  EXPECT_TRUE(Contains(request, "\r\nHost: ecs.aliyuncs.com\r\n"));
  ASSERT_GE(request.size(), 4u);
  EXPECT_EQ(request.substr(request.size() - 4), "\r\n\r\n");
  EXPECT_TRUE(console.err.empty());
  // A dry run sends nothing...
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(sim.RequestLog().empty());
  // ...and what it printed is a complete request the service accepts.
  const std::string reply = clitest::ExchangeRaw(sim.port(), request);
  EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply.substr(0, 200);
  EXPECT_TRUE(Contains(reply, "<ZoneId>cn-shanghai-"));
  // Replayed once more it is refused: the nonce is spent.
  const std::string again = clitest::ExchangeRaw(sim.port(), request);
  EXPECT_TRUE(Contains(again, "SignatureNonceUsed")) << again.substr(0, 200);
}

TEST_F(CallTest, CredentialsFromTheEnvironmentOrTheFile) {
  Sim();
  // The file alone.
  clitest::WriteFile("sign", std::string(kId) + ":" + kSecret);
  TestConsole& from_file = Console(false);
  ASSERT_EQ(Call(from_file, {"ecs", "DescribeRegions", "--debug"}), kExitOk) << from_file.err;
  EXPECT_TRUE(Contains(from_file.err, "credentials from the file \"sign\"")) << from_file.err;

  // The environment wins over the file.
  clitest::WriteFile("sign", std::string("other-id:") + kOtherSecret);
  TestConsole& from_env = Console();
  ASSERT_EQ(Call(from_env, {"ecs", "DescribeRegions", "--debug"}), kExitOk) << from_env.err;
  EXPECT_TRUE(Contains(from_env.err, "credentials from the environment")) << from_env.err;
  EXPECT_EQ(WaitForAnswered(*simulator_, 2), 2u);
}

TEST_F(CallTest, DebugAndTraceVariableTraceEveryShownValue) {
  Sim();
  TestConsole& debug = Console();
  ASSERT_EQ(Call(debug, {"ecs", "DescribeRegions", "--debug"}), kExitOk);
  ASSERT_FALSE(debug.trace.lines().empty());
  EXPECT_EQ(debug.trace.lines()[0], "strtitle = RequestId (headreq, 738)");
  EXPECT_EQ(debug.trace.lines()[1].rfind("OneXmlBuf = ", 0), 0u);
  EXPECT_TRUE(Contains(debug.err, "sending to " + simulator_->address()));

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
  EXPECT_GT(shown(debug), 1u);
  EXPECT_EQ(shown(variable), shown(debug));

  TestConsole& quiet = Console();
  ASSERT_EQ(Call(quiet, {"ecs", "DescribeRegions"}), kExitOk);
  EXPECT_TRUE(quiet.trace.lines().empty());
  EXPECT_TRUE(quiet.err.empty());
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
      {{"ecs", "DescribeZones", "Zone=x"}, "accepted: RegionId"},
      {{"ecs", "DescribeZones", "RegionId"}, "malformed parameter \"RegionId\""},
      {{"ecs", "DescribeZones", "=cn-x"}, "malformed parameter"},
      {{"ecs", "DescribeZones", "RegionId=a", "regionid=b"}, "given twice"},
      {{"ecs"}, "call needs a service and an action"},
      {{"ecs", "DescribeRegions", "--timeout", "0"}, "bad time-out"},
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
  clitest::WriteFile("sign", "only-an-id");
  TestConsole& id_only = Console(false);
  EXPECT_EQ(Call(id_only, {"ecs", "DescribeRegions"}), kExitUsage);
  EXPECT_EQ(LineCount(id_only.err), 1u);
  std::filesystem::remove("sign");
  // A value beyond what one request item carries is refused by the engine.
  TestConsole& too_long = Console();
  EXPECT_EQ(Call(too_long, {"ecs", "DescribeZones", "RegionId=" + std::string(300, 'x')}),
            kExitUsage);
  EXPECT_TRUE(too_long.out.empty());
  EXPECT_EQ(LineCount(too_long.err), 1u) << too_long.err;
  // A bad KESTRUNE_ENDPOINT.
  TestConsole& bad_endpoint = Console();
  bad_endpoint.env["KESTRUNE_ENDPOINT"] = "127.0.0.1:0";
  EXPECT_EQ(RunKestrune(bad_endpoint, {"call", "ecs", "DescribeRegions"}), kExitUsage);
  EXPECT_TRUE(Contains(bad_endpoint.err, "KESTRUNE_ENDPOINT"));
  ExpectNothingSentSoFar();
}

TEST_F(CallTest, EndpointFromTheEnvironment) {
  Sim();
  TestConsole& console = Console();
  console.env["KESTRUNE_ENDPOINT"] = simulator_->address();
  ASSERT_EQ(RunKestrune(console, {"call", "ecs", "DescribeRegions"}), kExitOk) << console.err;
  EXPECT_EQ(simulator_->WaitForRequests(1).size(), 1u);
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

TEST_F(CallTest, CredentialsSubcommandWritesTheFileTheNextCallUses) {
  Sim();
  TestConsole& writer = Console(false);
  writer.input = {kSecret};
  ASSERT_EQ(RunKestrune(writer, {"credentials", kId}), kExitOk) << writer.err;
  ASSERT_EQ(writer.prompts.size(), 1u);
  EXPECT_TRUE(writer.prompts[0].second);  // the secret is read hidden
  EXPECT_EQ(clitest::ReadFile("sign"), std::string(kId) + ":" + kSecret);
  struct stat info {};
  ASSERT_EQ(stat("sign", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  TestConsole& caller = Console(false);
  EXPECT_EQ(Call(caller, {"ecs", "DescribeRegions"}), kExitOk) << caller.err;

  TestConsole& prompted = Console(false);
  prompted.input = {"typed-id", kTypedSecret};
  ASSERT_EQ(RunKestrune(prompted, {"credentials"}), kExitOk);
  ASSERT_EQ(prompted.prompts.size(), 2u);
  EXPECT_FALSE(prompted.prompts[0].second);
  EXPECT_TRUE(prompted.prompts[1].second);
  EXPECT_EQ(clitest::ReadFile("sign"), std::string("typed-id:") + kTypedSecret);

  // Refused input leaves the file as it was.
  for (const std::vector<std::string>& input :
       std::vector<std::vector<std::string>>{{}, {""}, {OverLongSecret()}}) {
    TestConsole& refused = Console(false);
    refused.input = input;
    EXPECT_EQ(RunKestrune(refused, {"credentials", "another-id"}), kExitUsage);
    EXPECT_EQ(LineCount(refused.err), 1u);
  }
  TestConsole& colon = Console(false);
  colon.input = {kColonIdSecret};
  EXPECT_EQ(RunKestrune(colon, {"credentials", "a:b"}), kExitUsage);
  EXPECT_EQ(clitest::ReadFile("sign"), std::string("typed-id:") + kTypedSecret);
}

TEST_F(CallTest, TheSecretTypedAtATerminalIsNotEchoed) {
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (chdir(work_.path().c_str()) != 0) _exit(126);
    execl(KESTRUNE_CLI_PATH, KESTRUNE_CLI_PATH, "credentials", "pty-id",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(child, 0);
  // Reads what the terminal shows until `wanted` appears or the program ends.
  std::string shown;
  auto read_until = [&](std::string_view wanted) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Contains(shown, wanted) && std::chrono::steady_clock::now() < deadline) {
      pollfd readable{terminal, POLLIN, 0};
      if (poll(&readable, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t n = read(terminal, buffer, sizeof buffer);
      if (n <= 0) return;  // the program has ended
      shown.append(buffer, static_cast<std::size_t>(n));
    }
  };
  read_until("AccessKey secret: ");
  ASSERT_TRUE(Contains(shown, "AccessKey secret: ")) << shown;
  const std::string typed = std::string(kSecret) + "\n";
  ASSERT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  read_until("wrote the credential file");
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);  // still waiting for the line it never got
      waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  close(terminal);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitOk) << shown;
  // The terminal is the child's own, not a captured stream: audit what it showed.
  audit_.CheckText("what the terminal showed", shown);
  EXPECT_EQ(clitest::ReadFile(work_.File("sign")), std::string("pty-id:") + kSecret);
}

TEST_F(CallTest, TheProgramItself) {
  Simulator& sim = Sim();
  clitest::ProgramOptions options;
  options.env = {{"ALIBABA_CLOUD_ACCESS_KEY_ID", kId},
                 {"ALIBABA_CLOUD_ACCESS_KEY_SECRET", kSecret},
                 {"KESTRUNE_ENDPOINT", sim.address()},
                 {"KESTRUNE_TRACE", std::nullopt}};
  const clitest::ProgramRun good = RunBinary({"call", "ecs", "DescribeRegions"}, options);
  EXPECT_EQ(good.exit_code, kExitOk) << good.err;
  EXPECT_EQ(good.out.rfind("RequestId\t", 0), 0u);  // not a terminal: tab-separated
  EXPECT_TRUE(good.err.empty());

  const clitest::ProgramRun traced =
      RunBinary({"call", "ecs", "DescribeRegions", "--debug"}, options);
  EXPECT_EQ(traced.exit_code, kExitOk);
  EXPECT_TRUE(Contains(traced.err, "strtitle = RequestId (headreq, 738)\n"));

  const clitest::ProgramRun usage = RunBinary({"call", "ecs", "Nope"}, options);
  EXPECT_EQ(usage.exit_code, kExitUsage);
  EXPECT_EQ(LineCount(usage.err), 1u);

  const clitest::ProgramRun dry =
      RunBinary({"call", "ecs", "DescribeRegions", "--dry-run"}, options);
  EXPECT_EQ(dry.exit_code, kExitOk);
  EXPECT_EQ(dry.out.rfind("GET /?", 0), 0u);

  options.input = std::string(kSecret) + "\n";
  const clitest::ProgramRun writer = RunBinary({"credentials", kId}, options);
  EXPECT_EQ(writer.exit_code, kExitOk) << writer.err;
  EXPECT_EQ(clitest::ReadFile(work_.File("sign")), std::string(kId) + ":" + kSecret);

  const clitest::ProgramRun version = RunBinary({"--version"});
  EXPECT_EQ(version.exit_code, kExitOk);
  EXPECT_EQ(version.out.rfind("kestrune ", 0), 0u);
}

TEST_F(CallTest, DemoStartsItsSimulatorAndTakesTheTour) {
  clitest::ProgramOptions options;
  options.env = {{"KESTRUNE_SIM", KESTRUNE_SIM_PATH}};
  const clitest::ProgramRun demo = RunBinary({"demo"}, options);
  ASSERT_EQ(demo.exit_code, kExitOk) << demo.out << demo.err;
  std::vector<std::string> headings;
  for (const std::string& line : Lines(demo.out)) {
    if (line.rfind("== ", 0) == 0) headings.push_back(line);
  }
  ASSERT_EQ(headings.size(), 5u) << demo.out;
  EXPECT_EQ(headings[0], "== DescribeRegions ==");
  EXPECT_EQ(headings[1], "== DescribeZones RegionId=cn-hangzhou ==");
  EXPECT_EQ(headings[2], "== DescribeInstanceStatus RegionId=cn-hangzhou ==");
  EXPECT_EQ(headings[3].rfind("== StopInstance InstanceId=", 0), 0u);
  EXPECT_EQ(headings[4], headings[2]);
  // The stopped instance is no longer running in the last status.
  const std::string instance = headings[3].substr(
      std::string("== StopInstance InstanceId=").size(),
      headings[3].size() - std::string("== StopInstance InstanceId=").size() - 3);
  const std::string last = demo.out.substr(demo.out.rfind(headings[4]));
  const std::vector<std::string> rows = Lines(last);
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    if (rows[i] == "InstanceId\t" + instance) {
      EXPECT_NE(rows[i + 1], "Status\tRunning") << last;
    }
  }
  EXPECT_TRUE(Contains(demo.out, "InstanceId\t" + instance));
}

TEST_F(CallTest, AnInterruptedDemoLeavesNoSimulatorBehind) {
  // A stand-in for the simulator that notes its process id and holds every
  // reply back, so the tour is still running when the program is killed.
  const std::string pid_file = work_.File("sim.pid");
  const std::string wrapper = work_.File("slow-sim");
  clitest::WriteFile(wrapper, "#!/bin/sh\necho $$ > '" + pid_file + "'\nexec '" +
                                  KESTRUNE_SIM_PATH + "' \"$@\" --fault delay=20000\n");
  ASSERT_EQ(chmod(wrapper.c_str(), 0700), 0);

  // What the demo writes goes to a file of the test's directory, for the audit.
  const std::string output_file = work_.File("demo-output");
  const pid_t demo = fork();
  if (demo == 0) {
    const int output = open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    setenv("KESTRUNE_SIM", wrapper.c_str(), 1);
    execl(KESTRUNE_CLI_PATH, KESTRUNE_CLI_PATH, "demo", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(demo, 0);
  // Wait (bounded) for the simulator to be up.
  pid_t simulator = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (simulator == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string text = clitest::ReadFile(pid_file);
    if (!text.empty() && text.back() == '\n') simulator = std::atoi(text.c_str());
  }
  ASSERT_GT(simulator, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the tour has begun
  kill(demo, SIGKILL);
  waitpid(demo, nullptr, 0);

  // The simulator goes with it (a process that is gone or a zombie no longer runs).
  auto running = [simulator]() {
    const std::string stat = clitest::ReadFile("/proc/" + std::to_string(simulator) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
  };
  const auto gone_by = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (running() && std::chrono::steady_clock::now() < gone_by) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(running());
  if (running()) kill(simulator, SIGKILL);
}

TEST_F(CallTest, DemoAgainstAGivenSimulator) {
  Simulator& sim = Sim({}, false);  // the demo key pair is the simulator's default
  ASSERT_TRUE(sim.started());
  TestConsole& console = Console(false);
  ASSERT_EQ(RunKestrune(console, {"demo", "--endpoint", sim.address(), "--region", "cn-beijing"}),
            kExitOk)
      << console.err;
  EXPECT_TRUE(Contains(console.out, "== DescribeZones RegionId=cn-beijing =="));
  EXPECT_EQ(WaitForAnswered(sim, 5), 5u);
  // Without a simulator to find it says what to do, and sends nothing.
  TestConsole& lost = Console(false);
  lost.env["KESTRUNE_SIM"] = work_.File("no-such-program");
  EXPECT_EQ(RunKestrune(lost, {"demo"}), kExitUsage);
  EXPECT_EQ(LineCount(lost.err), 1u);
}

}  // namespace
}  // namespace kestrune::cli
