#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/settings.h"
#include "tests/cli/test_console.h"

namespace kestrune::cli {
namespace {

core::Result<CommandLine> Parse(std::vector<std::string> arguments) {
  return ParseCommandLine(arguments);
}

TEST(CommandLineTest, SubcommandOperandsAndOptionsInAnyPosition) {
  core::Result<CommandLine> line =
      Parse({"--debug", "call", "ecs", "--format", "json", "DescribeZones", "RegionId=cn-x",
             "--endpoint=127.0.0.1:8080", "--timeout", "2.5"});
  ASSERT_TRUE(line.ok()) << line.status().message();
  EXPECT_EQ(line->subcommand, Subcommand::kCall);
  EXPECT_EQ(line->operands, (std::vector<std::string>{"ecs", "DescribeZones", "RegionId=cn-x"}));
  EXPECT_TRUE(line->debug);
  EXPECT_EQ(line->format, OutputFormat::kJson);
  EXPECT_EQ(line->endpoint, "127.0.0.1:8080");
  EXPECT_EQ(line->timeout, std::chrono::milliseconds(2500));
  EXPECT_FALSE(line->raw);
  EXPECT_FALSE(line->dry_run);
}

TEST(CommandLineTest, DoubleDashMakesLaterArgumentsOperands) {
  core::Result<CommandLine> line = Parse({"call", "ecs", "X", "--", "--raw", "-h"});
  ASSERT_TRUE(line.ok());
  EXPECT_FALSE(line->raw);
  EXPECT_FALSE(line->help);
  EXPECT_EQ(line->operands, (std::vector<std::string>{"ecs", "X", "--raw", "-h"}));
}

TEST(CommandLineTest, ValuesThatLookLikeOptionsStayWithTheirName) {
  // A parameter's value may start with dashes; it follows "Name=".
  core::Result<CommandLine> line = Parse({"call", "ecs", "X", "Description=--raw"});
  ASSERT_TRUE(line.ok());
  EXPECT_FALSE(line->raw);
  EXPECT_EQ(line->operands.back(), "Description=--raw");
}

TEST(CommandLineTest, HelpAndVersionAnywhere) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"call", "--help"}, {"list", "ecs", "-h"}, {"demo", "--help"}}) {
    core::Result<CommandLine> line = Parse(arguments);
    ASSERT_TRUE(line.ok()) << arguments.back();
    EXPECT_TRUE(line->help);
  }
  core::Result<CommandLine> line = Parse({"--version"});
  ASSERT_TRUE(line.ok());
  EXPECT_TRUE(line->version);
  // Help is accepted with options that would otherwise not apply.
  EXPECT_TRUE(Parse({"list", "--raw", "--help"}).ok());
}

