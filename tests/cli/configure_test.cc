// `kestrune configure` against a temporary home: what each verb writes, that
// the rest of the file survives, and that refusals write nothing.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "request/credential_files.h"
#include "request/small_file.h"
#include "test_console.h"

namespace kestrune::cli::clitest {
namespace {

constexpr char kSecret[] = "configure-test-secret";

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whether only the owner may use `path`: its mode is `mode` exactly; on
// Windows, where an access list stands in for the mode, no one else may write.
bool OwnerOnly(const std::filesystem::path& path, unsigned mode) {
#ifdef _WIN32
  (void)mode;
  return request::CheckOwnFile(path.string()).ok();
#else
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == mode;
#endif
}

TEST(ConfigureTest, VerbsEditTheProfilesAndKeepTheRestOfTheFile) {
  const std::filesystem::path home = std::filesystem::path(::testing::TempDir()) / "kestrune-cfg";
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home);
  const std::filesystem::path file = home / ".aliyun" / "config.json";
  const auto run = [&](std::vector<std::string> arguments, std::vector<std::string> input = {}) {
    TestConsole console;
    console.env = {{"HOME", home.string()}, {"USERPROFILE", home.string()}};
    console.input = std::move(input);
    arguments.insert(arguments.begin(), "configure");
    const int status = RunKestrune(console, arguments);
    EXPECT_FALSE(Contains(console.Everything(), kSecret)) << console.Everything();
    return std::pair{status, console};
  };

  // The first profile makes the folder and the file, owner-only, and is the
  // current one; its secret is asked for, hidden.
  auto [made, made_console] =
      run({"set", "--profile", "first", "--mode", "AK", "access_key_id=A"}, {"first-secret"});
  ASSERT_EQ(made, kExitOk) << made_console.err;
  ASSERT_EQ(made_console.prompts.size(), 1u);
  EXPECT_TRUE(made_console.prompts[0].second);
  EXPECT_TRUE(OwnerOnly(file.parent_path(), 0700));
  EXPECT_TRUE(OwnerOnly(file, 0600));

  // A file the vendor's tool wrote, with what kestrune knows nothing of.
  std::ofstream(file) << R"({"current": "other", "profiles": [{"name": "other", "mode": "AK",
    "access_key_id": "O", "access_key_secret": "o", "language": "zh", "retry_count": 3}],
    "meta_path": "/x"})";
  struct Step {
    std::vector<std::string> arguments;
    std::vector<std::string> input;
    int status;
    std::string shown;  // in the output, or for a refusal in the error
  };
  const std::vector<Step> steps = {
      {{"set", "--profile", "dev", "--mode", "StsToken", "access_key_id=LTAIdev",
        "region_id=cn-shanghai"},
       {kSecret, "dev-token"},
       kExitOk,
       ""},
      {{"list"}, {}, kExitOk, "*  other    AK\n   dev      StsToken  cn-shanghai\n"},
      {{"get", "--profile", "dev", "access_key_secret"}, {}, kExitOk, "********\n"},
      {{"get", "language"}, {}, kExitOk, "zh\n"},
      {{"set", "--profile", "dev", "oidc_token_file=/t"}, {}, kExitUsage, "oidc_token_file"},
      {{"set", "--profile", "r", "--mode", "RamRoleArn", "access_key_id=I", "access_key_secret=s",
        "ram_role_arn=acs:ram::1:role/r", "expired_seconds=899"},
       {},
       kExitUsage,
       "expired_seconds"},
      {{"set", "--profile", "c", "--mode", "OIDC", "ram_role_arn=a"}, {}, kExitUsage, "needs"},
      {{"delete", "other"}, {}, kExitUsage, "current"},
      {{"switch", "dev"}, {}, kExitOk, ""},
      {{"delete", "first"}, {}, kExitUsage, "no profile"},
  };
  for (const Step& step : steps) {
    const std::string before = ReadAll(file);
    auto [status, console] = run(step.arguments, step.input);
    EXPECT_EQ(status, step.status) << step.arguments[0] << ": " << console.err;
    if (status == kExitOk) {
      EXPECT_TRUE(Contains(console.out, step.shown)) << console.out;
    } else {
      EXPECT_TRUE(Contains(console.err, step.shown)) << console.err;
      EXPECT_EQ(ReadAll(file), before);
    }
  }
  const std::string content = ReadAll(file);
  const nlohmann::json document = nlohmann::json::parse(content);
  EXPECT_EQ(document["current"], "dev");
  EXPECT_EQ(document["meta_path"], "/x");
  EXPECT_EQ(document["profiles"][0]["language"], "zh");
  EXPECT_EQ(document["profiles"][0]["retry_count"], 3);
  // What configure wrote is what a call reads.
  const auto dev = request::ReadAliyunProfile(content, "", "config.json");
  ASSERT_TRUE(dev.ok() && dev.value()) << dev.status().message();
  EXPECT_EQ(dev.value()->credentials.access_key_secret, kSecret);
  EXPECT_EQ(dev.value()->credentials.security_token, "dev-token");
  EXPECT_EQ(dev.value()->region_id, "cn-shanghai");

  // A mode without a key pair takes the secret out of the file.
  EXPECT_EQ(run({"set", "--profile", "dev", "--mode", "EcsRamRole"}).first, kExitOk);
  EXPECT_FALSE(Contains(ReadAll(file), kSecret));

  std::ofstream(file) << "{\"current\": \"dev\", \"profiles\": [";
  const std::string broken = ReadAll(file);
  auto [refused, refused_console] = run({"switch", "dev"});
  EXPECT_EQ(refused, kExitUsage);
  EXPECT_TRUE(Contains(refused_console.err, "not JSON")) << refused_console.err;
  EXPECT_EQ(ReadAll(file), broken);
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace kestrune::cli::clitest
