// Where `kestrune call` finds credentials: the sources in their order, the
// ones it refuses, and temporary credentials, whose token is signed into the
// request and shown nowhere. Audited (see CallTest).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "process_support.h"

namespace kestrune::cli::clitest {
namespace {

constexpr char kStoredSecret[] = "stored-secret-3e1a";
constexpr char kToken[] = "CAIS+token/value=5d";

class CredentialSourcesTest : public CallTest {
 protected:
  void SetUp() override {
    CallTest::SetUp();
    audit_.AddSecret(kStoredSecret);
    audit_.AddSecret(kToken);
    std::filesystem::create_directories(Home() + "/.aliyun");
    std::filesystem::create_directories(Home() + "/.alibabacloud");
  }

  std::string Home() const { return work_.File("home"); }

  // A console with a home directory and no other source.
  TestConsole& HomeConsole() {
    TestConsole& console = Console(false);
    console.env["HOME"] = Home();
    return console;
  }

  static std::string Profile(const std::string& name, const std::string& mode) {
    return R"({"name":")" + name + R"(","mode":")" + mode + R"(","access_key_id":")" + name +
           R"(-id","access_key_secret":")" + kStoredSecret + R"(","region_id":"cn-)" + name + "\"}";
  }
};

TEST_F(CredentialSourcesTest, TheFirstSourceThatHoldsCredentialsWins) {
  Sim();  // dry runs, but for the OIDC step's token service
  const std::string token_file = work_.File("oidc-token");
  WriteFile(token_file, "aGVhZA.Ym9keQ.c2ln\n");
  const std::string config = Home() + "/.aliyun/config.json";
  const std::string ini = Home() + "/.alibabacloud/credentials";
  WriteFile(config, R"({"current":"current","profiles":[)" + Profile("named", "AK") + "," +
                        Profile("current", "AK") + "]}");
  WriteFile(ini,
            std::string("[default]\ntype = sts\naccess_key_id = ini-id\naccess_key_secret = ") +
                kStoredSecret + "\nsecurity_token = " + kToken + "\n");
  WriteFile("sign", std::string("sign-id:") + kStoredSecret + "\n");
  struct Step {
    std::vector<std::string> options;
    std::map<std::string, std::string> env;
    std::string remove;  // a source this step takes away first
    std::string id;      // "" for no credentials at all
    std::string source;
  };
  const std::vector<Step> steps = {
      {{"--profile", "named"}, {}, "", "named-id", "profile \"named\" of ~/.aliyun/config.json"},
      {{}, {{"ALIBABA_CLOUD_PROFILE", "named"}}, "", "named-id", "(ALIBABA_CLOUD_PROFILE)"},
      {{},
       {{"ALIBABA_CLOUD_ACCESS_KEY_ID", "env-id"},
        {"ALIBABA_CLOUD_ACCESS_KEY_SECRET", kStoredSecret}},
       "",
       "env-id",
       "the environment"},
      {{},
       {{"ALIBABA_CLOUD_ROLE_ARN", "acs:ram::1:role/pod"},
        {"ALIBABA_CLOUD_OIDC_PROVIDER_ARN", "acs:ram::1:oidc-provider/cluster"},
        {"ALIBABA_CLOUD_OIDC_TOKEN_FILE", token_file},
        {"KESTRUNE_STS_ENDPOINT", "http://" + simulator_->address()}},
       "",
       "STS.",
       "the environment's OIDC variables"},
      {{}, {}, "", "sign-id", "the file \"sign\""},
      {{}, {}, "sign", "current-id", "the current profile \"current\""},
      {{}, {}, config, "ini-id", "[default] section of ~/.alibabacloud/credentials, with a"},
      {{},
       {{"ALIBABA_CLOUD_ECS_METADATA", "kestrune-sim-role"},
        {"KESTRUNE_METADATA_ENDPOINT", "http://" + simulator_->address()},
        {"ALIBABA_CLOUD_CREDENTIALS_URI", "http://" + simulator_->address() + "/credentials"}},
       ini,
       "STS.",
       "(ALIBABA_CLOUD_ECS_METADATA); temporary"},
      {{},
       {{"ALIBABA_CLOUD_CREDENTIALS_URI", "http://" + simulator_->address() + "/credentials"}},
       "",
       "STS.",
       "the credentials URI of ALIBABA_CLOUD_CREDENTIALS_URI; temporary"},
      {{}, {}, "", "", "no credentials"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.source);
    if (!step.remove.empty()) std::filesystem::remove(step.remove);
    TestConsole& console = HomeConsole();
    console.env.insert(step.env.begin(), step.env.end());
    std::vector<std::string> arguments = {"ecs", "DescribeZones", "--dry-run", "--debug"};
    arguments.insert(arguments.end(), step.options.begin(), step.options.end());
    // A profile's region is the default RegionId; others give none, so
    // DescribeZones gets its required one here.
    const bool profile = step.id == "named-id" || step.id == "current-id";
    if (!profile) arguments.emplace_back("RegionId=eu-west-1");
    const int status = Call(console, arguments);
    EXPECT_TRUE(Contains(console.err, step.source)) << console.err;
    EXPECT_EQ(status, step.id.empty() ? kExitUsage : kExitOk) << console.err;
    if (step.id.empty()) continue;
    EXPECT_EQ(console.out.rfind("GET /?AccessKeyId=" + step.id, 0), 0u) << console.out;
    const std::string region = "RegionId=cn-" + step.id.substr(0, step.id.size() - 3);
    EXPECT_EQ(Contains(console.out, region), profile) << console.out;
    EXPECT_EQ(Contains(console.out, "&SecurityToken=***"),
              step.id == "ini-id" || step.id == "STS.");
  }
}

TEST_F(CredentialSourcesTest, BrokenOrUnusableSourcesAreRefusedByNameAndSendNothing) {
  Sim();
  const std::string config = Home() + "/.aliyun/config.json";
  struct Case {
    std::string file;
    std::string content;
    std::vector<std::string> options;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {config,
       R"({"current":"sso","profiles":[)" + Profile("sso", "CloudSSO") + "]}",
       {},
       "mode CloudSSO, which kestrune cannot use"},
      {config, R"({"profiles":[]})", {"--profile", "dev"}, "no profile \"dev\""},
      {config, std::string("{\"current\": ") + kStoredSecret, {}, "not JSON"},
      {Home() + "/.alibabacloud/credentials",
       "[default]\ntype = ecs_ram_role\n",
       {},
       "type = ecs_ram_role"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(config);
    WriteFile(c.file, c.content);
    TestConsole& console = HomeConsole();
    std::vector<std::string> arguments = {"ecs", "DescribeRegions"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(Call(console, arguments), kExitUsage) << c.mentions;
    EXPECT_EQ(LineCount(console.err), 1u) << console.err;
    EXPECT_TRUE(Contains(console.err, c.mentions)) << console.err;
  }
  ExpectNothingSentSoFar();
}

TEST_F(CredentialSourcesTest, TemporaryCredentialsAreSignedAndTheTokenIsNeverShown) {
  // The simulator takes this key only with its own token.
  Sim({"--sts-key", std::string(kId) + ":" + kSecret + ":" + kToken}, false);
  TestConsole& good = Console();
  good.env["ALIBABA_CLOUD_SECURITY_TOKEN"] = kToken;
  // The simulator checks the signature over every parameter it received.
  ASSERT_EQ(Call(good, {"ecs", "DescribeRegions", "--debug"}), kExitOk) << good.err;
  EXPECT_TRUE(Contains(good.err, "ALIBABA_CLOUD_SECURITY_TOKEN)")) << good.err;

  // A wrong secret: the service quotes its string to sign, token and all.
  for (const bool raw : {false, true}) {
    TestConsole& wrong = Console();
    wrong.env["ALIBABA_CLOUD_SECURITY_TOKEN"] = kToken;
    wrong.env["ALIBABA_CLOUD_ACCESS_KEY_SECRET"] = kWrongSecret;
    std::vector<std::string> arguments = {"ecs", "DescribeRegions", "--debug"};
    if (raw) arguments.push_back("--raw");
    EXPECT_EQ(Call(wrong, arguments), kExitErrorReply);
    EXPECT_TRUE(Contains(wrong.out, "SecurityToken%3D***%26")) << wrong.out;
  }
  TestConsole& other_token = Console();
  other_token.env["ALIBABA_CLOUD_SECURITY_TOKEN"] = std::string(kToken) + "x";
  EXPECT_EQ(Call(other_token, {"ecs", "DescribeRegions"}), kExitErrorReply);
  EXPECT_TRUE(Contains(other_token.out, "InvalidSecurityToken.Malformed")) << other_token.out;

  // An id:secret file written with `echo id:secret > sign` signs correctly.
  Sim();
  WriteFile("sign", std::string(kId) + ":" + kSecret + "\n");
  TestConsole& from_file = Console(false);
  EXPECT_EQ(Call(from_file, {"ecs", "DescribeRegions"}), kExitOk) << from_file.err;
}

// Roles assumed from a key, from another profile's role, and refused: one
// AssumeRole per process however many requests follow, the token service's
// error under the step that failed, and nothing sent to the service then.
TEST_F(CredentialSourcesTest, RoleProfilesAssumeTheirRoleOncePerProcess) {
  Simulator& sim = Sim();
  const std::string key =
      R"(,"access_key_id":")" + std::string(kId) + R"(","access_key_secret":")" + kSecret + "\"";
  WriteFile(
      Home() + "/.aliyun/config.json",
      R"({"profiles":[{"name":"role","mode":"RamRoleArn","expired_seconds":900,)"
      R"("ram_role_arn":"acs:ram::1:role/ops")" +
          key +
          R"(},{"name":"chain","mode":"ChainableRamRoleArn","source_profile":"role",)"
          R"("ram_role_arn":"acs:ram::1:role/deep"},)"
          R"({"name":"bad","mode":"RamRoleArn","ram_role_arn":"ops")" +
          key +
          R"(},{"name":"l1","mode":"ChainableRamRoleArn","source_profile":"l2",)"
          R"("ram_role_arn":"acs:ram::1:role/a"},{"name":"l2","mode":)"
          R"("ChainableRamRoleArn","source_profile":"l1","ram_role_arn":"acs:ram::1:role/a"}]})");
  struct Case {
    std::string profile;
    int status;
    std::size_t assumed;   // AssumeRole calls the simulator saw
    std::size_t answered;  // calls to the service
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {"role", kExitOk, 1, 3, "mode RamRoleArn; temporary credentials expiring at 20"},
      {"chain", kExitOk, 2, 3, "mode ChainableRamRoleArn; temporary credentials expiring at"},
      {"bad", kExitConnection, 1, 0,
       "AssumeRole of role ops at http://" + sim.address() +
           " (sts.aliyuncs.com) failed:\nkestrune: InvalidParameter.RoleArn: The parameter "
           "RoleArn is wrong. (RequestId "},
      {"l1", kExitUsage, 0, 0, "make a loop: \"l1\" -> \"l2\" -> \"l1\""},
  };
  std::size_t seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile);
    TestConsole& console = HomeConsole();
    console.env["KESTRUNE_STS_ENDPOINT"] = "http://" + sim.address();
    EXPECT_EQ(
        Call(console, {"ecs", "DescribeZones", "--regions", "cn-hangzhou,cn-beijing,us-east-1",
                       "--profile", c.profile, "--debug"}),
        c.status)
        << console.err;
    EXPECT_TRUE(Contains(console.err, c.mentions)) << console.err;
    // The issued token, shown nowhere (the simulator's start with "CAIS").
    EXPECT_FALSE(Contains(console.out + console.err, "CAIS")) << console.err;
    const std::vector<std::string> log =
        sim.WaitForRequests(seen + c.assumed + c.answered, std::chrono::milliseconds(3000));
    ASSERT_EQ(log.size(), seen + c.assumed + c.answered);
    std::size_t assumed = 0;
    for (std::size_t i = seen; i < log.size(); ++i) assumed += Contains(log[i], "AssumeRole");
    EXPECT_EQ(assumed, c.assumed);
    seen = log.size();
  }
}

