#include "sim/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace kestrune::sim {
namespace {

core::Result<CommandLine> Parse(std::vector<std::string_view> args) {
  return ParseCommandLine(args);
}

TEST(CommandLineTest, DefaultsAndOptions) {
  auto none = Parse({});
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none->server.address, "127.0.0.1");
  EXPECT_EQ(none->server.port, 0);
  EXPECT_TRUE(none->server.gateway.keys.empty());  // the demo pair then applies

  auto full = Parse({"--port", "8080", "--access-key", "id1:se:cret", "--access-key=id2:x",
                     "--service", "iot", "--nonce-window", "0", "--read-timeout=500", "-q"});
  ASSERT_TRUE(full.ok()) << full.status().message();
  EXPECT_EQ(full->server.port, 8080);
  ASSERT_EQ(full->server.gateway.keys.size(), 2u);
  EXPECT_EQ(full->server.gateway.keys[0].id, "id1");
  EXPECT_EQ(full->server.gateway.keys[0].secret, "se:cret");
  EXPECT_EQ(full->server.gateway.keys[1].secret, "x");
  EXPECT_EQ(full->server.gateway.default_service, Service::kIot);
  EXPECT_EQ(full->server.gateway.nonce_window_ms, 0);
  EXPECT_EQ(full->server.read_timeout_ms, 500);
  EXPECT_TRUE(full->quiet);
  EXPECT_TRUE(Parse({"--help"})->help);
  EXPECT_EQ(Parse({"--host", "localhost"})->server.address, "127.0.0.1");
  EXPECT_EQ(Parse({"--host=127.0.0.2"})->server.address, "127.0.0.2");
}

TEST(CommandLineTest, RefusesBadValuesWithClearMessages) {
  const std::vector<std::vector<std::string_view>> bad = {
      {"--port", "70000"},
      {"--port"},
      {"--access-key", "nocolon"},
      {"--access-key", ":secret"},
      {"--access-key", "id:"},
      {"--service", "rds"},
      {"--fault", "explode"},
      {"--fault", "delay=0"},
      {"--fault", "delay=60001"},
      {"--fault", "big=65"},
      {"--fault", "close=x"},
      {"--fault", "close="},
      {"--bogus"},
      {"--access-key-file", "/nonexistent/keys"}};
  for (const auto& args : bad) {
    auto result = Parse(args);
    EXPECT_FALSE(result.ok()) << args[0];
    if (!result.ok()) {
      EXPECT_FALSE(result.status().message().empty());
    }
  }
  // A bad key never shows its secret in the message.
  auto result = Parse({"--access-key", "onlysecretvalue"});
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.status().message().find("onlysecretvalue"), std::string::npos);
}

TEST(CommandLineTest, FaultsAreBoundedWithDefaults) {
  FaultPlan plan;
  ASSERT_TRUE(ParseFault("nonce-used", plan).ok());
  ASSERT_TRUE(ParseFault("delay", plan).ok());
  ASSERT_TRUE(ParseFault("close=3", plan).ok());
  ASSERT_TRUE(ParseFault("half=1000000", plan).ok());
  ASSERT_TRUE(ParseFault("502=2", plan).ok());
  ASSERT_TRUE(ParseFault("big=64", plan).ok());
  EXPECT_EQ(plan.nonce_used, 1);
  EXPECT_EQ(plan.delay_ms, 1000);
  EXPECT_EQ(plan.close, 3);
  EXPECT_EQ(plan.half, 1000000);
  EXPECT_EQ(plan.bad_gateway, 2);
  EXPECT_EQ(plan.big_mib, 64);
  EXPECT_FALSE(ParseFault("half=1000001", plan).ok());
  EXPECT_EQ(plan.half, 1000000);
  const std::string help = HelpText();
  for (const char* name : {"nonce-used", "delay", "close", "half", "502", "big", "kestrune-demo-id",
                           "kestrune-demo-secret"}) {
    EXPECT_NE(help.find(name), std::string::npos) << name;
  }
}

TEST(CommandLineTest, ReadsAccessKeyFiles) {
  const std::string path = ::testing::TempDir() + "/sim_keys_test.txt";
  {
    std::ofstream out(path, std::ios::binary);
    out << "# keys\r\nfile-id:file-secret\r\n\nsecond:two\n";
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
  ASSERT_FALSE(broken.ok());
  EXPECT_EQ(broken.status().message().find("broken-line-with-secret"), std::string::npos);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kestrune::sim
