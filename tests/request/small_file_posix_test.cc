#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "request/small_file.h"
#include "tests/support/secret_audit.h"

namespace kestrune::request {
namespace {

TEST(SmallFilePosixTest, WrittenFilesAreReadableByTheOwnerOnly) {
  const std::filesystem::path directory =
      std::filesystem::path(::testing::TempDir()) / "kestrune-mode-test";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  const std::string path = (directory / "sign").string();
  testsupport::SecretAudit audit({"mode-test-secret"});

  ASSERT_TRUE(WriteFileAtomically(path, "id:mode-test-secret").ok());
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Nothing else is left behind: no temporary file holding the secret.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory),
                          std::filesystem::directory_iterator()),
            1);
  audit.CheckFilesUnder(directory);
  audit.Finish();
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace kestrune::request
