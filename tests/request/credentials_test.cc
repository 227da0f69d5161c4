#include "request/credentials.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/secret_audit.h"

namespace kestrune::request {
namespace {

// Each test keeps its credential file, named "sign" as in real use, in a
// directory of its own, so that whatever else a save leaves there shows.
class CredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::path(::testing::TempDir()) /
                 (std::string("kestrune-credentials-") +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    path_ = (directory_ / "sign").string();
  }

  void TearDown() override {
    audit_.CheckFilesUnder(directory_);
    audit_.Finish();
    std::filesystem::remove_all(directory_);
  }

  void Write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  core::Result<Credentials> Load(const std::string& path) {
    core::Result<Credentials> loaded = LoadCredentials(path);
    if (!loaded.ok()) audit_.CheckText("a refused load", loaded.status().message());
    return loaded;
  }
  core::Status Save(const Credentials& credentials, const std::string& path) {
    core::Status saved = SaveCredentials(credentials, path);
    audit_.CheckText("a save's status", saved.message());
    return saved;
  }

  // Every secret written or read below.
  testsupport::SecretAudit audit_{{"first-secret", "only-a-secret", "sec:ret-value", "saved-secret",
                                   "replaced-secret", "kept-secret", std::string(39, 's'),
                                   std::string(49, 's'), std::string(50, 's'), "refused\nsecret"}};
  std::filesystem::path directory_;
  std::string path_;
};

TEST_F(CredentialsTest, TheFirstColonSeparatesIdAndSecret) {
  struct Case {
    const char* content;
    const char* id;
    const char* secret;
  } cases[] = {{"K:first-secret", "K", "first-secret"},
               {"K:", "K", ""},
               {":only-a-secret", "", "only-a-secret"},
               {"a:sec:ret-value", "a", "sec:ret-value"},
               {"idonly", "idonly", ""},
               // Written by hand: `echo id:secret > sign` adds a newline,
               // an editor on Windows CR LF; neither is part of the secret.
               {"K:first-secret\n", "K", "first-secret"},
               {" K\t: first-secret \r\n", "K", "first-secret"},
               {"idonly\r\n", "idonly", ""},
               {"\xEF\xBB\xBF"
                "bom-id:bom-secret\r\n\r\n",
                "bom-id", "bom-secret"}};
  for (const Case& c : cases) {
    Write(c.content);
    core::Result<Credentials> loaded = Load(path_);
    ASSERT_TRUE(loaded.ok()) << c.id << ": " << loaded.status().message();
    EXPECT_EQ(loaded->access_key_id, c.id) << c.id;
    EXPECT_EQ(loaded->access_key_secret, c.secret) << c.id;
  }
}

TEST_F(CredentialsTest, MissingEmptyAndOversizedFilesAreRefused) {
  EXPECT_FALSE(Load(path_).ok());
  Write("");
  EXPECT_FALSE(Load(path_).ok());
  Write(" \r\n");
  EXPECT_FALSE(Load(path_).ok());
  Write(std::string(99, 'k'));
  EXPECT_TRUE(Load(path_).ok());
  Write(std::string(60, 'k') + ":" + std::string(39, 's'));  // 100 bytes
  core::Result<Credentials> loaded = Load(path_);
  ASSERT_FALSE(loaded.ok());
  EXPECT_NE(loaded.status().message().find("99"), std::string::npos);
}

TEST_F(CredentialsTest, ASecondLineIsRefusedNamingTheFileAndLine) {
  Write("K:first-secret\n\nsecond-secret-line\n");
  core::Result<Credentials> loaded = Load(path_);
  ASSERT_FALSE(loaded.ok());
  EXPECT_NE(loaded.status().message().find(path_), std::string::npos);
  EXPECT_NE(loaded.status().message().find("line 3"), std::string::npos);
  EXPECT_EQ(loaded.status().message().find("second-secret"), std::string::npos);
}

TEST_F(CredentialsTest, SaveWritesIdColonSecretWithoutLineEnding) {
  ASSERT_TRUE(Save({"K", "saved-secret"}, path_).ok());
  EXPECT_EQ(Read(), "K:saved-secret");
  ASSERT_TRUE(Save({"", ""}, path_).ok());
  EXPECT_EQ(Read(), ":");
  // A save replaces a longer earlier file completely.
  ASSERT_TRUE(Save({std::string(49, 'i'), std::string(49, 's')}, path_).ok());
  ASSERT_TRUE(Save({"a", "replaced-secret"}, path_).ok());
  EXPECT_EQ(Read(), "a:replaced-secret");
  core::Result<Credentials> loaded = Load(path_);
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(loaded->access_key_id, "a");
  EXPECT_EQ(loaded->access_key_secret, "replaced-secret");
}

TEST_F(CredentialsTest, SaveRefusesWhatTheFileCannotHoldAndKeepsTheOldFile) {
  ASSERT_TRUE(Save({"old", "kept-secret"}, path_).ok());
  EXPECT_FALSE(Save({"id", std::string(50, 's')}, path_).ok());
  EXPECT_FALSE(Save({std::string(50, 'i'), "saved-secret"}, path_).ok());
  EXPECT_FALSE(Save({"id", "refused\nsecret"}, path_).ok());
  EXPECT_FALSE(Save({"id:colon", "saved-secret"}, path_).ok());
  EXPECT_FALSE(Save({"id", "saved-secret "}, path_).ok());  // would load back without the space
  EXPECT_EQ(Read(), "old:kept-secret");
}

TEST_F(CredentialsTest, SaveIntoAMissingDirectoryFailsCleanly) {
  core::Status failed = Save({"K", "saved-secret"}, (directory_ / "no-such-dir" / "sign").string());
  EXPECT_FALSE(failed.ok());
  EXPECT_FALSE(failed.message().empty());
}

}  // namespace
// A server that echoed the token with lower-case escapes, in Base64 or in
// JSON showed it: every form the signer writes it in, and those a server may
// turn it into, is hidden; text around it stays.
TEST(HideSecurityTokenTest, EveryEncodingOfTheTokenIsHidden) {
  const std::string token = "Ks+K3y/=?";  // in Base64 "S3MrSzN5Lz0/"
  const struct {
    const char* form;
    std::string echoed;
  } kCases[] = {
      {"as given (a v3 header)", "x-acs-security-token:Ks+K3y/=?\n"},
      {"percent-encoded once", "SecurityToken=Ks%2BK3y%2F%3D%3F&"},
      {"twice (string to sign)", "SecurityToken%3DKs%252BK3y%252F%253D%253F%26"},
      {"lower-case hex once", "Ks%2bK3y%2f%3d%3f"},
      {"lower-case hex twice", "Ks%252bK3y%252f%253d%253f"},
      {"JSON with an escaped slash", "\"Token\":\"Ks+K3y\\/=?\""},
      {"Base64", "S3MrSzN5Lz0/"},
      {"Base64, slash escaped", "S3MrSzN5Lz0\\/"},
  };
  for (const auto& c : kCases) {
    const std::string hidden = HideSecurityToken("<" + c.echoed + ">", token);
    EXPECT_EQ(hidden.find("K3y"), std::string::npos) << c.form << ": " << hidden;
    EXPECT_EQ(hidden.find("S3Mr"), std::string::npos) << c.form << ": " << hidden;
    EXPECT_NE(hidden.find("***"), std::string::npos) << c.form << ": " << hidden;
    EXPECT_TRUE(hidden.starts_with("<") && hidden.ends_with(">")) << c.form;
  }
  // Padding and the URL alphabet: "tok?>" is "dG9rPz4=" ("dG9rPz4" unpadded),
  // "\xfb\xff" is "+/8=" ("-_8" in the URL form).
  EXPECT_EQ(HideSecurityToken("a dG9rPz4= b dG9rPz4 c", "tok?>"), "a *** b *** c");
  EXPECT_EQ(HideSecurityToken("a -_8 b +/8= c", "\xfb\xff"), "a *** b *** c");
}

}  // namespace kestrune::request
