#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "request/small_file.h"

namespace kestrune::request {
namespace {

TEST(SmallFilePosixTest, WrittenFilesAreReadableByTheOwnerOnly) {
  const std::string path = ::testing::TempDir() + "kestrune-mode-test";
  std::remove(path.c_str());
  ASSERT_TRUE(WriteFileAtomically(path, "id:secret").ok());
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // No temporary file is left behind.
  const std::string temporary = path + ".tmp-";
  struct stat none {};
  EXPECT_NE(::stat((temporary + std::to_string(::getpid())).c_str(), &none), 0);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kestrune::request