// The instance's role: a session token first, the role discovered or named,
// and a role the instance does not have named in the failure.
TEST_F(CredentialSourcesTest, InstanceRoleComesFromTheMetadataService) {
  Simulator& sim = Sim({"--instance-role", "web"});
  WriteFile(Home() + "/.aliyun/config.json",
            R"({"current":"ecs","profiles":[{"name":"ecs","mode":"EcsRamRole"}]})");
  struct Case {
    std::string role;  // ALIBABA_CLOUD_ECS_METADATA; "" for the profile
    int status;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {"", kExitOk, "mode EcsRamRole; temporary credentials expiring at 20"},
      {"web", kExitOk, "RAM role \"web\" (ALIBABA_CLOUD_ECS_METADATA); temporary"},
      {"db", kExitConnection,
       "RAM role \"db\" from the instance metadata service at http://" + sim.address() +
           " failed (is that role attached"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.role);
    TestConsole& console = c.role.empty() ? HomeConsole() : Console(false);
    console.env["KESTRUNE_METADATA_ENDPOINT"] = "http://" + sim.address();
    if (!c.role.empty()) console.env["ALIBABA_CLOUD_ECS_METADATA"] = c.role;
    EXPECT_EQ(Call(console, {"ecs", "DescribeRegions", "--debug"}), c.status) << console.err;
    EXPECT_TRUE(Contains(console.err, c.mentions)) << console.err;
    EXPECT_FALSE(Contains(console.out + console.err, "CAIS")) << console.err;
  }
  const std::vector<std::string> log = sim.WaitForRequests(9);
  ASSERT_EQ(log.size(), 9u);
  // Discovered: token, role list, the role's key, the call; named: no list.
  for (const std::size_t i : {0u, 4u, 7u}) EXPECT_TRUE(Contains(log[i], "PUT metadata")) << log[i];
  EXPECT_TRUE(Contains(log[1], "security-credentials/ ok")) << log[1];
  EXPECT_TRUE(Contains(log[5], "security-credentials/web ok")) << log[5];
  EXPECT_TRUE(Contains(log[8], "security-credentials/db 404")) << log[8];
}

