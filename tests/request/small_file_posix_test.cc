#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

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

// A hard link planted where the temporary file used to be made (the
// target's name, ".tmp-" and the process id) must neither receive the key
// pair nor lend its mode.
TEST(SmallFilePosixTest, ATemporaryFileIsNeverOneAlreadyThere) {
  const std::filesystem::path directory =
      std::filesystem::path(::testing::TempDir()) / "kestrune-planted-test";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  const std::filesystem::path victim = directory / "victim";
  std::ofstream(victim) << "victim";
  std::filesystem::permissions(victim, std::filesystem::perms(0666));
  const std::string path = (directory / "sign").string();
  std::filesystem::create_hard_link(victim, path + ".tmp-" + std::to_string(::getpid()));

  ASSERT_TRUE(WriteFileAtomically(path, "id:planted-test-secret").ok());
  struct stat info {};
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_nlink, 1u);
  EXPECT_EQ(ReadSmallFile(victim.string(), 100).value(), "victim");
  std::filesystem::remove_all(directory);
}

// Every file the program reads goes through ReadSmallFile: what is not a
// regular file within the limit is refused at once, naming it (a FIFO
// without a writer used to block forever, /dev/zero never to end).
TEST(SmallFilePosixTest, OnlyRegularFilesWithinTheLimitAreRead) {
  const std::filesystem::path directory =
      std::filesystem::path(::testing::TempDir()) / "kestrune-kinds-test";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory / "directory");
  const std::string fifo = (directory / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(directory / "oversized") << std::string(101, 'x');
  for (const auto& [path, refusal] : std::vector<std::pair<std::string, std::string>>{
           {(directory / "directory").string(), "is a directory"},
           {fifo, "is a pipe (FIFO)"},
           {"/dev/zero", "is a device"},
           {(directory / "oversized").string(), "is longer than 100 bytes"}}) {
    const std::string message = ReadSmallFile(path, 100).status().message();
    EXPECT_NE(message.find("\"" + path + "\" " + refusal), std::string::npos) << message;
  }
  std::filesystem::remove_all(directory);
}

TEST(SmallFilePosixTest, AFileEveryoneMayWriteIsNotTrusted) {
  const auto directory = std::filesystem::path(::testing::TempDir()) / "kestrune-own-test";
  std::filesystem::create_directories(directory);
  const std::string path = (directory / "sign").string(), link = (directory / "link").string();
  std::ofstream(path) << "id:secret";
  std::filesystem::create_symlink(path, link);
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  for (const std::string& name : {path, link})
    EXPECT_NE(CheckOwnFile(name).message().find(name), std::string::npos) << name;
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  EXPECT_TRUE(CheckOwnFile(link).ok());
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace kestrune::request
