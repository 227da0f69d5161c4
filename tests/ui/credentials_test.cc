// The AccessKey fields and the credential file "sign", loaded once at start.
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

// A file that cannot be used is reported, never silently ignored, and Send
// then refuses to sign with an empty secret; no file at all is the first run
// and says nothing.
TEST_F(CredentialFileTest, NothingUsableLeavesTheFieldsEmpty) {
  const std::string contents[] = {"", std::string(100, 'x') + ":never-loaded",
                                  "K:S3cret-in-file\nsecond line\n"};
  for (const std::string& content : contents) {
    SCOPED_TRACE(content.size());
    DialogTest::TearDown();
    DialogTest::SetUp();
    directory()->WriteFile(L"sign", content);
    ASSERT_EQ(_putenv_s("KESTRUNE_ENDPOINT", "127.0.0.1:1"), 0);
    OpenDialog();
    ASSERT_EQ(_putenv_s("KESTRUNE_ENDPOINT", ""), 0);
    EXPECT_EQ(Text(IDC_KEY_ID), L"");
    EXPECT_EQ(Text(IDC_KEY_SECRET), L"");
    EXPECT_NE(Text(IDC_REPORT).find(L"\"sign\""), std::wstring::npos)
        << core::FromWide(Text(IDC_REPORT));
    ChooseText(IDC_CATEGORY, "地域");
    ChooseText(IDC_ACTION, "DescribeRegions");
    Press(IDC_SEND);  // a request sent would fail to connect, and say so
    EXPECT_EQ(Text(IDC_REPORT).rfind(L"not sent: no AccessKey secret; credential file \"sign\"", 0),
              0u)
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

}  // namespace
}  // namespace kestrune::ui::testing
