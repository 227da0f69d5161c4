// The main dialog as the user meets it: start state, window and About box,
// the ways the program ends, the notification icon's menu, keyboard handling.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "core/wide_text.h"
#include "kestrune_version.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/notify_icon.h"
#include "ui/resource_ids.h"
#include "ui/window_placement.h"

namespace kestrune::ui::testing {
namespace {

using StartStateTest = DialogTest;

TEST_F(StartStateTest, WindowClassCaptionAndSize) {
  OpenDialog();
  wchar_t class_name[64] = {};
  GetClassNameW(dialog(), class_name, 64);
  EXPECT_STREQ(class_name, L"DLGCLASS");
  wchar_t title[64] = {};
  GetWindowTextW(dialog(), title, 64);
  EXPECT_STREQ(title, L"Kestrune");
  EXPECT_TRUE(IsWindowVisible(dialog()));
  EXPECT_EQ(GetParent(dialog()), nullptr);

  // 600 x 356 dialog units, whatever the font makes of them.
  RECT units{0, 0, 600, 356};
  ASSERT_TRUE(MapDialogRect(dialog(), &units));
  RECT client{};
  GetClientRect(dialog(), &client);
  EXPECT_EQ(client.right, units.right);
  EXPECT_EQ(client.bottom, units.bottom);

  const LONG style = GetWindowLongW(dialog(), GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_NE(style & WS_SYSMENU, 0);
  EXPECT_NE(style & WS_MINIMIZEBOX, 0);
  EXPECT_NE(style & WS_MAXIMIZEBOX, 0);
  EXPECT_NE(style & WS_THICKFRAME, 0);
}

TEST_F(StartStateTest, TemplateControlsKeepTheirClassesAndTexts) {
  OpenDialog();
  struct Placed {
    int id;
    const wchar_t* class_name;
    std::string text;
  };
  const std::vector<Placed> placed = {
      {4017, L"Button", "DescribeRegions"}, {4019, L"Button", "DescribeZones"},
      {4020, L"ComboBox", "cn-shanghai"},   {4021, L"Button", "DescribeInstanceStatus"},
      {4022, L"Button", "RebootInstance"},  {4023, L"Button", "StartInstance"},
      {4024, L"Button", "StopInstance"},    {4018, L"Button", "关于"},
      {3004, L"SysListView32", "List1"},
  };
  for (const Placed& p : placed) {
    SCOPED_TRACE(p.id);
    HWND control = Control(p.id);
    ASSERT_NE(control, nullptr);
    wchar_t class_name[64] = {};
    GetClassNameW(control, class_name, 64);
    EXPECT_STREQ(class_name, p.class_name);
    EXPECT_EQ(Text(p.id), W(p.text));
    EXPECT_NE(GetWindowLongW(control, GWL_STYLE) & WS_TABSTOP, 0);
  }
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(Text(3014 + k), W("参数" + std::to_string(k + 1) + ":"));
    EXPECT_NE(GetWindowLongW(Control(3005 + k), GWL_STYLE) & ES_AUTOHSCROLL, 0);
  }
}

TEST_F(StartStateTest, ListColumnsRegionAndHiddenForm) {
  OpenDialog();
  HWND list = Control(IDC_RESULT_LIST);
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
  const DWORD extended = static_cast<DWORD>(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  EXPECT_EQ(extended & 0x30u, 0x30u);

  struct Expected {
    const wchar_t* header;
    int width;
    int alignment;
  };
  // Field is 150 pixels at 96 DPI; Info takes the rest of the list's width,
  // so that no value needs the list scrolled sideways.
  RECT client{};
  ASSERT_TRUE(GetClientRect(list, &client));
  const Expected columns[] = {{L"Field", 150, LVCFMT_LEFT},
                              {L"Info", static_cast<int>(client.right) - 150, LVCFMT_RIGHT}};
  for (int i = 0; i < 2; ++i) {
    wchar_t header[32] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = header;
    column.cchTextMax = 32;
    ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(header, columns[i].header);
    EXPECT_EQ(column.cx, columns[i].width);
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, columns[i].alignment);
  }
  LVCOLUMNW third{};
  third.mask = LVCF_WIDTH;
  EXPECT_FALSE(SendMessageW(list, LVM_GETCOLUMNW, 2, reinterpret_cast<LPARAM>(&third)));

  // The list draws in the dialog's font, like every other control.
  EXPECT_EQ(SendMessageW(list, WM_GETFONT, 0, 0), SendMessageW(dialog(), WM_GETFONT, 0, 0));
  EXPECT_EQ(SendMessageW(list, WM_GETFONT, 0, 0),
            SendMessageW(Control(IDC_ACTION), WM_GETFONT, 0, 0));

  EXPECT_EQ(Text(IDC_REGION), L"cn-shanghai");
  EXPECT_EQ(SelectorEntries(IDC_REGION),
            (std::vector<std::wstring>{L"cn-shanghai", L"cn-shenzhen", L"cn-beijing"}));
  // Each region id shows whole in the closed selector, in the selector's font.
  COMBOBOXINFO region{};
  region.cbSize = sizeof(region);
  ASSERT_TRUE(GetComboBoxInfo(Control(IDC_REGION), &region));
  HDC context = GetDC(Control(IDC_REGION));
  auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(Control(IDC_REGION), WM_GETFONT, 0, 0));
  HGDIOBJ previous = SelectObject(context, font ? font : GetStockObject(SYSTEM_FONT));
  for (const std::wstring& entry : SelectorEntries(IDC_REGION)) {
    SIZE extent{};
    GetTextExtentPoint32W(context, entry.c_str(), static_cast<int>(entry.size()), &extent);
    EXPECT_LE(extent.cx, region.rcItem.right - region.rcItem.left) << core::FromWide(entry);
  }
  SelectObject(context, previous);
  ReleaseDC(Control(IDC_REGION), context);
  for (int id = 3005; id <= 3012; ++id) EXPECT_FALSE(Shown(id)) << id;
  for (int id = 3014; id <= 3021; ++id) EXPECT_FALSE(Shown(id)) << id;
}

TEST_F(StartStateTest, SelectorsOfferTheCatalogue) {
  OpenDialog();
  std::vector<std::wstring> groups = SelectorEntries(IDC_PRODUCT_GROUP);
  ASSERT_EQ(groups.size(), 12u);
  EXPECT_EQ(groups.front(), L"Elastic Compute");
  EXPECT_EQ(groups.back(), L"VideoService");
  EXPECT_EQ(Text(IDC_PRODUCT_GROUP), L"Elastic Compute");

  EXPECT_EQ(Text(IDC_SERVICE), L"ECS");
  std::vector<std::wstring> categories = SelectorEntries(IDC_CATEGORY);
  ASSERT_EQ(categories.size(), 26u);
  EXPECT_EQ(categories.front(), W("实例"));
  EXPECT_EQ(Text(IDC_CATEGORY), W("实例"));

  // The actions of the category on show are offered, none chosen yet.
  std::vector<std::wstring> actions = SelectorEntries(IDC_ACTION);
  ASSERT_EQ(actions.size(), 32u);
  EXPECT_EQ(actions.front(), L"RunInstances");
  EXPECT_EQ(SendMessageW(Control(IDC_ACTION), CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(Text(IDC_REPORT), L"");
  EXPECT_EQ(Text(IDC_COPIED_VALUE), L"");

  // The group on show offers its services only.
  EXPECT_EQ(SelectorEntries(IDC_SERVICE), std::vector<std::wstring>{L"ECS"});
  ChooseText(IDC_PRODUCT_GROUP, "Application");
  EXPECT_EQ(SelectorEntries(IDC_SERVICE), (std::vector<std::wstring>{L"IoT", L"API Gateway"}));
  ChooseText(IDC_PRODUCT_GROUP, "DataBase");
  EXPECT_EQ(SelectorEntries(IDC_SERVICE), std::vector<std::wstring>{});
  EXPECT_EQ(SelectorEntries(IDC_ACTION), std::vector<std::wstring>{});
  Press(IDC_SEND);
  EXPECT_EQ(Text(IDC_REPORT), L"not sent: choose an action first");
}

TEST_F(StartStateTest, SecretFieldMasksItsText) {
  OpenDialog();
  EXPECT_NE(GetWindowLongW(Control(IDC_KEY_SECRET), GWL_STYLE) & ES_PASSWORD, 0);
  EXPECT_NE(SendMessageW(Control(IDC_KEY_SECRET), EM_GETPASSWORDCHAR, 0, 0), 0);
  EXPECT_EQ(GetWindowLongW(Control(IDC_KEY_ID), GWL_STYLE) & ES_PASSWORD, 0);
}

TEST_F(StartStateTest, EveryAddedControlIsInsideTheDialogAndApartFromTheList) {
  OpenDialog();
  RECT client{};
  GetClientRect(dialog(), &client);
  RECT list{};
  GetWindowRect(Control(IDC_RESULT_LIST), &list);
  MapWindowPoints(nullptr, dialog(), reinterpret_cast<POINT*>(&list), 2);
  const int added[] = {IDC_PRODUCT_GROUP,      IDC_SERVICE, IDC_CATEGORY,   IDC_ACTION,
                       IDC_COPIED_VALUE,       IDC_KEY_ID,  IDC_KEY_SECRET, IDC_KEY_ID_CAPTION,
                       IDC_KEY_SECRET_CAPTION, IDC_REPORT,  IDC_EXIT,       IDC_SEND,
                       IDC_REMEMBER_KEYS};
  for (int id : added) {
    SCOPED_TRACE(id);
    ASSERT_NE(Control(id), nullptr);
    EXPECT_TRUE(Shown(id));
    RECT rect{};
    GetWindowRect(Control(id), &rect);
    MapWindowPoints(nullptr, dialog(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_GE(rect.left, 0);
    EXPECT_GE(rect.top, 0);
    EXPECT_LE(rect.right, client.right);
    EXPECT_LE(rect.bottom, client.bottom);
    RECT overlap{};
    EXPECT_FALSE(IntersectRect(&overlap, &rect, &list));
  }
  EXPECT_EQ(Text(IDC_SEND), L"&Send");
}

using WindowTest = DialogTest;

// The window of a class and title owned by `owner`, if it exists.
HWND FindOwned(HWND owner, const wchar_t* class_name, const wchar_t* title) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, class_name, title)) != nullptr) {
    if (GetWindow(window, GW_OWNER) == owner) return window;
  }
  return nullptr;
}

TEST_F(WindowTest, AboutBoxIsModalAndItsButtonClosesIt) {
  OpenDialog();
  struct Seen {
    bool found = false;
    bool owner_disabled = false;
    std::wstring text;
    std::wstring button;
    bool has_icon = false;
    RECT client{};
    RECT expected{};
  } seen;
  WhileModal([&] {
    HWND about = FindOwned(dialog(), L"#32770", W("关于").c_str());
    if (about == nullptr || !IsWindowVisible(about)) return false;
    seen.found = true;
    seen.owner_disabled = !IsWindowEnabled(dialog());
    HWND button = GetDlgItem(about, IDOK);
    wchar_t text[256] = {};
    GetWindowTextW(button, text, 256);
    seen.button = text;
    for (HWND child = GetWindow(about, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t class_name[32] = {};
      GetClassNameW(child, class_name, 32);
      if (std::wstring(class_name) != L"Static") continue;
      if (GetWindowLongW(child, GWL_STYLE) & SS_ICON) {
        seen.has_icon = SendMessageW(child, STM_GETICON, 0, 0) != 0;
      } else {
        GetWindowTextW(child, text, 256);
        seen.text = text;
      }
    }
    GetClientRect(about, &seen.client);
    seen.expected = {0, 0, 183, 54};
    MapDialogRect(about, &seen.expected);
    SendMessageW(button, BM_CLICK, 0, 0);
    return true;
  });
  Press(IDC_ABOUT);  // returns when the About box has closed
  EXPECT_TRUE(seen.found);
  EXPECT_TRUE(seen.owner_disabled) << "the main dialog waits while the About box is open";
  EXPECT_EQ(seen.button, W("确定"));
  EXPECT_EQ(seen.text,
            W("软件名：Kestrune\r\nVersion:" KESTRUNE_VERSION_TEXT "\r\n作者：Kestrune 开发组"));
  EXPECT_TRUE(seen.has_icon);
  EXPECT_EQ(seen.client.right, seen.expected.right);
  EXPECT_EQ(seen.client.bottom, seen.expected.bottom);
  EXPECT_EQ(FindOwned(dialog(), L"#32770", nullptr), nullptr);
  EXPECT_TRUE(IsWindowEnabled(dialog()));
  EXPECT_TRUE(IsWindow(dialog()));
}

TEST_F(WindowTest, EscapeWithoutARequestLeavesTheDialogOpen) {
  OpenDialog();
  SetFocus(Control(IDC_KEY_ID));
  PostMessageW(Control(IDC_KEY_ID), WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageW(dialog(), WM_COMMAND, IDCANCEL, 0);
  Pump();
  EXPECT_TRUE(IsWindow(dialog()));
}

// Typing after a restore, a message box or a switch to another window goes
// where it went before, never to a selector that would change the action.
TEST_F(WindowTest, FocusComesBackToItsFieldAfterRestoreAndAbout) {
  OpenDialog();
  SetForegroundWindow(dialog());
  HWND field = Control(IDC_KEY_ID);
  SetFocus(field);
  Pump();
  ASSERT_EQ(GetFocus(), field);
  ShowWindow(dialog(), SW_MINIMIZE);
  Pump();
  SendMessageW(dialog(), WM_COMMAND, IDM_RESTORE, 0);
  Pump();
  EXPECT_EQ(GetFocus(), field);

  WhileModal([&] {
    HWND about = FindOwned(dialog(), L"#32770", W("关于").c_str());
    if (about == nullptr || !IsWindowVisible(about)) return false;
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    return true;
  });
  Press(IDC_ABOUT);  // the click leaves the focus on the button, where it returns
  Pump();
  EXPECT_EQ(GetFocus(), Control(IDC_ABOUT));

  // The window itself handed the focus (as a click on its caption does)
  // passes it on to the field that had it.
  SetFocus(field);
  SetFocus(dialog());
  Pump();
  EXPECT_EQ(GetFocus(), field);
}

TEST_F(WindowTest, EnterInAFieldKeepsTheProgramOpen) {
  OpenDialog();
  SetFocus(Control(IDC_KEY_ID));
  PostMessageW(Control(IDC_KEY_ID), WM_KEYDOWN, VK_RETURN, 0);
  Pump();
  EXPECT_TRUE(IsWindow(dialog()));
}

TEST_F(WindowTest, CloseBoxEndsTheLoopWithZero) {
  OpenDialog();
  PostMessageW(dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_FALSE(IsWindow(dialog()));
}

TEST_F(WindowTest, ExitButtonEndsTheLoopWithZero) {
  OpenDialog();
  EXPECT_EQ(Text(IDC_EXIT), W("退出"));
  PostMessageW(Control(IDC_EXIT), BM_CLICK, 0, 0);
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_FALSE(IsWindow(dialog()));
}

TEST_F(WindowTest, CommandsWithoutControlRestoreOrEnd) {
  OpenDialog();
  ShowWindow(dialog(), SW_MINIMIZE);
  Pump();
  ASSERT_TRUE(IsIconic(dialog()));
  SendMessageW(dialog(), WM_COMMAND, IDM_RESTORE, 0);
  Pump();
  EXPECT_FALSE(IsIconic(dialog()));
  EXPECT_TRUE(IsWindow(dialog()));

  // A double click on the notification icon restores too.
  ShowWindow(dialog(), SW_MINIMIZE);
  Pump();
  SendMessageW(dialog(), kNotifyIconMessage, 0, WM_LBUTTONDBLCLK);
  Pump();
  EXPECT_FALSE(IsIconic(dialog()));

  // Other mouse messages from the icon do nothing.
  SendMessageW(dialog(), kNotifyIconMessage, 0, WM_MOUSEMOVE);
  SendMessageW(dialog(), kNotifyIconMessage, 0, WM_LBUTTONUP);
  Pump();
  EXPECT_TRUE(IsWindow(dialog()));

  SendMessageW(dialog(), WM_COMMAND, IDM_EXIT, 0);
  EXPECT_FALSE(IsWindow(dialog()));
  EXPECT_EQ(RunLoop(), 0);
}

TEST_F(WindowTest, NotifyIconMenuOffersRestoreAndExit) {
  options_.notify_icon = true;
  OpenDialog();
  struct Item {
    UINT id;
    std::wstring text;
  };
  std::vector<Item> items;
  WhileModal([&] {
    HWND menu_window = FindWindowW(L"#32768", nullptr);
    if (menu_window == nullptr || !IsWindowVisible(menu_window)) return false;
    auto menu = reinterpret_cast<HMENU>(SendMessageW(menu_window, MN_GETHMENU, 0, 0));
    if (menu == nullptr) return false;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      wchar_t text[64] = {};
      GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
      items.push_back({GetMenuItemID(menu, i), text});
    }
    // Down to the second item, then choose it.
    PostMessageW(menu_window, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu_window, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu_window, WM_KEYDOWN, VK_RETURN, 0);
    return true;
  });
  PostMessageW(dialog(), kNotifyIconMessage, 0, WM_RBUTTONDOWN);
  EXPECT_EQ(RunLoop(), 0) << "the menu's second item ends the program";
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].id, static_cast<UINT>(IDM_RESTORE));
  EXPECT_EQ(items[0].text, W("恢复"));
  EXPECT_EQ(items[1].id, static_cast<UINT>(IDM_EXIT));
  EXPECT_EQ(items[1].text, W("退出"));
  EXPECT_FALSE(IsWindow(dialog()));
}

TEST_F(WindowTest, NotifyIconIsAddedAtStartAndRemovedOnDestroy) {
  options_.notify_icon = true;
  OpenDialog();
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = dialog();
  data.uID = NotifyIcon::kIconId;
  data.uFlags = NIF_TIP;
  wcscpy(data.szTip, L"probe");
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data)) << "the icon is there";
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  ASSERT_FALSE(IsWindow(dialog()));
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &data)) << "the icon is gone";
  EXPECT_EQ(RunLoop(), 0);
}

