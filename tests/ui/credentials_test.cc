// The AccessKey fields and the credential file "sign": loaded once at start,
// written on each right-click of the result list, which also shows or hides
// the four credential controls.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/wide_text.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/resource_ids.h"

namespace kestrune::ui::testing {
namespace {

constexpr int kCredentialControls[] = {IDC_KEY_ID_CAPTION, IDC_KEY_SECRET_CAPTION, IDC_KEY_SECRET,
                                       IDC_KEY_ID};

using CredentialFileTest = DialogTest;

TEST_F(CredentialFileTest, LoadingAtStartSplitsAtTheFirstColon) {
  struct Case {
    std::string content;
    std::wstring id;
    std::wstring secret;
  };
  const Case cases[] = {
      {"K:S3cret-value", L"K", L"S3cret-value"},
      {"K:", L"K", L""},
      {":S3cret-value", L"", L"S3cret-value"},
      {"a:b-secret:c", L"a", L"b-secret:c"},
      {"LTAI5tExample:s3cr3t/With+Signs=", L"LTAI5tExample", L"s3cr3t/With+Signs="},
      {"justanid", L"justanid", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    DialogTest::TearDown();
    DialogTest::SetUp();
    directory()->WriteFile(L"sign", c.content);
    OpenDialog();
    EXPECT_EQ(Text(IDC_KEY_ID), c.id);
    EXPECT_EQ(Text(IDC_KEY_SECRET), c.secret);
    EXPECT_EQ(directory()->ReadFile(L"sign"), c.content) << "loading never writes";
  }
}

// A file that cannot be used is reported, never silently ignored; no file at
// all is the first run and says nothing.
TEST_F(CredentialFileTest, NothingUsableLeavesTheFieldsEmpty) {
  const std::string contents[] = {"", std::string(100, 'x') + ":never-loaded"};
  for (const std::string& content : contents) {
    SCOPED_TRACE(content.size());
    DialogTest::TearDown();
    DialogTest::SetUp();
    directory()->WriteFile(L"sign", content);
    OpenDialog();
    EXPECT_EQ(Text(IDC_KEY_ID), L"");
    EXPECT_EQ(Text(IDC_KEY_SECRET), L"");
    EXPECT_NE(Text(IDC_REPORT).find(L"\"sign\""), std::wstring::npos)
        << core::FromWide(Text(IDC_REPORT));
  }
  DialogTest::TearDown();
  DialogTest::SetUp();
  directory()->MakeDirectory(L"sign");  // unreadable
  OpenDialog();
  EXPECT_NE(Text(IDC_REPORT).find(L"\"sign\""), std::wstring::npos);

  // A file everyone may write could hold someone else's key pair.
  DialogTest::TearDown();
  DialogTest::SetUp();
  directory()->WriteFile(L"sign", "K:never-loaded");
  PSECURITY_DESCRIPTOR everyone = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;FA;;;WD)", SDDL_REVISION_1, &everyone, nullptr));
  ASSERT_TRUE(SetFileSecurityW((directory()->path() + L"\\sign").c_str(), DACL_SECURITY_INFORMATION,
                               everyone));
  LocalFree(everyone);
  OpenDialog();
  EXPECT_EQ(Text(IDC_KEY_SECRET), L"");
  EXPECT_NE(Text(IDC_REPORT).find(L"Everyone may write it"), std::wstring::npos)
      << core::FromWide(Text(IDC_REPORT));

  DialogTest::TearDown();
  DialogTest::SetUp();
  OpenDialog();  // no file at all
  EXPECT_EQ(Text(IDC_REPORT), L"");
  EXPECT_EQ(Text(IDC_KEY_ID), L"");
  EXPECT_EQ(directory()->FileNames(), std::vector<std::wstring>{});
}

TEST_F(CredentialFileTest, RightClickTogglesTheControlsAndSavesEachTime) {
  OpenDialog();
  for (int id : kCredentialControls) EXPECT_TRUE(Shown(id)) << id;
  SetText(IDC_KEY_ID, "my-id");
  SetText(IDC_KEY_SECRET, "my-secret");

  ClickList(-1, /*right=*/true);
  for (int id : kCredentialControls) EXPECT_FALSE(Shown(id)) << id;
  EXPECT_EQ(directory()->ReadFile(L"sign"), "my-id:my-secret");

  SetText(IDC_KEY_SECRET, "other-secret");
  ClickList(-1, /*right=*/true);
  for (int id : kCredentialControls) EXPECT_TRUE(Shown(id)) << id;
  EXPECT_EQ(directory()->ReadFile(L"sign"), "my-id:other-secret");

  // The file is replaced whole; nothing else is left in the directory.
  EXPECT_EQ(directory()->FileNames(), std::vector<std::wstring>{L"sign"});
  // A right-click copies nothing.
  EXPECT_EQ(Text(IDC_COPIED_VALUE), L"");
}

TEST_F(CredentialFileTest, EmptyFieldsSaveTheSingleColonAndReloadAsEmpty) {
  directory()->WriteFile(L"sign", "old-id:old-secret");
  OpenDialog();
  SetText(IDC_KEY_ID, "");
  SetText(IDC_KEY_SECRET, "");
  ClickList(-1, /*right=*/true);
  EXPECT_EQ(directory()->ReadFile(L"sign"), ":");

  DialogTest::TearDown();
  DialogTest::SetUp();
  directory()->WriteFile(L"sign", ":");
  OpenDialog();
  EXPECT_EQ(Text(IDC_KEY_ID), L"");
  EXPECT_EQ(Text(IDC_KEY_SECRET), L"");
}

TEST_F(CredentialFileTest, AnIdTheFileCannotHoldIsRefusedAndTheOldFileKept) {
  directory()->WriteFile(L"sign", "K:topsecret");
  OpenDialog();
  EXPECT_EQ(Text(IDC_KEY_SECRET), L"topsecret");
  const std::string long_id(60, 'i');
  SetText(IDC_KEY_ID, long_id);
  ClickList(-1, /*right=*/true);
  EXPECT_EQ(directory()->ReadFile(L"sign"), "K:topsecret") << "nothing cut, nothing half-written";
  EXPECT_EQ(Text(IDC_KEY_ID), W(long_id)) << "the field keeps what the user typed";
  // The fixture's audit proves the report does not show the secret.
  EXPECT_NE(Text(IDC_REPORT), L"") << "the user is told";
  EXPECT_EQ(directory()->FileNames(), std::vector<std::wstring>{L"sign"});
}

TEST_F(CredentialFileTest, ASaveThatFailsLeavesNoCopyOfTheSecret) {
  // Refused before writing: a secret longer than the file carries.
  directory()->WriteFile(L"sign", "K:kept-secret");
  OpenDialog();
  const std::string long_secret = "long-secret-" + std::string(50, 's');
  SetText(IDC_KEY_SECRET, long_secret);
  ClickList(-1, /*right=*/true);
  EXPECT_NE(Text(IDC_REPORT), L"") << "the user is told";
  EXPECT_EQ(directory()->ReadFile(L"sign"), "K:kept-secret");
  EXPECT_EQ(Text(IDC_KEY_SECRET), W(long_secret)) << "the field keeps what the user typed";
  EXPECT_EQ(directory()->FileNames(), std::vector<std::wstring>{L"sign"});

  // Failed after writing: the new text is complete beside "sign", which
  // cannot be replaced (a directory stands there). The copy must go.
  DialogTest::TearDown();
  DialogTest::SetUp();
  directory()->MakeDirectory(L"sign");
  OpenDialog();
  SetText(IDC_KEY_ID, "my-id");
  SetText(IDC_KEY_SECRET, "unsaved-secret");
  ClickList(-1, /*right=*/true);
  EXPECT_NE(Text(IDC_REPORT), L"") << "the user is told";
  EXPECT_EQ(directory()->FileNames(), std::vector<std::wstring>{L"sign"});
  bool found = true;
  directory()->ReadFile(L"sign", &found);
  EXPECT_FALSE(found) << "\"sign\" is still the directory";
  // The fixture's audit looks through every file left in the directory.
}

}  // namespace
}  // namespace kestrune::ui::testing
