// Send against kestrune-sim: ctest starts the simulator natively on 127.0.0.1
// as a fixture and passes its address in KESTRUNE_TEST_SIM (or the dialog's
// own KESTRUNE_ENDPOINT); without one these tests fail. With
// KESTRUNE_TEST_SIM_LOG naming that simulator's request log (a host path, as
// cmake/test-env.sh gives it), the secret audit reads what each test added.
#include <windows.h>

#include <commctrl.h>
#include <wincred.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/wide_text.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/control_text.h"
#include "ui/resource_ids.h"

namespace kestrune::ui::testing {
namespace {

std::string ReadWhole(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SendTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    const char* address = std::getenv("KESTRUNE_TEST_SIM");
    if (address == nullptr || *address == '\0') address = std::getenv("KESTRUNE_ENDPOINT");
    if (address == nullptr || *address == '\0') {
      FAIL() << "no simulator: run through ctest, which starts one, or set "
                "KESTRUNE_TEST_SIM=127.0.0.1:PORT of a running kestrune-sim";
    }
    ASSERT_EQ(_putenv_s("KESTRUNE_ENDPOINT", address), 0);
    const char* log = std::getenv("KESTRUNE_TEST_SIM_LOG");
    if (log != nullptr && *log != '\0') {
      simulator_log_ = HostPath(log);
      log_before_ = ReadWhole(*simulator_log_).size();
    }
  }