// Tab visits every control a user can reach, once each, starting with the
// selectors in the order they stand, and comes back round.
TEST_F(WindowTest, TabReachesEveryControl) {
  OpenDialog();
  std::set<HWND> reachable;
  for (HWND child = GetWindow(dialog(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if ((style & WS_VISIBLE) && (style & WS_TABSTOP) && IsWindowEnabled(child)) {
      reachable.insert(child);
    }
  }
  SetFocus(Control(IDC_PRODUCT_GROUP));
  Pump();
  std::vector<HWND> visited = {GetFocus()};
  for (std::size_t step = 0; step <= reachable.size(); ++step) {
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    Pump();
    if (GetFocus() == visited.front()) break;
    visited.push_back(GetFocus());
  }
  EXPECT_EQ(std::set<HWND>(visited.begin(), visited.end()), reachable);
  EXPECT_EQ(visited.size(), reachable.size()) << "a control visited twice";
  ASSERT_GE(visited.size(), 4u);
  EXPECT_EQ(visited[1], Control(IDC_SERVICE));
  EXPECT_EQ(visited[2], Control(IDC_CATEGORY));
  EXPECT_EQ(visited[3], Control(IDC_ACTION));
}

// On a monitor of another DPI (three quarters of this one, so that the window
// still fits the screen) the window takes the rectangle the system suggests
// and its controls keep their places, scaled.
TEST_F(WindowTest, DpiChangeScalesTheLayout) {
  OpenDialog();
  auto place = [this](int id) {
    RECT rect{};
    GetWindowRect(Control(id), &rect);
    MapWindowPoints(nullptr, dialog(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  };
  const RECT list = place(IDC_RESULT_LIST);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  RECT window{};
  GetWindowRect(dialog(), &window);
  auto scale = [](LONG value) { return MulDiv(value, 3, 4); };
  RECT suggested{window.left, window.top, window.left + scale(window.right - window.left),
                 window.top + scale(window.bottom - window.top)};
  SendMessageW(dialog(), WM_DPICHANGED, MAKEWPARAM(scale(dpi), scale(dpi)),
               reinterpret_cast<LPARAM>(&suggested));
  RECT now{};
  GetWindowRect(dialog(), &now);
  EXPECT_TRUE(EqualRect(&now, &suggested));
  const RECT scaled = place(IDC_RESULT_LIST);
  EXPECT_EQ(scaled.left, scale(list.left));
  EXPECT_EQ(scaled.right - scaled.left, scale(list.right - list.left));
}

// Whether the visible controls fit a dialog of the size it has now: across
// none leaves the client area, down none leaves the scrolled content, none
// overlaps another, and no caption or button text is cut.
void ExpectLayoutFits(HWND dialog, const std::string& at) {
  RECT client{};
  GetClientRect(dialog, &client);
  SCROLLINFO scroll{};
  scroll.cbSize = sizeof(scroll);
  scroll.fMask = SIF_ALL;
  LONG top = 0;
  LONG bottom = client.bottom;
  if (GetScrollInfo(dialog, SB_VERT, &scroll) && scroll.nMax >= static_cast<int>(scroll.nPage)) {
    top = -scroll.nPos;
    bottom = std::max<LONG>(client.bottom, scroll.nMax + 1 - scroll.nPos);
  }
  std::vector<std::pair<HWND, RECT>> shown;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) == 0) continue;
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    shown.emplace_back(child, rect);
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto& [control, rect] = shown[i];
    const std::string id = at + " control " + std::to_string(GetDlgCtrlID(control));
    EXPECT_GE(rect.left, 0) << id;
    EXPECT_LE(rect.right, client.right) << id;
    EXPECT_GE(rect.top, top) << id;
    EXPECT_LE(rect.bottom, bottom) << id;
    for (std::size_t j = i + 1; j < shown.size(); ++j) {
      RECT overlap{};
      EXPECT_FALSE(IntersectRect(&overlap, &rect, &shown[j].second))
          << id << " and " << GetDlgCtrlID(shown[j].first);
    }
    wchar_t class_name[32] = {};
    GetClassNameW(control, class_name, 32);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const bool is_static = _wcsicmp(class_name, L"Static") == 0 && (style & SS_ICON) == 0;
    const bool is_button = _wcsicmp(class_name, L"Button") == 0;
    if (!is_static && !is_button) continue;
    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    std::wstring shown_text = text;
    std::erase(shown_text, L'&');
    HDC dc = GetDC(control);
    auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, shown_text.c_str(), static_cast<int>(shown_text.size()), &extent);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    // A check box's box and a push button's edges take room beside the text.
    const LONG type = style & BS_TYPEMASK;
    const LONG beside = !is_button ? 0 : (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) ? 16 : 4;
    EXPECT_LE(extent.cx + beside, rect.right - rect.left) << id << " cuts its text";
    EXPECT_LE(extent.cy, rect.bottom - rect.top) << id << " cuts its text";
  }
}

