#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

// A file planted where the temporary file used to be made (the target's
// name, ".tmp-" and the process id), here a hard link to another file that
// anyone may read, must neither receive the key pair nor lend its mode.
TEST(SmallFilePosixTest, ATemporaryFileIsNeverOneAlreadyThere) {
  const std::filesystem::path directory =
      std::filesystem::path(::testing::TempDir()) / "kestrune-planted-test";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  const std::filesystem::path victim = directory / "victim";
  std::ofstream(victim) << "victim";
  std::filesystem::permissions(victim, std::filesystem::perms(0666));
  const std::string path = (directory / "sign").string();
  const std::filesystem::path planted = path + ".tmp-" + std::to_string(::getpid());
  std::filesystem::create_hard_link(victim, planted);

  for (int i = 0; i < 2; ++i) {  // the second write replaces the file it made
    ASSERT_TRUE(WriteFileAtomically(path, "id:planted-test-secret").ok());
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_nlink, 1u);
    EXPECT_EQ(ReadSmallFile(path, 100).value(), "id:planted-test-secret");
  }
  EXPECT_EQ(ReadSmallFile(victim.string(), 100).value(), "victim");
  EXPECT_EQ(std::filesystem::hard_link_count(victim), 2u);  // the planted link is left alone
  // sign, the victim, the planted link: no temporary file left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory),
                          std::filesystem::directory_iterator()),
            3);
  std::filesystem::remove_all(directory);
}

// Every file the program reads goes through ReadSmallFile: what is not a
// regular file of a bounded size is refused, naming it, at once (a FIFO
// without a writer would otherwise block forever, /dev/zero never end).
TEST(SmallFilePosixTest, OnlyRegularFilesWithinTheLimitAreRead) {
  const std::filesystem::path directory =
      std::filesystem::path(::testing::TempDir()) / "kestrune-kinds-test";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory / "directory");
  const std::string fifo = (directory / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(directory / "oversized") << std::string(101, 'x');
  std::ofstream(directory / "fits") << std::string(100, 'x');
  std::filesystem::create_symlink(directory / "fits", directory / "link");
  const struct {
    std::string path;
    std::string_view refusal;  // empty: read
  } cases[] = {
      {(directory / "directory").string(), "is a directory"},
      {fifo, "is a pipe (FIFO)"},
      {"/dev/zero", "is a device"},
      {(directory / "oversized").string(), "is longer than 100 bytes"},
      {(directory / "fits").string(), ""},
      {(directory / "link").string(), ""},
  };
  for (const auto& c : cases) {
    const core::Result<std::string> read = ReadSmallFile(c.path, 100);
    const core::Result<std::optional<std::string>> if_present = ReadSmallFileIfPresent(c.path, 100);
    if (c.refusal.empty()) {
      ASSERT_TRUE(read.ok()) << c.path << ": " << read.status().message();
      EXPECT_EQ(read->size(), 100u);
      ASSERT_TRUE(if_present.ok() && if_present->has_value()) << c.path;
      continue;
    }
    ASSERT_FALSE(read.ok()) << c.path;
    EXPECT_NE(read.status().message().find("\"" + c.path + "\" " + std::string(c.refusal)),
              std::string::npos)
        << read.status().message();
    EXPECT_EQ(if_present.status().message(), read.status().message());
  }
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace kestrune::request