  void TearDown() override {
    _putenv_s("KESTRUNE_ENDPOINT", "");
    if (simulator_log_) {
      const std::string log = ReadWhole(*simulator_log_);
      const std::string added = log.substr(std::min(log_before_, log.size()));
      // Every test here sends one request, and the simulator logs each: an
      // empty addition would mean the audit looked at the wrong file.
      EXPECT_NE(added, "") << "the simulator's log did not grow";
      audit().CheckText("the simulator's log", added);
    }
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

 private:
  std::optional<std::wstring> simulator_log_;
  std::size_t log_before_ = 0;
};

TEST_F(SendTest, DescribeRegionsIsFormattedIntoTheList) {
  OpenWithDemoKey();
  Choose("地域", "DescribeRegions");
  SendAndWait();
  std::vector<ScreenRow> rows = Rows();
  ASSERT_FALSE(rows.empty());
  // The status counts the reply's rows; the header row names the request.
  EXPECT_EQ(Text(IDC_REPORT).rfind(L"OK · " + std::to_wstring(rows.size() - 1) + L" records · ", 0),
            0u)
      << core::FromWide(Text(IDC_REPORT));
  EXPECT_NE(rows.front().field.find(L" DescribeRegions"), std::wstring::npos);
  EXPECT_EQ(rows.front().info.rfind(L"- · OK · ", 0), 0u) << core::FromWide(rows.front().info);
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

// With "Remember keys" checked, a successful Send keeps the pair in the
// credential store, the next start fills the fields from it, and unchecking
// removes it; the credential file is never written.
TEST_F(SendTest, RememberKeysKeepsThePairInTheCredentialStore) {
  OpenWithDemoKey();
  Press(IDC_REMEMBER_KEYS);
  Choose("地域", "DescribeRegions");
  SendAndWait();
  ASSERT_EQ(Text(IDC_REPORT).rfind(L"OK · ", 0), 0u) << core::FromWide(Text(IDC_REPORT));

  HWND second = CreateMainDialog(GetModuleHandleW(nullptr), options_);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(ControlText(second, IDC_KEY_ID), "kestrune-demo-id");
  EXPECT_TRUE(ControlText(second, IDC_KEY_SECRET) == "kestrune-demo-secret");
  EXPECT_EQ(IsDlgButtonChecked(second, IDC_REMEMBER_KEYS), BST_CHECKED);
  DestroyWindow(second);
  MSG quit{};
  PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);

  Press(IDC_REMEMBER_KEYS);
  PCREDENTIALW kept = nullptr;
  EXPECT_FALSE(CredReadW(options_.credential_target.c_str(), CRED_TYPE_GENERIC, 0, &kept));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
  EXPECT_EQ(directory()->FileNames(), std::vector<std::wstring>{});
}

// The all-fields box shows what the action's own rows leave out, for the
// next Send.
TEST_F(SendTest, AllFieldsShowsEveryValueOfEachRecord) {
  OpenWithDemoKey();
  Choose("地域", "DescribeRegions");
  SendAndWait();
  EXPECT_EQ(Count(Rows(), L"RegionEndpoint"), 0u);
  Press(IDC_ALL_FIELDS);
  SendAndWait();
  EXPECT_EQ(Text(IDC_REPORT).rfind(L"OK · ", 0), 0u) << core::FromWide(Text(IDC_REPORT));
  EXPECT_GE(Count(Rows(), L"RegionId"), 20u);
  EXPECT_EQ(Count(Rows(), L"RegionEndpoint"), Count(Rows(), L"RegionId"));
}

// Empty key fields: Send takes the key from the credential chain (here the
// environment's pair) and the id field then says, in grey, where it came from;
// with no key anywhere, the dialog says how to give one in its own terms.
TEST_F(SendTest, EmptyKeyFieldsTakeTheChainsKeyAndSayWhereItCameFrom) {
  const auto cue = [this] {
    wchar_t text[512] = {};
    SendMessageW(Control(IDC_KEY_ID), EM_GETCUEBANNER, reinterpret_cast<WPARAM>(text), 512);
    return std::wstring(text);
  };
  OpenDialog();
  EXPECT_EQ(cue().rfind(L"empty: ", 0), 0u) << core::FromWide(cue());
  Choose("地域", "DescribeRegions");
  SendAndWait();
  const std::wstring none = Text(IDC_REPORT);
  EXPECT_NE(none.find(L"none found: type the AccessKey id"), std::wstring::npos)
      << core::FromWide(none);
  EXPECT_EQ(none.find(L"kestrune"), std::wstring::npos) << core::FromWide(none);
  ASSERT_EQ(_putenv_s("ALIBABA_CLOUD_ACCESS_KEY_ID", "kestrune-demo-id"), 0);
  ASSERT_EQ(_putenv_s("ALIBABA_CLOUD_ACCESS_KEY_SECRET", "kestrune-demo-secret"), 0);
  SendAndWait();
  _putenv_s("ALIBABA_CLOUD_ACCESS_KEY_ID", "");
  _putenv_s("ALIBABA_CLOUD_ACCESS_KEY_SECRET", "");
  EXPECT_EQ(Text(IDC_REPORT).rfind(L"OK · ", 0), 0u) << core::FromWide(Text(IDC_REPORT));
  EXPECT_EQ(cue().rfind(L"from the environment (ALIBABA_CLOUD_ACCESS_KEY_ID, ", 0), 0u)
      << core::FromWide(cue());
  EXPECT_EQ(Text(IDC_KEY_ID), L"");
}

TEST_F(SendTest, EachSendShowsOnlyItsOwnReplyUnderAHeader) {
  OpenWithDemoKey();
  Press(IDC_DESCRIBE_INSTANCE_STATUS);
  EXPECT_EQ(Text(IDC_REPORT).rfind(L"Sample: DescribeInstanceStatus", 0), 0u);
  Choose("地域", "DescribeZones");
  SetText(IDC_PARAM_VALUE_FIRST, "cn-beijing");
  SendAndWait();
  std::vector<ScreenRow> rows = Rows();
  ASSERT_GT(rows.size(), 2u);
  EXPECT_EQ(rows.front().info.rfind(L"cn-beijing · OK · ", 0), 0u);
  EXPECT_EQ(rows.back().field, L"RequestId");
  std::size_t zones = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_NE(rows[i].field, L"Status") << "a sample row stayed beside the reply";
    if (rows[i].field != L"ZoneId") continue;
    ++zones;
    EXPECT_EQ(rows[i].info.rfind(L"cn-beijing-", 0), 0u) << core::FromWide(rows[i].info);
  }
  EXPECT_GT(zones, 0u);

