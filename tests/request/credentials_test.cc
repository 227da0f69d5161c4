#include "request/credentials.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "request/small_file.h"

namespace kestrune::request {
namespace {

class CredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "sign-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(path_.c_str());
  }
  void TearDown() override { std::remove(path_.c_str()); }

  void Write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string path_;
};

TEST_F(CredentialsTest, TheFirstColonSeparatesIdAndSecret) {
  struct Case {
    const char* content;
    const char* id;
    const char* secret;
  } cases[] = {{"K:S", "K", "S"},
               {"K:", "K", ""},
               {":S", "", "S"},
               {"a:b:c", "a", "b:c"},
               {"idonly", "idonly", ""}};
  for (const Case& c : cases) {
    Write(c.content);
    core::Result<Credentials> loaded = LoadCredentials(path_);
    ASSERT_TRUE(loaded.ok()) << c.content << ": " << loaded.status().message();
    EXPECT_EQ(loaded->access_key_id, c.id) << c.content;
    EXPECT_EQ(loaded->access_key_secret, c.secret) << c.content;
  }
}

TEST_F(CredentialsTest, MissingEmptyAndOversizedFilesAreRefused) {
  EXPECT_FALSE(LoadCredentials(path_).ok());
  Write("");
  EXPECT_FALSE(LoadCredentials(path_).ok());
  Write(std::string(99, 'k'));
  EXPECT_TRUE(LoadCredentials(path_).ok());
  Write(std::string(60, 'k') + ":" + std::string(39, 's'));  // 100 bytes
  core::Result<Credentials> loaded = LoadCredentials(path_);
  ASSERT_FALSE(loaded.ok());
  EXPECT_NE(loaded.status().message().find("99"), std::string::npos);
  // The refusal never shows the content, which holds the secret.
  EXPECT_EQ(loaded.status().message().find(std::string(39, 's')), std::string::npos);
}

TEST_F(CredentialsTest, SaveWritesIdColonSecretWithoutLineEnding) {
  ASSERT_TRUE(SaveCredentials({"K", "S"}, path_).ok());
  EXPECT_EQ(Read(), "K:S");
  ASSERT_TRUE(SaveCredentials({"", ""}, path_).ok());
  EXPECT_EQ(Read(), ":");
  // A save replaces a longer earlier file completely.
  ASSERT_TRUE(SaveCredentials({std::string(49, 'i'), std::string(49, 's')}, path_).ok());
  ASSERT_TRUE(SaveCredentials({"a", "b"}, path_).ok());
  EXPECT_EQ(Read(), "a:b");
  core::Result<Credentials> loaded = LoadCredentials(path_);
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(loaded->access_key_id, "a");
  EXPECT_EQ(loaded->access_key_secret, "b");
}

TEST_F(CredentialsTest, SaveRefusesWhatTheFileCannotHoldAndKeepsTheOldFile) {
  ASSERT_TRUE(SaveCredentials({"old", "secret"}, path_).ok());
  core::Status refused = SaveCredentials({"id", std::string(50, 's')}, path_);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.message().find(std::string(50, 's')), std::string::npos);
  EXPECT_FALSE(SaveCredentials({std::string(50, 'i'), "s"}, path_).ok());
  EXPECT_FALSE(SaveCredentials({"id", "se\ncret"}, path_).ok());
  EXPECT_EQ(Read(), "old:secret");
}

TEST_F(CredentialsTest, SaveIntoAMissingDirectoryFailsCleanly) {
  core::Status failed = SaveCredentials({"K", "S"}, ::testing::TempDir() + "no-such-dir/sign");
  EXPECT_FALSE(failed.ok());
  EXPECT_FALSE(failed.message().empty());
}

}  // namespace
}  // namespace kestrune::request
