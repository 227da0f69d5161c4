// The readers of the Aliyun command line's config.json and the SDKs' INI
// credentials file: what each takes, what it refuses by name, and that no
// refusal quotes a secret.
#include "request/credential_files.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/secret_audit.h"

namespace kestrune::request {
namespace {

constexpr char kSecret[] = "stored-secret-77";
constexpr char kToken[] = "stored-token-88";

std::string Profile(const std::string& name, const std::string& mode, const std::string& extra) {
  return R"({"name":")" + name + R"(","mode":")" + mode + R"(","access_key_id":"id-)" + name +
         R"(","access_key_secret":")" + kSecret + "\"" + extra + "}";
}

const std::string kConfig =
    R"({"current":"main","profiles":[)" + Profile("main", "AK", R"(,"region_id":"cn-beijing")") +
    "," + Profile("temp", "StsToken", std::string(R"(,"sts_token":")") + kToken + "\"") + "," +
    Profile("role", "RamRoleArn", "") + "," + Profile("no-token", "StsToken", "") + "]}";

struct Case {
  bool ini;
  std::string content;
  std::string profile;  // config.json: the name asked for ("" = current)
  std::string id;       // expected id; "" with `error` empty: nothing found
  bool token;           // the token is expected
  std::string region;   // expected region
  std::string error;    // part of the expected refusal
};

TEST(CredentialFilesTest, ReadsWhatHoldsCredentialsAndRefusesTheRestByName) {
  const std::string ini_head = "# comment\n[other]\ntype = ram_role_arn\n\n[default]\r\n";
  const std::string ini_pair =
      std::string("access_key_id = ini-id\naccess_key_secret = \"") + kSecret + "\"\n";
  const Case cases[] = {
      {false, kConfig, "", "id-main", false, "cn-beijing", ""},
      {false, kConfig, "temp", "id-temp", true, "", ""},
      {false, kConfig, "role", "", false, "", "has no ram_role_arn"},
      {false, kConfig, "no-token", "", false, "", "has no sts_token"},
      {false, kConfig, "absent", "", false, "", "no profile \"absent\""},
      {false, R"({"current":"gone","profiles":[]})", "", "", false, "", "\"gone\""},
      {false, R"({"profiles":[]})", "", "", false, "", ""},
      {false, std::string("{\"current\":\"main\",") + kSecret, "", "", false, "", "not JSON"},
      {false, R"({"profiles":{}})", "", "", false, "", "not a list"},
      {true, ini_head + "type = access_key\n" + ini_pair, "", "ini-id", false, "", ""},
      {true, ini_head + "type = sts\n" + ini_pair + "security_token=" + kToken, "", "ini-id", true,
       "", ""},
      {true, ini_head + "type = ecs_ram_role\n" + ini_pair, "", "", false, "", "ecs_ram_role"},
      {true, ini_head + "type = sts\n" + ini_pair, "", "", false, "", "no security_token"},
      {true, ini_head + "type = access_key\n" + kSecret + "\n", "", "", false, "", "line 7"},
      {true, ini_head + "enable = false\ntype = access_key\n" + ini_pair, "", "", false, "", ""},
  };
  testsupport::SecretAudit audit({kSecret, kToken});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile + " / " + c.error);
    core::Result<std::optional<StoredCredentials>> read =
        c.ini ? ReadDefaultCredentialsSection(c.content, "~/.alibabacloud/credentials")
              : ReadAliyunProfile(c.content, c.profile, "~/.aliyun/config.json");
    if (!c.error.empty()) {
      ASSERT_FALSE(read.ok());
      EXPECT_NE(read.status().message().find(c.error), std::string::npos)
          << read.status().message();
      audit.CheckText("a refusal", read.status().message());
      continue;
    }
    ASSERT_TRUE(read.ok()) << read.status().message();
    ASSERT_EQ(read.value().has_value(), !c.id.empty());
    if (c.id.empty()) continue;
    const StoredCredentials& stored = *read.value();
    EXPECT_EQ(stored.credentials.access_key_id, c.id);
    EXPECT_EQ(stored.credentials.access_key_secret, kSecret);
    EXPECT_EQ(stored.credentials.security_token, c.token ? kToken : "");
    EXPECT_EQ(stored.region_id, c.region);
  }
  audit.Finish();
}

}  // namespace
}  // namespace kestrune::request
