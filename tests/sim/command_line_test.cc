#include "sim/command_line.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/sim/sim_test_util.h"

namespace kestrune::sim {
namespace {

// The secrets given on these command lines and in their keys files. Every
// parse result's message, and both standard streams, are audited for them.
const std::vector<std::string> kSecrets = {
    "cmd-line:secret",    "second-cmd-secret", "colonless-secret",   "lonely-secret-value",
    "onlysecretvalue",    "file-secret",       "second-file-secret", "broken-line-with-secret",
    "stray-secret-value", "dash-secret-value"};

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& secret : kSecrets) audit_.Secret(secret);
  }
  void TearDown() override { audit_.Finish(); }

  core::Result<CommandLine> Parse(std::vector<std::string_view> args) {
    auto result = ParseCommandLine(args);
    if (!result.ok()) audit_.CheckText("an error message", result.status().message());
    return result;
  }

  testing::SimAudit audit_;
};

TEST_F(CommandLineTest, DefaultsAndOptions) {
  auto none = Parse({});
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none->server.address, "127.0.0.1");
  EXPECT_EQ(none->server.port, 0);
  EXPECT_TRUE(none->server.gateway.keys.empty());  // the demo pair then applies

  auto full = Parse({"--port", "8080", "--access-key", "id1:cmd-line:secret",
                     "--access-key=id2:second-cmd-secret", "--service", "iot", "--nonce-window",
                     "0", "--read-timeout=500", "-q"});
  ASSERT_TRUE(full.ok()) << full.status().message();
  EXPECT_EQ(full->server.port, 8080);
  ASSERT_EQ(full->server.gateway.keys.size(), 2u);
  EXPECT_EQ(full->server.gateway.keys[0].id, "id1");
  EXPECT_EQ(full->server.gateway.keys[0].secret, "cmd-line:secret");
  EXPECT_EQ(full->server.gateway.keys[1].secret, "second-cmd-secret");
  EXPECT_EQ(full->server.gateway.default_service, Service::kIot);
  EXPECT_EQ(full->server.gateway.nonce_window_ms, 0);
  EXPECT_EQ(full->server.read_timeout_ms, 500);
  EXPECT_TRUE(full->quiet);
  EXPECT_TRUE(Parse({"--help"})->help);
  EXPECT_EQ(Parse({"--host", "localhost"})->server.address, "127.0.0.1");
  EXPECT_EQ(Parse({"--host=127.0.0.2"})->server.address, "127.0.0.2");
  EXPECT_EQ(Parse({"--instances", "235"})->server.gateway.seed.instances, 235);
  const SeedPlan one_region = Parse({"--instances=100000@cn-hangzhou"})->server.gateway.seed;
  EXPECT_EQ(one_region.instances, 100000);
  EXPECT_EQ(one_region.region, "cn-hangzhou");
  auto timing = Parse({"--clock-offset", "-1200", "--latency=250", "--idle-timeout", "100", "--tls",
                       "c.pem", "k.pem"});
  ASSERT_TRUE(timing.ok()) << timing.status().message();
  EXPECT_EQ(timing->clock_offset_ms, -1200000);
  EXPECT_EQ(timing->server.latency_ms, 250);
  EXPECT_EQ(timing->server.idle_timeout_ms, 100);
  EXPECT_EQ(timing->server.tls_certificate_file, "c.pem");
  EXPECT_EQ(timing->server.tls_key_file, "k.pem");
  EXPECT_EQ(Parse({"--tls-self-signed", "d"})->tls_self_signed_dir, "d");
  auto throttled = Parse({"--throttle", "40", "--log-nonces"});
  ASSERT_TRUE(throttled.ok()) << throttled.status().message();
  EXPECT_EQ(throttled->server.gateway.throttle_rate, 40);
  EXPECT_TRUE(throttled->server.log_nonces);
}

