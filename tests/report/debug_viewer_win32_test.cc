// The debug viewer sink against a stand-in viewer window made by the test:
// a top-level window of class "DbgWinClass" with an "Edit" child.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/wide_text.h"
#include "report/trace_sink.h"

namespace kestrune::report {
namespace {

class StandInViewer {
 public:
  StandInViewer() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"DbgWinClass";
    RegisterClassW(&window_class);
    window_ = CreateWindowExW(0, L"DbgWinClass", L"viewer", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                              nullptr, nullptr, window_class.hInstance, nullptr);
    if (window_ == nullptr) return;
    edit_ = CreateWindowExW(0, L"Edit", L"",
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL, 0,
                            0, 400, 300, window_, nullptr, window_class.hInstance, nullptr);
  }
  ~StandInViewer() {
    if (window_ != nullptr) DestroyWindow(window_);
    UnregisterClassW(L"DbgWinClass", GetModuleHandleW(nullptr));
  }
  bool ready() const { return edit_ != nullptr; }
  // As a user's click at the start of the text.
  void PutCaretAtStart() const { SendMessageW(edit_, EM_SETSEL, 0, 0); }
  std::string Text() const {
    int length = GetWindowTextLengthW(edit_);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(edit_, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return core::FromWide(text);
  }

 private:
  HWND window_ = nullptr;
  HWND edit_ = nullptr;
};

TEST(DebugViewerSinkTest, AppendsLinesSeparatedByLineBreaks) {
  StandInViewer viewer;
  ASSERT_TRUE(viewer.ready())
      << "no window could be created: run the Windows tests in an X display (xvfb-run)";
  DebugViewerSink sink("\\no\\such\\viewer.exe");
  sink.Line("strtitle = LocalName (headreq, 738)");
  EXPECT_EQ(viewer.Text(), "strtitle = LocalName (headreq, 738)");
  viewer.PutCaretAtStart();
  sink.Line("OneXmlBuf = 华东2（上海） (headreq, 739)");
  EXPECT_EQ(viewer.Text(),
            "strtitle = LocalName (headreq, 738)\r\nOneXmlBuf = 华东2（上海） (headreq, 739)");
  // A viewer window was there, so nothing was started.
  EXPECT_FALSE(sink.start_tried());
}

TEST(DebugViewerSinkTest, WithoutViewerLinesAreDroppedAndStartIsTriedOnce) {
  ASSERT_EQ(FindWindowW(L"DbgWinClass", nullptr), nullptr);
  DebugViewerSink sink("\\no\\such\\viewer.exe");
  sink.Line("dropped");
  EXPECT_TRUE(sink.start_tried());
  sink.Line("dropped too");
  EXPECT_TRUE(sink.start_tried());

  // A viewer that appears later receives the lines from then on.
  StandInViewer viewer;
  ASSERT_TRUE(viewer.ready());
  sink.Line("first");
  EXPECT_EQ(viewer.Text(), "first");
}

}  // namespace
}  // namespace kestrune::report