// A credentials URI and a helper process that fail, or answer no such
// document, are refused under their step, with nothing of the answer quoted
// and nothing sent to the service; a helper's AK pair signs the call. The
// URI's GET takes the service's proxy. (Every mode's success: the audit
// below.)
TEST_F(CredentialSourcesTest, HelperProfilesNameTheStepThatFailed) {
  Simulator& sim = Sim();
  const std::string uri = "http://" + sim.address();
  // echo gets the document as one word.
  const std::string key =
      R"("access_key_id":")" + std::string(kId) + R"(","access_key_secret":")" + kSecret + "\"";
  const std::string closed_proxy = "http://127.0.0.1:" + std::to_string(ClosedPort());
  struct Case {
    std::string field;  // credentials_uri, or process_command for a text without "://"
    std::string proxy;
    std::string mentions;  // "" for a call that goes through
  };
  const std::vector<Case> cases = {
      {uri + "/credentials", closed_proxy, "the credentials URI " + uri + "/credentials failed:"},
      {uri + "/latest/api/token", "", "the reply is HTTP/1.1 404"},
      {R"(echo {"mode":"AK",)" + key + "}", "", ""},
      {R"(echo {"mode":"StsToken",)" + key + "}", "", "lacks access_key_id, access_key_secret or"},
      {"echo {" + std::string(kSecret), "", "process echo failed:\nkestrune: its output is not"},
      {"false", "", "exited with status 1"},
      {"/nonexistent/helper", "", "cannot start /nonexistent/helper"},
  };
  std::size_t seen = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    const bool uri_mode = Contains(c.field, "://");
    std::string field;
    for (const char ch : c.field) {
      if (ch == '"') field += '\\';
      field += ch;
    }
    WriteFile(
        Home() + "/.aliyun/config.json",
        std::string(R"({"current":"helper","profiles":[{"name":"helper","mode":")") +
            (uri_mode ? "CredentialsURI\",\"credentials_uri" : "External\",\"process_command") +
            "\":\"" + field + "\"}]}");
    TestConsole& console = HomeConsole();
    std::vector<std::string> arguments = {"ecs", "DescribeRegions", "--debug"};
    if (!c.proxy.empty()) arguments.insert(arguments.end(), {"--proxy", c.proxy});
    const bool good = c.mentions.empty();
    EXPECT_EQ(Call(console, arguments), good ? kExitOk : kExitConnection) << console.err;
    EXPECT_TRUE(Contains(console.err, good ? "mode External" : c.mentions)) << console.err;
    // The refused URI's own GET, or the call.
    const std::size_t logged = good || (uri_mode && c.proxy.empty()) ? 1 : 0;
    const std::vector<std::string> log = sim.WaitForRequests(seen + logged);
    ASSERT_EQ(log.size(), seen + logged);
    EXPECT_EQ(logged == 1 && Contains(log.back(), "DescribeRegions"), good);
    seen = log.size();
  }
}

