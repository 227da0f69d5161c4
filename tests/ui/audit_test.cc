// The dialog fixture's secret audit: every other dialog test relies on it to
// prove that a secret it typed or stored shows nowhere but in the masked field
// and "sign", so it must notice a secret in each place it claims to look.
#include <windows.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/ui/dialog_fixture.h"
#include "ui/clipboard.h"
#include "ui/resource_ids.h"
#include "ui/result_list_view.h"

namespace kestrune::ui::testing {
namespace {

constexpr char kPlanted[] = "planted-secret-7c1d";

using DialogAuditTest = DialogTest;

TEST_F(DialogAuditTest, TheMaskedFieldAndTheCredentialFileMayHoldTheSecret) {
  directory()->WriteFile(L"sign", std::string("id:") + kPlanted);
  OpenDialog();
  ASSERT_EQ(Text(IDC_KEY_SECRET), W(kPlanted));
  AuditScreen();
  AuditOutputs();
}

TEST_F(DialogAuditTest, ASecretOnScreenIsFound) {
  OpenDialog();
  SetText(IDC_KEY_SECRET, kPlanted);

  struct Field {
    int id;
    const char* where;
  };
  const Field fields[] = {
      {IDC_REPORT, "the report field"},
      {IDC_COPIED_VALUE, "the copied-value field"},
      {IDC_KEY_ID, "the text of control 4004"},
      {IDC_PARAM_VALUE_FIRST + 3, "the text of control 3008"},
      {IDC_PARAM_CAPTION_FIRST, "the text of control 3014"},
  };
  for (const Field& field : fields) {
    SCOPED_TRACE(field.where);
    SetText(field.id, kPlanted);
    EXPECT_NONFATAL_FAILURE(AuditScreen(), field.where);
    SetText(field.id, "");
  }

  SetWindowTextW(dialog(), W(kPlanted).c_str());
  EXPECT_NONFATAL_FAILURE(AuditScreen(), "the dialog's caption");
  SetWindowTextW(dialog(), L"Kestrune");

  ListViewResultList list(Control(IDC_RESULT_LIST));
  list.InsertTop("AccessKeySecret", kPlanted);
  EXPECT_NONFATAL_FAILURE(AuditScreen(), "a row's Info");
  list.Clear();
  list.InsertTop(kPlanted, "value");
  EXPECT_NONFATAL_FAILURE(AuditScreen(), "a row's Field");
  list.Clear();

  ASSERT_TRUE(SetClipboardText(dialog(), W(kPlanted)));
  EXPECT_NONFATAL_FAILURE(AuditScreen(), "the clipboard");
  ASSERT_TRUE(SetClipboardText(dialog(), L"nothing secret"));

  {
    ViewerWindow viewer;
    ASSERT_TRUE(viewer.ready());
    viewer.SetText(L"OneXmlBuf = " + W(kPlanted));
    EXPECT_NONFATAL_FAILURE(AuditScreen(), "the debug viewer");
  }
  AuditScreen();  // clean again
}

TEST_F(DialogAuditTest, ASecretInTheTraceOrAWrittenFileIsFound) {
  OpenDialog();
  SetText(IDC_KEY_SECRET, kPlanted);

  trace_.Line(std::string("StringToSign key=") + kPlanted);
  EXPECT_NONFATAL_FAILURE(AuditOutputs(), "the trace lines");
  trace_ = report::RecordingTraceSink();

  // What a save that failed half-way might leave beside "sign".
  directory()->WriteFile(L"sign.tmp-1", std::string("id:") + kPlanted);
  EXPECT_NONFATAL_FAILURE(AuditOutputs(), "sign.tmp-1");
  ASSERT_TRUE(DeleteFileW((directory()->path() + L"\\sign.tmp-1").c_str()));
  AuditOutputs();  // clean again
}

}  // namespace
}  // namespace kestrune::ui::testing
