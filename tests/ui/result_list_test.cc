// The result list: rows inserted at the top, and the click that copies a
// row's whole value to the clipboard (as Unicode text) and to field 3013.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "tests/ui/dialog_fixture.h"
#include "ui/resource_ids.h"
#include "ui/result_list_view.h"

namespace kestrune::ui::testing {
namespace {

// The clipboard's Unicode text, read with the system's own calls.
std::optional<std::wstring> ClipboardUnicode() {
  if (!OpenClipboard(nullptr)) return std::nullopt;
  std::optional<std::wstring> text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = std::wstring(chars);
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void PutOnClipboard(const std::wstring& text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  std::memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(block);
  SetClipboardData(CF_UNICODETEXT, block);
  CloseClipboard();
}

using ResultListTest = DialogTest;

TEST_F(ResultListTest, RowsGoInAtTheTop) {
  OpenDialog();
  ListViewResultList list(Control(IDC_RESULT_LIST));
  list.InsertTop("A", "first");
  list.InsertTop("B", "second");
  list.InsertTop("C", "third");
  EXPECT_EQ(Rows(),
            (std::vector<ScreenRow>{{L"C", L"third"}, {L"B", L"second"}, {L"A", L"first"}}));
  list.Clear();
  EXPECT_TRUE(Rows().empty());
}

TEST_F(ResultListTest, ClickCopiesTheRowsValue) {
  OpenDialog();
  PutOnClipboard(L"before");
  Press(IDC_DESCRIBE_ZONES);
  ClickList(0);
  EXPECT_EQ(ClipboardUnicode(), std::optional<std::wstring>(L"cn-shanghai-f"));
  EXPECT_EQ(Text(IDC_COPIED_VALUE), L"cn-shanghai-f");

  ClickList(1);
  EXPECT_EQ(ClipboardUnicode(),
            std::optional<std::wstring>(L"FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5"));
  EXPECT_EQ(Text(IDC_COPIED_VALUE), L"FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5");
}

TEST_F(ResultListTest, LongAndChineseValuesAreCopiedWhole) {
  OpenDialog();
  // A VNC address or user data easily passes 255 characters.
  std::string long_value =
      "https://g.alicdn.com/aliyun/ecs-console-vnc2/0.0.8/index.html?vncUrl=ws%3A%2F%2F";
  while (long_value.size() < 700) long_value += "0123456789abcdef";
  long_value += "华东2（上海）";
  ListViewResultList list(Control(IDC_RESULT_LIST));
  list.InsertTop("VncUrl", long_value);
  list.InsertTop("LocalName", "亚太东南 1 (新加坡)");

  ClickList(1);
  std::optional<std::wstring> copied = ClipboardUnicode();
  ASSERT_TRUE(copied.has_value());
  EXPECT_EQ(copied->size(), W(long_value).size());
  EXPECT_GT(copied->size(), 255u);
  EXPECT_EQ(*copied, W(long_value));
  EXPECT_EQ(Text(IDC_COPIED_VALUE), W(long_value));

  ClickList(0);
  EXPECT_EQ(ClipboardUnicode(), std::optional<std::wstring>(W("亚太东南 1 (新加坡)")));
  // Programs that read plain text get it converted by the system.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  CloseClipboard();
}

TEST_F(ResultListTest, ClickWithoutAFocusedRowCopiesNothing) {
  OpenDialog();
  PutOnClipboard(L"keep me");
  ClickList(-1);  // an empty list: nothing has the focus
  EXPECT_EQ(ClipboardUnicode(), std::optional<std::wstring>(L"keep me"));
  EXPECT_EQ(Text(IDC_COPIED_VALUE), L"");
}

}  // namespace
}  // namespace kestrune::ui::testing