TEST(CommandLineTest, MalformedCommandLinesAreRefusedWithAReason) {
  struct Case {
    std::vector<std::string> arguments;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {{"frobnicate"}, "unknown subcommand"},
      {{"call", "--frob"}, "unknown option \"--frob\""},
      {{"call", "-x"}, "unknown option \"-x\""},
      {{"call", "--endpoint"}, "--endpoint needs a value"},
      {{"call", "--raw=yes"}, "--raw takes no value"},
      {{"call", "--format", "xml"}, "unknown format \"xml\""},
      {{"call", "--timeout", "soon"}, "bad time-out"},
      {{"call", "--endpoint", "a b"}, "bad endpoint"},
      {{"call", "--region="}, "--region needs a region id"},
      {{"list", "--raw"}, "--raw applies to call only, not with list"},
      {{"--raw"}, "--raw applies to call only, not without a subcommand"},
      {{"sample", "--endpoint", "h"}, "--endpoint applies to call, demo and doctor"},
      {{"call", "--connect-timeout", "0"}, "bad time-out"},
      {{"call", "--retries", "-1"}, "--retries needs a number of retries from 0"},
      {{"call", "--wait-for", "Status"}, "--wait-for needs Field=Value"},
      {{"call", "--wait-for", "A..B=x"}, "--wait-for needs Field=Value"},
      {{"call", "--wait-for", "Status=Running,"}, "none of them empty"},
      {{"call", "--wait-for", "S=x", "--wait-timeout", "-5"}, "--wait-timeout: bad time-out"},
      {{"call", "--wait-for", "S=x", "--wait-interval", "86401"}, "--wait-interval: bad"},
      {{"call", "--wait-fail", "Stopped"}, "--wait-fail applies to --wait-for only"},
      {{"call", "--wait-for", "S=x", "--regions", "all"}, "cannot be combined with --regions"},
      {{"call", "--region", "cn hangzhou"}, "--region: region id holds U+0020"},
      {{"call", "--region", "cn/x"}, "region id holds '/'"},
      {{"call", "--endpoint-type", "private"},
       "unknown endpoint type \"private\" (accepted: "
       "public, vpc)"},
      {{"call", "--endpoint-type", "vcp"}, "did you mean vpc?"},
      {{"call", "--signature", "v2"}, "unknown signature version \"v2\" (accepted: v1, v3)"},
      {{"call", "--ca-file="}, "--ca-file needs the path"},
      {{"call", "--raw", "--dry-run"}, "cannot be combined"},
      {{"call", "--all-fields", "--dry-run"}, "--all-fields cannot be combined with --dry-run"},
      {{"call", "--raw", "--format", "tsv"}, "--format does not apply"},
  };
  for (const Case& c : cases) {
    core::Result<CommandLine> line = Parse(c.arguments);
    ASSERT_FALSE(line.ok()) << c.mentions;
    EXPECT_NE(line.status().message().find(c.mentions), std::string::npos)
        << line.status().message();
    EXPECT_EQ(line.status().message().find('\n'), std::string::npos);
  }
}

// As git does: the closest accepted words after any mistyped one, from one
// edit-distance rule (a swap of two letters is one slip).
TEST(CommandLineTest, MistypedWordsGetTheClosestAcceptedOnes) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"lsit"}, "; did you mean list?"},
      {{"call", "--formta", "json"}, "; did you mean --format?"},
      {{"call", "--format", "jsno"}, "; did you mean json?"},
  };
  for (const auto& [arguments, suggestion] : cases) {
    core::Result<CommandLine> line = Parse(arguments);
    ASSERT_FALSE(line.ok());
    EXPECT_TRUE(line.status().message().ends_with(suggestion)) << line.status().message();
  }
  for (std::string_view typed : {"ecz", "ESC"}) {
    EXPECT_TRUE(ParseServiceName(typed).status().message().ends_with("did you mean ecs?"));
  }
  clitest::TestConsole console;
  EXPECT_EQ(clitest::RunKestrune(console, {"call", "ecs", "DescribeInstances", "RegoinId=x"}),
            kExitUsage);
  EXPECT_TRUE(clitest::Contains(console.err, "did you mean RegionId?")) << console.err;
  // Far from every accepted word: no guess.
  EXPECT_EQ(Parse({"zzzzzzzz"}).status().message().find("did you mean"), std::string::npos);
}

// Bytes that are not UTF-8 are refused by the argument's place, never echoed
// (a terminal could take them for control sequences).
TEST(CommandLineTest, ArgumentsThatAreNotUtf8AreNamedNotShown) {
  const std::string bad = "cn-\xff\x1b]0;x";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"call", "ecs", bad}, "argument 3 is not valid UTF-8"},
      {{"call", "--region", bad}, "argument 3 (the value of --region) is not valid UTF-8"},
      {{"call", "--region=" + bad}, "argument 2 (the value of --region) is not valid UTF-8"},
  };
  for (const auto& [arguments, message] : cases) {
    core::Result<CommandLine> line = Parse(arguments);
    ASSERT_FALSE(line.ok());
    EXPECT_TRUE(line.status().message().starts_with(message)) << line.status().message();
    EXPECT_EQ(line.status().message().find("\xff"), std::string::npos);
  }
  // Valid UTF-8 passes this check; as a region, which names a host, it is then
  // refused by its first character.
  const core::Result<CommandLine> utf8 =
      Parse({"call", "ecs", "DescribeZones", "--region", "华东2"});
  ASSERT_FALSE(utf8.ok());
  EXPECT_TRUE(utf8.status().message().starts_with("--region: region id holds U+534E"))
      << utf8.status().message();
}

