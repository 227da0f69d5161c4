#include "tests/ui/dialog_fixture.h"

#include <windows.h>

#include <wincred.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>

#include "core/wide_text.h"
#include "ui/clipboard.h"
#include "ui/resource_ids.h"

namespace kestrune::ui::testing {
namespace {

// The step WhileModal runs from its timer; one at a time on the test thread.
struct ModalStep {
  std::function<bool()> step;
  int attempts_left = 0;
  UINT_PTR timer = 0;
};
thread_local ModalStep modal_step;

void CALLBACK OnModalTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (modal_step.timer == 0) return;
  bool done = --modal_step.attempts_left <= 0 || modal_step.step();
  if (done) {
    KillTimer(nullptr, modal_step.timer);
    modal_step.timer = 0;
  }
}

void CALLBACK OnWatchdog(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  PostQuitMessage(kWatchdogExit);
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Every window below `parent`, children before their own children.
void Descendants(HWND parent, std::vector<HWND>& found) {
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    found.push_back(child);
    Descendants(child, found);
  }
}

}  // namespace

std::wstring W(std::string_view utf8) { return core::ToWide(utf8); }

std::wstring HostPath(std::string_view path) {
  std::string windows(path);
  if (!windows.empty() && windows[0] == '/') windows = "Z:" + windows;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return W(windows);
}

ScratchDirectory::ScratchDirectory(testsupport::SecretAudit* audit) : audit_(audit) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  previous_ = previous;
  for (unsigned attempt = 0;; ++attempt) {
    path_ = std::wstring(temp) + L"kestrune-ui-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(attempt);
    if (CreateDirectoryW(path_.c_str(), nullptr)) break;
  }
  SetCurrentDirectoryW(path_.c_str());
}

ScratchDirectory::~ScratchDirectory() {
  SetCurrentDirectoryW(previous_.c_str());
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(path_), ignored);
}

void ScratchDirectory::WriteFile(const std::wstring& name, std::string_view bytes) const {
  if (name == L"sign" && audit_ != nullptr) {
    const std::size_t colon = bytes.find(':');
    if (colon != std::string_view::npos && colon + 1 < bytes.size()) {
      audit_->AddSecret(std::string(bytes.substr(colon + 1)));
    }
  }
  FILE* file = _wfopen((path_ + L"\\" + name).c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  if (!bytes.empty()) {
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  }
  ASSERT_EQ(std::fclose(file), 0);
}

void ScratchDirectory::MakeDirectory(const std::wstring& name) const {
  ASSERT_TRUE(CreateDirectoryW((path_ + L"\\" + name).c_str(), nullptr));
}

std::string ScratchDirectory::ReadFile(const std::wstring& name, bool* found) const {
  std::string bytes;
  FILE* file = _wfopen((path_ + L"\\" + name).c_str(), L"rb");
  if (found != nullptr) *found = file != nullptr;
  if (file == nullptr) return bytes;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  std::fclose(file);
  return bytes;
}

std::vector<std::wstring> ScratchDirectory::FileNames() const {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return names;
}

ViewerWindow::ViewerWindow() {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"DbgWinClass";
  RegisterClassExW(&window_class);
  window_ = CreateWindowExW(0, L"DbgWinClass", L"viewer", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  // As the real viewer's: without ES_AUTOVSCROLL an edit refuses text past
  // its last visible line.
  edit_ = CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL, 0,
                          0, 300, 200, window_, nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(edit_, EM_SETLIMITTEXT, 1 << 20, 0);
}

ViewerWindow::~ViewerWindow() { DestroyWindow(window_); }

std::wstring ViewerWindow::Text() const { return WindowText(edit_); }

void ViewerWindow::SetText(const std::wstring& text) const { SetWindowTextW(edit_, text.c_str()); }

void DialogTest::SetUp() {
  audit_ = std::make_unique<testsupport::SecretAudit>(std::vector<std::string>{});
  directory_ = std::make_unique<ScratchDirectory>(audit_.get());
  options_.trace = &trace_;
  // The notification icon costs seconds under Wine without a tray; the tests
  // that need it turn it on.
  options_.notify_icon = false;
  // Each test starts where the template puts the window, whatever an earlier
  // one left behind.
  options_.placement_key.clear();
  // Remembered keys go to a target of this test run alone, emptied after each test.
  options_.credential_target = L"KestruneTest/" + std::to_wstring(GetCurrentProcessId());
}

void DialogTest::OpenDialog() {
  ASSERT_EQ(dialog_, nullptr);
  dialog_ = CreateMainDialog(GetModuleHandleW(nullptr), options_);
  ASSERT_NE(dialog_, nullptr);
  Pump();
}

void DialogTest::TearDown() {
  if (modal_step.timer != 0) {
    KillTimer(nullptr, modal_step.timer);
    modal_step.timer = 0;
  }
  AuditScreen();
  if (dialog_ != nullptr && IsWindow(dialog_)) DestroyWindow(dialog_);
  dialog_ = nullptr;
  // The dialog's end posts the quit message; it must not reach the next test.
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message != WM_QUIT) DispatchMessageW(&message);
  }
  AuditOutputs();
  CredDeleteW(options_.credential_target.c_str(), CRED_TYPE_GENERIC, 0);
  if (audit_ != nullptr) audit_->Finish();
  directory_.reset();
  audit_.reset();
}