// Every mode, with --debug and the trace on: the base secret, the temporary
// secret the mode obtained and its token show in no output, error or trace
// line (the fixture's audit, handed each key the simulator issued), and the
// OIDC profile's own token file stays unquoted too.
TEST_F(CredentialSourcesTest, NoModeShowsItsBaseSecretTemporarySecretOrToken) {
  const TempDir keys;  // outside the audited directory: the issued secrets and the JWT
  Simulator& sim = Sim({"--sts-key", std::string("sts-id:") + kStoredSecret + ":" + kToken,
                        "--issued-keys", keys.File("issued")});
  const std::string jwt = "aGVhZA.Ym9keQ.c2lnLWF1ZGl0";
  audit_.AddSecret(jwt);
  WriteFile(keys.File("oidc-token"), jwt + "\n");
  const std::string key =
      R"("access_key_id":")" + std::string(kId) + R"(","access_key_secret":")" + kSecret + "\"";
  const std::string sts =
      R"("access_key_id":"sts-id","access_key_secret":")" + std::string(kStoredSecret) + R"(",)";
  const std::vector<std::pair<std::string, std::string>> modes = {
      {"AK", key},
      {"StsToken", sts + R"("sts_token":")" + kToken + "\""},
      {"RamRoleArn", key + R"(,"ram_role_arn":"acs:ram::1:role/ops")"},
      {"ChainableRamRoleArn",
       R"("source_profile":"RamRoleArn","ram_role_arn":"acs:ram::1:role/deep")"},
      {"OIDC", R"("ram_role_arn":"acs:ram::1:role/pod","oidc_provider_arn":)"
               R"("acs:ram::1:oidc-provider/c","oidc_token_file":")" +
                   keys.File("oidc-token") + "\""},
      {"EcsRamRole", R"("ram_role_name":"kestrune-sim-role")"},
      {"CredentialsURI", R"("credentials_uri":"http://)" + sim.address() + R"(/credentials")"},
      {"External", R"("process_command":"echo {\"mode\":\"StsToken\",\"access_key_id\":)"
                   R"(\"sts-id\",\"access_key_secret\":\")" +
                       std::string(kStoredSecret) + R"(\",\"sts_token\":\")" + kToken + R"(\"}")"},
  };
  std::string profiles;
  for (const auto& [mode, fields] : modes) {
    profiles += (profiles.empty() ? "" : ",") + std::string(R"({"name":")") + mode +
                R"(","mode":")" + mode + "\"," + fields + "}";
  }
  WriteFile(Home() + "/.aliyun/config.json", R"({"profiles":[)" + profiles + "]}");
  for (const auto& [mode, fields] : modes) {
    SCOPED_TRACE(mode);
    TestConsole& console = HomeConsole();
    console.env["KESTRUNE_STS_ENDPOINT"] = "http://" + sim.address();
    console.env["KESTRUNE_METADATA_ENDPOINT"] = "http://" + sim.address();
    console.env["KESTRUNE_TRACE"] = "1";
    ASSERT_EQ(Call(console, {"ecs", "DescribeRegions", "--debug", "--profile", mode}), kExitOk)
        << console.err;
    EXPECT_TRUE(Contains(console.err, "from profile \"" + mode + "\"")) << console.err;
    EXPECT_FALSE(console.trace.lines().empty());
  }
  // RamRoleArn, ChainableRamRoleArn (two roles), OIDC, EcsRamRole, CredentialsURI.
  std::istringstream issued(ReadFile(keys.File("issued")));
  std::size_t count = 0;
  for (std::string id, secret, token; issued >> id >> secret >> token; ++count) {
    audit_.AddSecret(secret);
    audit_.AddSecret(token);
  }
  EXPECT_EQ(count, 6u);
}

}  // namespace
}  // namespace kestrune::cli::clitest