// Every help text fits an 80-column terminal.
TEST(CommandLineTest, HelpTextsFitEightyColumns) {
  for (const std::string& help : HelpTexts()) {
    for (const std::string& line : clitest::Lines(help)) {
      EXPECT_LE(DisplayWidth(line), 80u) << line;
    }
  }
}

TEST(CommandLineTest, EndpointFromTheVariable) {
  clitest::TestConsole console;
  EXPECT_EQ(ResolveSettings({}, console)->engine.endpoint_override, "");
  for (const char* value : {"", "127.0.0.1:9000"}) {
    console.env["KESTRUNE_ENDPOINT"] = value;
    EXPECT_EQ(ResolveSettings({}, console)->engine.endpoint_override, value);
  }
  console.env["KESTRUNE_ENDPOINT"] = "127.0.0.1:port";
  EXPECT_TRUE(ResolveSettings({}, console).status().message().starts_with("KESTRUNE_ENDPOINT: "));
  // The vendor's variable names the host; KESTRUNE_ENDPOINT still says where to send.
  console.env["KESTRUNE_ENDPOINT"] = "127.0.0.1:9000";
  console.env["ALIBABA_CLOUD_ENDPOINT"] = "ecs.cn-beijing.aliyuncs.com";
  EXPECT_EQ(ResolveSettings({}, console)->engine.host, "ecs.cn-beijing.aliyuncs.com");
  EXPECT_EQ(ResolveSettings({}, console)->engine.endpoint_override, "127.0.0.1:9000");
}

TEST(CommandLineTest, ProxiesReachTheEngineParsedAndOneTimeOutBoundsEveryWait) {
  clitest::TestConsole console;
  console.env["https_proxy"] = "http://proxy.example:3128";
  core::Result<CommandLine> line = Parse({"call", "ecs", "X", "--timeout", "2"});
  ASSERT_TRUE(line.ok());
  core::Result<Settings> settings = ResolveSettings(*line, console);
  ASSERT_TRUE(settings.ok()) << settings.status().message();
  const engine::EngineOptions* options = &settings->engine;
  EXPECT_EQ(options->route.value().proxy.https.value().port, 3128);
  EXPECT_EQ(options->exchange_timeout, std::chrono::milliseconds(2000));
  EXPECT_EQ(options->overall_timeout, std::chrono::milliseconds(2000));
  EXPECT_EQ(options->max_attempts, 4);  // three retries unless told
  // Each attempt's connection and waits apart from the whole.
  const core::Result<CommandLine> apart =
      Parse({"call", "ecs", "X", "--timeout", "9", "--connect-timeout", "1", "--read-timeout=3",
             "--retries", "0"});
  ASSERT_TRUE(apart.ok()) << apart.status().message();
  settings = ResolveSettings(*apart, console);
  ASSERT_TRUE(settings.ok());
  options = &settings->engine;
  EXPECT_EQ(options->connect_timeout, std::chrono::milliseconds(1000));
  EXPECT_EQ(options->idle_timeout, std::chrono::milliseconds(3000));
  EXPECT_EQ(options->overall_timeout, std::chrono::milliseconds(9000));
  EXPECT_EQ(options->max_attempts, 1);
  // Refusals name where the URL came from, never the URL with its password.
  console.env["https_proxy"] = "socks5://u:hidden-pass@h";
  EXPECT_EQ(ResolveSettings(*line, console).status().message(),
            "https_proxy: the proxy scheme \"socks5://\" is not supported; give an http:// proxy");
  const core::Result<CommandLine> bad = Parse({"call", "ecs", "X", "--proxy=u:hidden%zz@h"});
  EXPECT_EQ(bad.status().message(),
            "--proxy: the proxy's user or password has a bad %-escape or a control character");
}

