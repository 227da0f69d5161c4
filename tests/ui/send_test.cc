// Send against kestrune-sim: the test command starts the simulator natively
// on 127.0.0.1 and passes its address in KESTRUNE_TEST_SIM (or the dialog's own
// KESTRUNE_ENDPOINT); without one these tests are skipped.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/ui/dialog_fixture.h"
#include "ui/resource_ids.h"

namespace kestrune::ui::testing {
namespace {

class SendTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    const char* address = std::getenv("KESTRUNE_TEST_SIM");
    if (address == nullptr || *address == '\0') address = std::getenv("KESTRUNE_ENDPOINT");
    if (address == nullptr || *address == '\0') {
      GTEST_SKIP()
          << "no simulator: set KESTRUNE_TEST_SIM=127.0.0.1:PORT of a running kestrune-sim";
    }
    ASSERT_EQ(_putenv_s("KESTRUNE_ENDPOINT", address), 0);
  }

  void TearDown() override {
    _putenv_s("KESTRUNE_ENDPOINT", "");
    DialogTest::TearDown();
  }

  void OpenWithDemoKey() {
    OpenDialog();
    SetText(IDC_KEY_ID, "kestrune-demo-id");
    SetText(IDC_KEY_SECRET, "kestrune-demo-secret");
  }

  void Choose(std::string_view category, std::string_view action) {
    ChooseText(IDC_SERVICE, "ECS");
    ChooseText(IDC_CATEGORY, category);
    ChooseText(IDC_ACTION, action);
  }

  std::size_t Count(const std::vector<ScreenRow>& rows, const std::wstring& field) {
    std::size_t n = 0;
    for (const ScreenRow& row : rows) n += row.field == field;
    return n;
  }
};

TEST_F(SendTest, DescribeRegionsIsFormattedIntoTheList) {
  OpenWithDemoKey();
  Choose("地域", "DescribeRegions");
  Press(IDC_SEND);
  EXPECT_EQ(Text(IDC_REPORT), L"Action=DescribeRegions");
  std::vector<ScreenRow> rows = Rows();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back().field, L"RequestId");
  EXPECT_FALSE(rows.back().info.empty());
  EXPECT_GE(Count(rows, L"RegionId"), 20u);
  EXPECT_EQ(Count(rows, L"RegionId"), Count(rows, L"LocalName"));
  // Each shown value is traced as its caption and value.
  bool title = false;
  bool value = false;
  for (const std::string& line : trace_.lines()) {
    title = title || line.rfind("strtitle = RegionId", 0) == 0;
    value = value || line.rfind("OneXmlBuf = ", 0) == 0;
  }
  EXPECT_TRUE(title);
  EXPECT_TRUE(value);
}

TEST_F(SendTest, TypedRegionReachesTheServiceAndRowsAccumulate) {
  OpenWithDemoKey();
  Press(IDC_DESCRIBE_INSTANCE_STATUS);  // six sample rows stay below the reply's
  Choose("地域", "DescribeZones");
  SetText(IDC_PARAM_VALUE_FIRST, "cn-beijing");
  Press(IDC_SEND);
  EXPECT_EQ(Text(IDC_REPORT), L"Action=DescribeZones");
  std::vector<ScreenRow> rows = Rows();
  ASSERT_GT(rows.size(), 6u);
  EXPECT_EQ(rows.back(), (ScreenRow{L"RequestId", L"FFFFFFFF-DE1B-5B4F-90A2-3DAE858545A5"}));
  std::size_t zones = 0;
  for (const ScreenRow& row : rows) {
    if (row.field != L"ZoneId") continue;
    ++zones;
    EXPECT_EQ(row.info.rfind(L"cn-beijing-", 0), 0u) << row.info;
  }
  EXPECT_GT(zones, 0u);
}

TEST_F(SendTest, ErrorReplyShowsItsFourRowsAndClearsTheReport) {
  OpenDialog();
  SetText(IDC_KEY_ID, "nobody");
  SetText(IDC_KEY_SECRET, "nothing");
  SetText(IDC_REPORT, "previous report");
  Choose("地域", "DescribeRegions");
  Press(IDC_SEND);
  EXPECT_EQ(Text(IDC_REPORT), L"");
  std::vector<ScreenRow> rows = Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].field, L"Message");
  EXPECT_EQ(rows[1].field, L"Code");
  EXPECT_EQ(rows[2].field, L"HostId");
  EXPECT_EQ(rows[3].field, L"RequestId");
  for (const ScreenRow& row : rows) EXPECT_FALSE(row.info.empty()) << row.field;
  EXPECT_EQ(rows[1].info, L"InvalidAccessKeyId.NotFound");
}

// A stand-in for the debug viewer: a top-level window of class "DbgWinClass"
// with an "Edit" child, in this process.
class ViewerWindow {
 public:
  ViewerWindow() {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"DbgWinClass";
    RegisterClassExW(&window_class);
    window_ = CreateWindowExW(0, L"DbgWinClass", L"viewer", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    edit_ = CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 300, 200,
                            window_, nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(edit_, EM_SETLIMITTEXT, 1 << 20, 0);
  }
  ~ViewerWindow() { DestroyWindow(window_); }
  ViewerWindow(const ViewerWindow&) = delete;
  ViewerWindow& operator=(const ViewerWindow&) = delete;

  bool ready() const { return window_ != nullptr && edit_ != nullptr; }
  std::wstring Text() const {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
    return text;
  }

 private:
  HWND window_ = nullptr;
  HWND edit_ = nullptr;
};

TEST_F(SendTest, TraceLinesArriveInTheDebugViewerWindow) {
  ViewerWindow viewer;
  ASSERT_TRUE(viewer.ready());
  options_.trace = nullptr;  // the program's own sink: the debug viewer
  OpenWithDemoKey();
  Choose("地域", "DescribeZones");
  SetText(IDC_PARAM_VALUE_FIRST, "cn-hangzhou");
  Press(IDC_SEND);
  ASSERT_EQ(Text(IDC_REPORT), L"Action=DescribeZones");

  const std::wstring text = viewer.Text();
  EXPECT_EQ(text.rfind(L"strtitle = RequestId", 0), 0u) << "no line break before the first line";
  EXPECT_NE(text.find(L"\r\nOneXmlBuf = "), std::wstring::npos);
  EXPECT_NE(text.find(L"\r\nstrtitle = ZoneId"), std::wstring::npos);
  EXPECT_NE(text.find(L"cn-hangzhou-"), std::wstring::npos);
  EXPECT_NE(text.substr(text.size() - 2), L"\r\n") << "no line break after the last line";
}

}  // namespace
}  // namespace kestrune::ui::testing