TEST_F(CommandLineTest, RefusesBadValuesWithClearMessages) {
  const std::vector<std::vector<std::string_view>> bad = {
      {"--port", "70000"},
      {"--port"},
      {"--access-key", "colonless-secret"},
      {"--access-key", ":lonely-secret-value"},
      {"--access-key", "id:"},
      {"--service", "rds"},
      {"--fault", "explode"},
      {"--fault", "delay=0"},
      {"--fault", "delay=60001"},
      {"--fault", "big=65"},
      {"--fault", "close=x"},
      {"--fault", "close="},
      {"--instances", "100001"},
      {"--instances", "5@cn-atlantis"},
      {"--tls", "only-a-certificate.pem"},
      {"--tls=c.pem", "k.pem"},
      {"--tls", "c.pem", "k.pem", "--tls-self-signed", "d"},
      {"--latency", "60001"},
      {"--throttle", "0"},
      {"--throttle", "fast"},
      {"--fault", "alter="},
      {"--fault", "alter=A&B"},
      {"--bogus"},
      {"--access-key-file", "/nonexistent/keys"},
      // Refused at once, neither read without end nor waited on.
      {"--access-key-file", "/dev/zero"},
      {"--access-key-file", "/"},
      // A key given without its option, or after a mistyped one: unknown,
      // and not repeated in the message.
      {"stray-id:stray-secret-value"},
      {"-access-key=id:dash-secret-value"}};
  for (const auto& args : bad) {
    auto result = Parse(args);
    EXPECT_FALSE(result.ok()) << args[0];
    if (!result.ok()) {
      EXPECT_FALSE(result.status().message().empty());
    }
  }
  // A bad key never shows its secret in the message (the audit checks it).
  EXPECT_FALSE(Parse({"--access-key", "onlysecretvalue"}).ok());
  // Unknown options are still named, without what follows "=".
  auto unknown = Parse({"--acces-key=id:dash-secret-value"});
  ASSERT_FALSE(unknown.ok());
  EXPECT_NE(unknown.status().message().find("\"--acces-key\""), std::string::npos)
      << unknown.status().message();
  // A stray word is named by its place.
  auto stray = Parse({"-q", "stray-id:stray-secret-value"});
  ASSERT_FALSE(stray.ok());
  EXPECT_NE(stray.status().message().find("argument 2"), std::string::npos)
      << stray.status().message();
}

TEST_F(CommandLineTest, FaultsAreBoundedWithDefaults) {
  FaultPlan plan;
  ASSERT_TRUE(ParseFault("nonce-used", plan).ok());
  ASSERT_TRUE(ParseFault("delay", plan).ok());
  ASSERT_TRUE(ParseFault("close=3", plan).ok());
  ASSERT_TRUE(ParseFault("half=1000000", plan).ok());
  ASSERT_TRUE(ParseFault("502=2", plan).ok());
  ASSERT_TRUE(ParseFault("big=64", plan).ok());
  ASSERT_TRUE(ParseFault("page=3", plan).ok());
  ASSERT_TRUE(ParseFault("503", plan).ok());
  ASSERT_TRUE(ParseFault("reset=2", plan).ok());
  ASSERT_TRUE(ParseFault("unsupported-v1", plan).ok());
  EXPECT_GT(plan.unsupported_v1, 1000000);  // every request, however many
  ASSERT_TRUE(ParseFault("alter=RegionId", plan).ok());
  EXPECT_EQ(plan.alter, "RegionId");
  EXPECT_EQ(plan.nonce_used, 1);
  EXPECT_EQ(plan.delay_ms, 1000);
  EXPECT_EQ(plan.close, 3);
  EXPECT_EQ(plan.half, 1000000);
  EXPECT_EQ(plan.bad_gateway, 2);
  EXPECT_EQ(plan.big_mib, 64);
  EXPECT_EQ(plan.page, 3);
  EXPECT_EQ(plan.unavailable, 1);
  EXPECT_EQ(plan.reset, 2);
  EXPECT_FALSE(ParseFault("half=1000001", plan).ok());
  EXPECT_EQ(plan.half, 1000000);
  const std::string help = HelpText();
  for (const char* name : {"nonce-used", "delay", "close", "half", "502", "big", "page[=N]",
                           "--instances N[@REGION]", "kestrune-demo-id", "kestrune-demo-secret"}) {
    EXPECT_NE(help.find(name), std::string::npos) << name;
  }
}

TEST_F(CommandLineTest, ReadsAccessKeyFiles) {
  const testing::ScratchDirectory scratch;
  const std::string path = (scratch.path() / "keys").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << "# keys\r\nfile-id:file-secret\r\n\nsecond:second-file-secret\n";
  }
  auto parsed = Parse({"--access-key-file", path});
  ASSERT_TRUE(parsed.ok()) << parsed.status().message();
  ASSERT_EQ(parsed->server.gateway.keys.size(), 2u);
  EXPECT_EQ(parsed->server.gateway.keys[0].id, "file-id");
  EXPECT_EQ(parsed->server.gateway.keys[0].secret, "file-secret");
  {
    std::ofstream out(path, std::ios::binary);
    out << "broken-line-with-secret\n";
  }
  auto broken = Parse({"--access-key-file", path});
  ASSERT_FALSE(broken.ok());  // and its message shows no secret
  EXPECT_NE(broken.status().message().find("line 1"), std::string::npos);
}

}  // namespace
}  // namespace kestrune::sim