// The CA file and the default region: the option, else the variable, else
// (the region) the profile's.
TEST(CommandLineTest, SettingsFromTheOptionElseTheVariableElseTheProfile) {
  const std::filesystem::path directory =
      std::filesystem::path(::testing::TempDir()) / "kestrune-ca-choice";
  std::filesystem::create_directories(directory);
  const std::string variable = (directory / "variable.pem").string();
  const std::string option = (directory / "option.pem").string();
  std::ofstream(variable) << "pem";
  std::ofstream(option) << "pem";
  clitest::TestConsole console;
  console.env["KESTRUNE_CA_FILE"] = variable;
  EXPECT_EQ(ResolveSettings({}, console)->engine.ca_file, variable);
  EXPECT_EQ(ResolveSettings(*Parse({"call", "--ca-file", option}), console)->engine.ca_file,
            option);
  FoundCredentials profile;
  profile.region_id = "cn-beijing";
  const auto region = [&](const CommandLine& line) {
    core::Result<Settings> settings = ResolveSettings(line, console);
    EXPECT_TRUE(settings.ok() && ApplyProfile(line, profile, settings.value()).ok());
    EXPECT_EQ(settings->region, settings->engine.region);
    return settings->region + " from " + settings->region_source;
  };
  EXPECT_EQ(region({}), "cn-beijing from the profile");
  console.env["ALIBABA_CLOUD_REGION_ID"] = "cn-shanghai";
  EXPECT_EQ(region({}), "cn-shanghai from ALIBABA_CLOUD_REGION_ID");
  EXPECT_EQ(region(*Parse({"call", "--region", "cn-hangzhou"})), "cn-hangzhou from --region");
  std::filesystem::remove_all(directory);
}

// A profile's endpoint_type and signature_version apply unless the command
// line chooses; a bad one is refused unless the command line's choice makes
// it moot.
TEST(CommandLineTest, TheProfilesEndpointTypeAndSignatureYieldToTheCommandLine) {
  struct Case {
    std::string endpoint_type;  // the profile's
    std::string signature_version;
    std::vector<std::string> arguments;
    std::string outcome;  // what the settings say, or the start of the refusal
  };
  for (const Case& c : std::vector<Case>{
           {"vpc", "v3", {"call"}, "vpc v3"},
           {"vpc", "v3", {"call", "--endpoint-type", "public", "--signature", "v1"}, "public v1"},
           {"public", "v1", {"call", "--endpoint-type", "vpc"}, "vpc v1"},
           {"private", "v3", {"call"}, "the profile's endpoint_type \"private\" is neither"},
           {"vpc", "v2", {"call"}, "the profile's signature_version \"v2\" is neither"},
           {"private", "v2", {"call", "--endpoint-type", "vpc", "--signature", "v3"}, "vpc v3"}}) {
    const CommandLine line = *Parse(c.arguments);
    FoundCredentials profile;
    profile.endpoint_type = c.endpoint_type;
    profile.signature_version = c.signature_version;
    Settings settings = *ResolveSettings(line, clitest::TestConsole());
    const core::Status status = ApplyProfile(line, profile, settings);
    const bool vpc = settings.engine.endpoint_type == catalogue::EndpointType::kVpc;
    const bool v3 = settings.engine.signature_version == request::SignatureVersion::kV3;
    const std::string said = std::string(vpc ? "vpc" : "public") + (v3 ? " v3" : " v1");
    EXPECT_TRUE(status.ok() ? said == c.outcome : status.message().starts_with(c.outcome))
        << c.outcome << ": " << said << " " << status.message();
  }
}

TEST(CommandLineTest, TimeoutInSecondsWithUpToThreeDecimals) {
  struct Case {
    std::string_view text;
    long long millis;
  };
  for (const Case& c : std::vector<Case>{{"5", 5000},
                                         {"0.25", 250},
                                         {"0.5", 500},
                                         {"1.001", 1001},
                                         {"0.001", 1},
                                         {"86400", 86400000}}) {
    core::Result<std::chrono::milliseconds> parsed = ParseTimeout(c.text);
    ASSERT_TRUE(parsed.ok()) << c.text;
    EXPECT_EQ(parsed->count(), c.millis) << c.text;
  }
  for (std::string_view bad : {"", "0", "0.000", "-1", "1.2345", "abc", "1.", ".5", "86400.001",
                               "99999999999999999999", "1e3", " 1"}) {
    EXPECT_FALSE(ParseTimeout(bad).ok()) << bad;
  }
}

}  // namespace
}  // namespace kestrune::cli