// The layout at 96, 120 and 144 DPI (each reached as a monitor of that DPI
// tells the window), at its smallest size, larger, and in the work area of a
// 1366 x 768 screen: everything fits, and scrolling brings the top and the
// bottom rows into view when the window is shorter than the layout.
TEST_F(WindowTest, LayoutFitsAtEachDpiAndSize) {
  OpenDialog();
  ChooseText(IDC_SERVICE, "ECS");
  ChooseText(IDC_CATEGORY, "实例");
  ChooseText(IDC_ACTION, "DescribeInstances");
  HDC screen = GetDC(nullptr);
  const UINT base = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
  ReleaseDC(nullptr, screen);
  for (UINT percent : {100u, 125u, 150u}) {
    const UINT dpi = MulDiv(base, percent, 100);
    RECT window{};
    GetWindowRect(dialog(), &window);
    RECT suggested = window;
    SendMessageW(dialog(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    MINMAXINFO limits{};
    SendMessageW(dialog(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    const POINT smallest = limits.ptMinTrackSize;
    ASSERT_GT(smallest.x, 0);
    // A 1366 x 768 screen with a 40-pixel task bar.
    EXPECT_LE(smallest.x, 1366) << percent << "% needs scrolling across";
    for (const SIZE& size : {SIZE{smallest.x, smallest.y}, SIZE{smallest.x + 300, smallest.y + 200},
                             SIZE{1366, 728}}) {
      const std::string at =
          std::to_string(percent) + "% " + std::to_string(size.cx) + "x" + std::to_string(size.cy);
      SetWindowPos(dialog(), nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
      Pump();
      ExpectLayoutFits(dialog(), at);
      RECT client{};
      GetClientRect(dialog(), &client);
      for (int end : {SB_BOTTOM, SB_TOP}) {
        SendMessageW(dialog(), WM_VSCROLL, end, 0);
        ExpectLayoutFits(dialog(), at + " scrolled");
        RECT rect{};
        GetWindowRect(Control(end == SB_BOTTOM ? IDC_SEND : IDC_ACTION), &rect);
        MapWindowPoints(nullptr, dialog(), reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_TRUE(rect.top >= 0 && rect.bottom <= client.bottom) << at << " not reachable";
      }
      if (HasFailure()) return;
    }
  }
}

// Kept under a key of the test's own; a place on no monitor is not restored.
TEST_F(WindowTest, PlaceIsKeptAndRestoredOnlyOnAMonitor) {
  const std::wstring key = L"Software\\KestruneTest\\Placement";
  OpenDialog();
  SetWindowPos(dialog(), nullptr, 40, 50, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
  ASSERT_TRUE(SaveWindowPlacement(dialog(), key));
  SetWindowPos(dialog(), nullptr, 0, 0, 900, 650, SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_TRUE(RestoreWindowPlacement(dialog(), key));
  RECT rect{};
  GetWindowRect(dialog(), &rect);
  EXPECT_TRUE(rect.right - rect.left == 1000 && rect.bottom - rect.top == 700);

  SetWindowPos(dialog(), nullptr, -30000, -30000, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
  ASSERT_TRUE(SaveWindowPlacement(dialog(), key));
  SetWindowPos(dialog(), nullptr, 10, 20, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_FALSE(RestoreWindowPlacement(dialog(), key));
  GetWindowRect(dialog(), &rect);
  EXPECT_EQ(rect.left, 10);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KestruneTest");
}

}  // namespace
}  // namespace kestrune::ui::testing