void DialogTest::AuditOutputs() const {
  if (audit_ == nullptr) return;
  audit_->CheckLines("the trace lines", trace_.lines());
  if (directory_ != nullptr) audit_->CheckFilesUnder(std::filesystem::path(directory_->path()));
}

void DialogTest::AuditScreen() const {
  if (audit_ == nullptr) return;
  if (dialog_ != nullptr && IsWindow(dialog_)) {
    for (const ScreenRow& row : Rows()) {
      audit_->CheckText("a row's Field", row.field);
      audit_->CheckText("a row's Info", row.info);
    }
    audit_->CheckText("the report field", Text(IDC_REPORT));
    audit_->CheckText("the copied-value field", Text(IDC_COPIED_VALUE));
    audit_->CheckText("the dialog's caption", WindowText(dialog_));
    // The masked field is the one place the secret belongs; the list and the
    // two fields above were checked by name.
    const HWND skipped[] = {Control(IDC_KEY_SECRET), Control(IDC_RESULT_LIST), Control(IDC_REPORT),
                            Control(IDC_COPIED_VALUE)};
    std::vector<HWND> controls;
    Descendants(dialog_, controls);
    for (HWND control : controls) {
      if (std::find(std::begin(skipped), std::end(skipped), control) != std::end(skipped)) continue;
      audit_->CheckText("the text of control " + std::to_string(GetDlgCtrlID(control)),
                        WindowText(control));
    }
  }
  if (std::optional<std::wstring> clipboard = ClipboardText(nullptr)) {
    audit_->CheckText("the clipboard", *clipboard);
  }
  // The lines the program's own trace sink sent to a debug viewer.
  for (HWND viewer = FindWindowExW(nullptr, nullptr, L"DbgWinClass", nullptr); viewer != nullptr;
       viewer = FindWindowExW(nullptr, viewer, L"DbgWinClass", nullptr)) {
    if (HWND edit = FindWindowExW(viewer, nullptr, L"Edit", nullptr)) {
      audit_->CheckText("the debug viewer", WindowText(edit));
    }
  }
}

void DialogTest::Pump() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Keep it for whoever runs the loop next.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (IsWindow(dialog_) && IsDialogMessageW(dialog_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int DialogTest::RunLoop(UINT limit_ms) {
  UINT_PTR watchdog = SetTimer(nullptr, 0, limit_ms, OnWatchdog);
  int code = RunMessageLoop(dialog_);
  KillTimer(nullptr, watchdog);
  return code;
}

bool DialogTest::WaitFor(const std::function<bool()>& condition, const char* what, UINT limit_ms) {
  const ULONGLONG deadline = GetTickCount64() + limit_ms;
  for (;;) {
    Pump();
    if (condition()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    // Wakes for a message, or after a short while for a condition another
    // thread changes without one.
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10)),
                              QS_ALLINPUT);
  }
  ADD_FAILURE() << "still waiting for " << what << " after " << limit_ms << " ms";
  return false;
}

