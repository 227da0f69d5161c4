// DbgView.exe, the debug viewer: a window of class "DbgWinClass" with an
// "Edit" child that the program's trace sink writes to from another process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/wide_text.h"
#include "report/trace_sink.h"
#include "tests/ui/dialog_fixture.h"

#ifndef KESTRUNE_DBGVIEW_PATH
#error "the build names the viewer program"
#endif

namespace kestrune::ui::testing {
namespace {

constexpr DWORD kWaitMs = 30000;

// The viewer's path as this Windows process reaches it (a host path goes
// through Wine's drive for the host's root).
std::string ViewerPath() {
  std::string path = KESTRUNE_DBGVIEW_PATH;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// Waits for the viewer's window with its edit child (the window can be found
// while it is still being created).
HWND WaitForViewer() {
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  for (;;) {
    HWND viewer = FindWindowW(L"DbgWinClass", nullptr);
    if (viewer != nullptr && FindWindowExW(viewer, nullptr, L"Edit", nullptr) != nullptr) {
      return viewer;
    }
    if (GetTickCount64() > deadline) return nullptr;
    Sleep(20);
  }
}

std::wstring EditText(HWND viewer) {
  HWND edit = FindWindowExW(viewer, nullptr, L"Edit", nullptr);
  if (edit == nullptr) return L"<no edit>";
  auto length = static_cast<std::size_t>(SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

// Closes the viewer and returns its exit code (or a note that it did not end).
DWORD CloseViewer(HWND viewer) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(viewer, &process_id);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  PostMessageW(viewer, WM_CLOSE, 0, 0);
  DWORD code = 9999;
  if (process != nullptr) {
    if (WaitForSingleObject(process, kWaitMs) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    CloseHandle(process);
  }
  return code;
}

// Starts the viewer program as a user does and waits for its window.
HWND StartViewer() {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::string path = ViewerPath();
  std::string command = "\"" + path + "\"";
  if (!CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return WaitForViewer();
}

TEST(DebugViewerProgramTest, LinesArriveInItsEditAtTheEnd) {
  ASSERT_EQ(FindWindowW(L"DbgWinClass", nullptr), nullptr) << "a viewer is already running";
  HWND viewer = StartViewer();
  ASSERT_NE(viewer, nullptr) << "the viewer did not show its window: " << ViewerPath();
  report::DebugViewerSink sink;
  sink.Line("first");
  sink.Line("区域 cn-shanghai");
  ASSERT_TRUE(sink.Flush(kWaitMs));
  const std::wstring expected = W("first\r\n区域 cn-shanghai");
  EXPECT_EQ(EditText(viewer), expected);

  // Wherever the user left the caret, the next line goes at the end.
  HWND edit = FindWindowExW(viewer, nullptr, L"Edit", nullptr);
  SendMessageW(edit, EM_SETSEL, 2, 4);
  sink.Line("third");
  ASSERT_TRUE(sink.Flush(kWaitMs));
  EXPECT_EQ(EditText(viewer), expected + L"\r\nthird");

  // Read-only for the user, yet it takes every line it is sent.
  EXPECT_NE(GetWindowLongW(edit, GWL_STYLE) & ES_READONLY, 0);
  EXPECT_NE(GetWindowLongW(edit, GWL_STYLE) & ES_MULTILINE, 0);

  EXPECT_EQ(CloseViewer(viewer), 0u);
}

TEST(DebugViewerProgramTest, LongSessionsAreNotCutAtTheEditDefault) {
  HWND viewer = StartViewer();
  ASSERT_NE(viewer, nullptr);
  report::DebugViewerSink sink;
  const std::string line(1000, 'x');
  for (int i = 0; i < 40; ++i) sink.Line(line);  // 40000 characters, past 32767
  ASSERT_TRUE(sink.Flush(kWaitMs));
  EXPECT_EQ(EditText(viewer).size(), 40u * 1000 + 39 * 2);
  EXPECT_EQ(CloseViewer(viewer), 0u);
}

}  // namespace
}  // namespace kestrune::ui::testing
