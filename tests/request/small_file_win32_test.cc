#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/wide_text.h"
#include "request/small_file.h"

namespace kestrune::request {
namespace {

// Gives `path` the owner and access list of an SDDL text, as another user or
// a careless copy would leave it.
void SetSecurity(const std::string& path, const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  const std::wstring wide = core::ToWide(path);
  ASSERT_TRUE(SetFileSecurityW(
      wide.c_str(),
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      descriptor));
  LocalFree(descriptor);
}

std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  char buffer[256];
  DWORD size = 0;
  EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
  CloseHandle(token);
  LPWSTR text = nullptr;
  EXPECT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text));
  std::wstring sid(text);
  LocalFree(text);
  return sid;
}

TEST(SmallFileWin32Test, ACredentialFileOthersMayWriteOrOwnIsRefused) {
  const std::filesystem::path directory =
      std::filesystem::path(::testing::TempDir()) / "kestrune-owner-test";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  const std::string path = (directory / "sign").string();
  ASSERT_TRUE(WriteFileAtomically(path, "id:owner-test-secret").ok());
  EXPECT_TRUE(CheckOwnFile(path).ok()) << CheckOwnFile(path).message();

  // Only grants Wine can keep (it maps an access list to the file's Unix
  // mode, and an owner to its Unix owner) are tried: another owner or a
  // grant to another account cannot be set up from inside the test.
  const std::wstring user = CurrentUserSid();
  SetSecurity(path, L"O:" + user + L"D:P(A;;FA;;;" + user + L")(A;;FW;;;WD)");
  const core::Status checked = CheckOwnFile(path);
  EXPECT_FALSE(checked.ok());
  EXPECT_NE(checked.message().find("Everyone may write it"), std::string::npos)
      << checked.message();
  // Reading is fine for others; only writing is a way in.
  SetSecurity(path, L"O:" + user + L"D:P(A;;FA;;;" + user + L")(A;;FR;;;WD)");
  EXPECT_TRUE(CheckOwnFile(path).ok()) << CheckOwnFile(path).message();
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace kestrune::request