bool DialogTest::Busy() const { return Text(IDC_SEND) == L"Cancel"; }

void DialogTest::SendAndWait() {
  Press(IDC_SEND);
  WaitFor([this] { return !Busy(); }, "the request's outcome");
  AuditScreen();
}

void DialogTest::Press(int button_id) {
  HWND button = Control(button_id);
  ASSERT_NE(button, nullptr) << "no button " << button_id;
  SendMessageW(button, BM_CLICK, 0, 0);
  Pump();
  AuditScreen();
}

void DialogTest::Choose(int selector_id, int position) {
  HWND selector = Control(selector_id);
  ASSERT_NE(selector, nullptr) << "no selector " << selector_id;
  ASSERT_EQ(SendMessageW(selector, CB_SETCURSEL, static_cast<WPARAM>(position), 0), position);
  SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(selector_id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(selector));
  Pump();
}

void DialogTest::ChooseText(int selector_id, std::string_view utf8_text) {
  std::vector<std::wstring> entries = SelectorEntries(selector_id);
  std::wstring wanted = W(utf8_text);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == wanted) {
      Choose(selector_id, static_cast<int>(i));
      return;
    }
  }
  FAIL() << "selector " << selector_id << " has no entry " << utf8_text;
}

std::vector<std::wstring> DialogTest::SelectorEntries(int selector_id) const {
  std::vector<std::wstring> entries;
  HWND selector = Control(selector_id);
  if (selector == nullptr) return entries;
  auto count = static_cast<int>(SendMessageW(selector, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    auto length = static_cast<std::size_t>(SendMessageW(selector, CB_GETLBTEXTLEN, i, 0));
    std::wstring text(length + 1, L'\0');
    SendMessageW(selector, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    entries.push_back(text);
  }
  return entries;
}

std::wstring DialogTest::Text(int id) const {
  HWND control = Control(id);
  if (control == nullptr) return L"<absent>";
  int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), length + 1)));
  return text;
}

void DialogTest::SetText(int id, std::string_view utf8) {
  if (id == IDC_KEY_SECRET && !utf8.empty()) audit_->AddSecret(std::string(utf8));
  ASSERT_NE(Control(id), nullptr);
  SetWindowTextW(Control(id), W(utf8).c_str());
}

bool DialogTest::Shown(int id) const {
  HWND control = Control(id);
  return control != nullptr && (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

void DialogTest::ClickList(int row, bool right) {
  HWND list = Control(3004);
  ASSERT_NE(list, nullptr);
  POINT at{20, 0};
  if (row >= 0) {
    RECT item{};
    item.left = LVIR_LABEL;
    ASSERT_TRUE(SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&item)));
    at.y = (item.top + item.bottom) / 2;
  } else {
    RECT client{};
    GetClientRect(list, &client);
    at.y = client.bottom - 4;
  }
  const LPARAM position = MAKELPARAM(at.x, at.y);
  // The list follows the button until it is released; the release waits in
  // the queue so that the press is a click, not a drag.
  PostMessageW(list, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, position);
  SendMessageW(list, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON,
               position);
  Pump();
  AuditScreen();
}

std::wstring DialogTest::Cell(int row, int column) const {
  std::wstring text(4096, L'\0');
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text.data();
  item.cchTextMax = static_cast<int>(text.size());
  auto length = static_cast<std::size_t>(
      SendMessageW(Control(3004), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
  text.resize(length);
  return text;
}

std::vector<ScreenRow> DialogTest::Rows() const {
  std::vector<ScreenRow> rows;
  auto count = static_cast<int>(SendMessageW(Control(3004), LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) rows.push_back({Cell(i, 0), Cell(i, 1)});
  return rows;
}

void DialogTest::WhileModal(std::function<bool()> step, UINT period_ms, int attempts) {
  if (modal_step.timer != 0) KillTimer(nullptr, modal_step.timer);
  modal_step.step = std::move(step);
  modal_step.attempts_left = attempts;
  modal_step.timer = SetTimer(nullptr, 0, period_ms, OnModalTimer);
  ASSERT_NE(modal_step.timer, 0u);
}

int DialogTest::modal_attempts_left() const { return modal_step.attempts_left; }

}  // namespace kestrune::ui::testing
