// Faults found by fuzzing the request module, each reproduced by the input
// that found it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "request/credentials.h"
#include "tests/support/secret_audit.h"

namespace kestrune::request {
namespace {

std::string ReadWhole(const std::filesystem::path& path) {
  // Closed again before the next save: Windows cannot replace an open file.
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An id holding ":" was saved as "id:with:colon:secret" and loaded back as the
// id "id" with the secret "with:colon:secret". It is now refused, the old file
// kept; a secret may still hold ":", since only the first one separates.
TEST(RequestRegressionTest, CredentialIdWithColonIsRefusedNotCorrupted) {
  const std::filesystem::path directory =
      std::filesystem::path(::testing::TempDir()) / "kestrune-regression";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  const std::string path = (directory / "sign").string();
  testsupport::SecretAudit audit({"old-secret", "refused-secret", "se:cr:et-value"});

  ASSERT_TRUE(SaveCredentials({"old-id", "old-secret"}, path).ok());
  const core::Status refused = SaveCredentials({"LTAIake:Secret", "refused-secret"}, path);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.message().find("\":\""), std::string::npos) << refused.message();
  audit.CheckText("the refusal", refused.message());
  EXPECT_EQ(ReadWhole(path), "old-id:old-secret");

  ASSERT_TRUE(SaveCredentials({"id", "se:cr:et-value"}, path).ok());
  const core::Result<Credentials> loaded = LoadCredentials(path);
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(loaded->access_key_id, "id");
  EXPECT_EQ(loaded->access_key_secret, "se:cr:et-value");

  audit.CheckFilesUnder(directory);
  audit.Finish();
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace kestrune::request
