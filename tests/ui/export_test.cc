// Copying and saving the result list: Ctrl+C and the context menu's copies
// (one value, the selected rows, every row) read back from the clipboard,
// and the CSV and JSON files the menu saves.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/wide_text.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/clipboard.h"
#include "ui/resource_ids.h"
#include "ui/result_list_view.h"

namespace kestrune::ui::testing {
namespace {

class ExportTest : public DialogTest {
 protected:
  // Rows as a reply would leave them, top first.
  void ShowRows(const std::vector<ScreenRow>& rows) {
    ListViewResultList list(Control(IDC_RESULT_LIST));
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
      list.InsertTop(core::FromWide(row->field), core::FromWide(row->info));
    }
  }
  void Select(int row, UINT state) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = state;
    SendMessageW(Control(IDC_RESULT_LIST), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
  }
  void Command(UINT id) {
    SendMessageW(dialog(), WM_COMMAND, id, 0);
    Pump();
  }
};

TEST_F(ExportTest, CopiesValueSelectedRowsAndEveryRow) {
  OpenDialog();
  ShowRows({{L"RegionId", L"cn-hangzhou"},
            {L"LocalName", W("华东 1（杭州）")},
            {L"Note", L"tab\there"},
            {L"RequestId", L"R-1"}});
  Select(1, LVIS_SELECTED | LVIS_FOCUSED);
  Select(3, LVIS_SELECTED);

  // Ctrl+C in the list: the selected rows, in their order.
  BYTE keys[256] = {};
  ASSERT_TRUE(GetKeyboardState(keys));
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  SendMessageW(Control(IDC_RESULT_LIST), WM_KEYDOWN, 'C', 0);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  EXPECT_EQ(ClipboardText(dialog()), W("LocalName\t华东 1（杭州）\r\nRequestId\tR-1\r\n"));

  Command(IDM_COPY_VALUE);
  EXPECT_EQ(ClipboardText(dialog()), W("华东 1（杭州）"));

  Command(IDM_COPY_ALL);
  EXPECT_EQ(ClipboardText(dialog()), L"Field\tInfo\r\nRegionId\tcn-hangzhou\r\nLocalName\t" +
                                         W("华东 1（杭州）") +
                                         L"\r\nNote\ttab here\r\nRequestId\tR-1\r\n");

  // A right-click opens the menu of five, and neither hides nor saves the keys.
  std::vector<std::wstring> items;
  WhileModal([&] {
    HWND menu_window = FindWindowW(L"#32768", nullptr);
    if (menu_window == nullptr || !IsWindowVisible(menu_window)) return false;
    auto menu = reinterpret_cast<HMENU>(SendMessageW(menu_window, MN_GETHMENU, 0, 0));
    for (int i = 0; menu != nullptr && i < GetMenuItemCount(menu); ++i) {
      wchar_t text[64] = {};
      GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
      items.push_back(text);
    }
    EndMenu();
    return true;
  });
  ClickList(0, /*right=*/true);
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[1], W("复制行(&R)\tCtrl+C"));
  EXPECT_TRUE(Shown(IDC_KEY_ID));
  EXPECT_EQ(directory()->FileNames(), std::vector<std::wstring>{});
}

TEST_F(ExportTest, SavesCsvAndJsonWholeAndReportsAFailure) {
  std::wstring target;
  options_.choose_save_path = [&](HWND, const std::wstring&) { return std::optional(target); };
  OpenDialog();
  ShowRows(
      {{W("名称"), L"a,b"}, {L"Quote", L"say \"hi\""}, {L"Lines", L"x\r\ny"}, {L"Plain", L"v"}});

  target = directory()->path() + L"\\rows.csv";
  directory()->WriteFile(L"rows.csv", "older and longer content than the new file");
  Command(IDM_SAVE_CSV);
  EXPECT_EQ(directory()->ReadFile(L"rows.csv"),
            "\xEF\xBB\xBF"
            "Field,Info\r\n"
            "\xE5\x90\x8D\xE7\xA7\xB0,\"a,b\"\r\n"
            "Quote,\"say \"\"hi\"\"\"\r\n"
            "Lines,\"x\r\ny\"\r\n"
            "Plain,v\r\n");

  target = directory()->path() + L"\\rows.json";
  Command(IDM_SAVE_JSON);
  const nlohmann::json saved = nlohmann::json::parse(directory()->ReadFile(L"rows.json"));
  EXPECT_EQ(saved, nlohmann::json::parse(R"([{"Field":"名称","Info":"a,b"},
      {"Field":"Quote","Info":"say \"hi\""},{"Field":"Lines","Info":"x\r\ny"},
      {"Field":"Plain","Info":"v"}])"));
  EXPECT_EQ(directory()->FileNames(), (std::vector<std::wstring>{L"rows.csv", L"rows.json"}))
      << "no temporary file is left";

  target = directory()->path() + L"\\missing\\rows.csv";
  Command(IDM_SAVE_CSV);
  EXPECT_EQ(Text(IDC_REPORT).rfind(L"not saved: ", 0), 0u) << core::FromWide(Text(IDC_REPORT));
  EXPECT_EQ(directory()->FileNames(), (std::vector<std::wstring>{L"rows.csv", L"rows.json"}));
}

}  // namespace
}  // namespace kestrune::ui::testing