  SendAndWait();
  EXPECT_EQ(Rows().size(), rows.size()) << "a second Send replaces the first reply";
  Press(IDC_CLEAR);
  EXPECT_TRUE(Rows().empty());
}

TEST_F(SendTest, ErrorReplyShowsItsRowsAndClearsTheReport) {
  OpenDialog();
  SetText(IDC_KEY_ID, "nobody");
  SetText(IDC_KEY_SECRET, "nobodys-secret");
  SetText(IDC_REPORT, "previous report");
  Choose("地域", "DescribeRegions");
  SendAndWait();
  EXPECT_EQ(Text(IDC_REPORT).rfind(L"Error InvalidAccessKeyId.NotFound · ", 0), 0u)
      << core::FromWide(Text(IDC_REPORT));
  std::vector<ScreenRow> rows = Rows();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_NE(rows[0].info.find(L" · Error InvalidAccessKeyId.NotFound · "), std::wstring::npos);
  EXPECT_EQ(rows[1].field, L"Recommend");
  EXPECT_EQ(rows[1].info.find(L"CDATA"), std::wstring::npos) << core::FromWide(rows[1].info);
  EXPECT_EQ(rows[2].field, L"Message");
  EXPECT_EQ(rows[3].field, L"Code");
  EXPECT_EQ(rows[4].field, L"HostId");
  EXPECT_EQ(rows[5].field, L"RequestId");
  for (const ScreenRow& row : rows) EXPECT_FALSE(row.info.empty()) << core::FromWide(row.field);
  EXPECT_EQ(rows[3].info, L"InvalidAccessKeyId.NotFound");
}

// The wait box repeats Send until every record's field holds a wanted
// value, says a field the reply lacks at once, never repeats a change, and
// Esc stops a wait between its calls (not one interval, or 180 s, later).
TEST_F(SendTest, WaitForRepeatsSendUntilReachedOrGivenUp) {
  OpenWithDemoKey();
  Choose("实例", "DescribeInstanceStatus");
  SetText(IDC_PARAM_VALUE_FIRST, "cn-hangzhou");
  SendMessageW(Control(IDC_WAIT_FOR), BM_SETCHECK, BST_CHECKED, 0);
  SetText(IDC_WAIT_CONDITION, "Status=Running,Stopped,Starting,Stopping");
  SendAndWait();
  const std::wstring reached = Text(IDC_REPORT);
  EXPECT_EQ(reached.rfind(L"Status is ", 0), 0u) << core::FromWide(reached);
  EXPECT_NE(reached.find(L" after 1 call · OK · "), std::wstring::npos) << core::FromWide(reached);

  SetText(IDC_WAIT_CONDITION, "Statuz=Running");
  SendAndWait();
  EXPECT_EQ(Text(IDC_REPORT),
            L"wait for: Statuz names nothing in the reply of DescribeInstanceStatus; not waiting");

  Choose("实例", "StartInstance");
  SetText(IDC_WAIT_CONDITION, "Status=Running");
  Press(IDC_SEND);
  EXPECT_FALSE(Busy());
  EXPECT_EQ(Text(IDC_REPORT).rfind(L"not sent: waiting repeats the request", 0), 0u);

  Choose("实例", "DescribeInstanceStatus");
  SetText(IDC_PARAM_VALUE_FIRST, "cn-hangzhou");
  SetText(IDC_WAIT_CONDITION, "Status=Deleted");
  Press(IDC_SEND);
  EXPECT_TRUE(Busy());
  EXPECT_EQ(Text(IDC_REPORT).rfind(L"Waiting", 0), 0u);
  SetFocus(Control(IDC_KEY_ID));
  PostMessageW(Control(IDC_KEY_ID), WM_KEYDOWN, VK_ESCAPE, 0);
  Pump();
  EXPECT_FALSE(Busy());
  EXPECT_EQ(Text(IDC_REPORT), L"request cancelled");
  EXPECT_TRUE(WaitFor(
      [&] {
        return std::any_of(trace_.lines().begin(), trace_.lines().end(), [](const std::string& l) {
          return l.find("finished after it was cancelled") != std::string::npos;
        });
      },
      "the given-up wait to end", 2500));
}

// A reply of thousands of rows (a hundred instances, with the program's own
// trace sink) is shown while the window keeps answering: another thread asks
// it all along, and each answer must come within a generous bound.
using LargeReplyTest = DialogTest;

TEST_F(LargeReplyTest, ThousandsOfRowsLeaveTheWindowAnswering) {
  const char* fleet = std::getenv("KESTRUNE_TEST_FLEET_SIM");
  ASSERT_TRUE(fleet != nullptr && *fleet != '\0')
      << "no simulator with a hundred instances: run through ctest, which starts one";
  ASSERT_EQ(_putenv_s("KESTRUNE_ENDPOINT", fleet), 0);
  options_.trace = nullptr;
  OpenDialog();
  _putenv_s("KESTRUNE_ENDPOINT", "");
  SetText(IDC_KEY_ID, "kestrune-demo-id");
  SetText(IDC_KEY_SECRET, "kestrune-demo-secret");
  ChooseText(IDC_SERVICE, "ECS");
  ChooseText(IDC_CATEGORY, "实例");
  ChooseText(IDC_ACTION, "DescribeInstances");
  SetText(IDC_PARAM_VALUE_FIRST, "cn-shanghai");
  SetText(IDC_FREE_NAME_FIRST, "PageSize");
  SetText(IDC_FREE_VALUE_FIRST, "100");
  std::atomic<bool> done{false};
  std::atomic<int> asked{0};
  std::atomic<int> unanswered{0};
  std::atomic<bool> finished{false};
  std::thread probe([&] {
    while (!done) {
      DWORD_PTR ignored = 0;
      if (SendMessageTimeoutW(dialog(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored) == 0) {
        ++unanswered;
      }
      ++asked;
      Sleep(5);
    }
    finished = true;
  });
  SendMessageW(Control(IDC_SEND), BM_CLICK, 0, 0);
  WaitFor([this] { return !Busy(); }, "the request's outcome", 120000);
  // Until the rows are painted.
  RedrawWindow(Control(IDC_RESULT_LIST), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  done = true;
  // A question may be on its way: it is answered here, not left to time out
  // while this thread waits for the probe.
  while (!finished) {
    Pump();
    Sleep(1);
  }
  probe.join();
  EXPECT_EQ(Text(IDC_REPORT).rfind(L"OK · ", 0), 0u) << core::FromWide(Text(IDC_REPORT));
  EXPECT_GE(SendMessageW(Control(IDC_RESULT_LIST), LVM_GETITEMCOUNT, 0, 0), 3500);
  EXPECT_EQ(unanswered.load(), 0) << "of " << asked.load() << " questions";
}

TEST_F(SendTest, TraceLinesArriveInTheDebugViewerWindow) {
  ViewerWindow viewer;
  ASSERT_TRUE(viewer.ready());
  options_.trace = nullptr;  // the program's own sink: the debug viewer
  OpenWithDemoKey();
  Choose("地域", "DescribeZones");
  SetText(IDC_PARAM_VALUE_FIRST, "cn-hangzhou");
  SendAndWait();
  ASSERT_EQ(Text(IDC_REPORT).rfind(L"OK · ", 0), 0u);

  // The lines arrive after the reply is shown, without the window waiting.
  WaitFor([&] { return viewer.Text().find(L"\r\nstrtitle = ZoneId") != std::wstring::npos; },
          "the trace lines in the viewer");
  const std::wstring text = viewer.Text();
  // The exchange's steps first, then the values shown.
  EXPECT_EQ(text.rfind(L"Looking up hostname ", 0), 0u) << "no line break before the first line";
  EXPECT_NE(text.find(L"\r\nstrtitle = RequestId"), std::wstring::npos);
  EXPECT_NE(text.find(L"\r\nOneXmlBuf = "), std::wstring::npos);
  EXPECT_NE(text.find(L"\r\nstrtitle = ZoneId"), std::wstring::npos);
  EXPECT_NE(text.find(L"cn-hangzhou-"), std::wstring::npos);
  EXPECT_NE(text.substr(text.size() - 2), L"\r\n") << "no line break after the last line";
}

}  // namespace
}  // namespace kestrune::ui::testing
