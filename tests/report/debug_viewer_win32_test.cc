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

constexpr unsigned kFlushLimitMs = 30000;

TEST(DebugViewerSinkTest, AppendsLinesSeparatedByLineBreaks) {
  StandInViewer viewer;
  ASSERT_TRUE(viewer.ready())
      << "no window could be created: run the Windows tests in an X display (xvfb-run)";
  DebugViewerSink sink;
  sink.Line("strtitle = LocalName (headreq, 738)");
  ASSERT_TRUE(sink.Flush(kFlushLimitMs));
  EXPECT_EQ(viewer.Text(), "strtitle = LocalName (headreq, 738)");
  viewer.PutCaretAtStart();
  sink.Lines({"OneXmlBuf = 华东2（上海） (headreq, 739)", "third"});
  ASSERT_TRUE(sink.Flush(kFlushLimitMs));
  EXPECT_EQ(
      viewer.Text(),
      "strtitle = LocalName (headreq, 738)\r\nOneXmlBuf = 华东2（上海） (headreq, 739)\r\nthird");
  EXPECT_EQ(sink.dropped(), 0u);
}

TEST(DebugViewerSinkTest, WithoutViewerLinesAreDropped) {
  ASSERT_EQ(FindWindowW(L"DbgWinClass", nullptr), nullptr);
  DebugViewerSink sink;
  sink.Line("dropped");
  ASSERT_TRUE(sink.Flush(kFlushLimitMs));

  // A viewer that appears later receives the lines from then on.
  StandInViewer viewer;
  ASSERT_TRUE(viewer.ready());
  sink.Line("first");
  ASSERT_TRUE(sink.Flush(kFlushLimitMs));
  EXPECT_EQ(viewer.Text(), "first");
}

// The viewer's window belongs to this thread, which answers nothing while it
// sleeps: the sink gives that hand-over up, and the viewer learns how many
// lines it missed with the next ones.
TEST(DebugViewerSinkTest, ASlowViewerLosesLinesAndIsToldHowMany) {
  StandInViewer viewer;
  ASSERT_TRUE(viewer.ready());
  DebugViewerSink sink;
  sink.Lines({"lost 1", "lost 2"});
  for (int i = 0; i < 3000 && sink.dropped() == 0; ++i) Sleep(10);
  ASSERT_EQ(sink.dropped(), 2u);
  // Having slept five seconds without looking at its messages, this thread
  // counts as hung, and a hand-over to a hung viewer is given up at once:
  // one look makes it a responsive viewer again.
  MSG message{};
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  sink.Line("after");
  ASSERT_TRUE(sink.Flush(kFlushLimitMs));
  EXPECT_EQ(viewer.Text(), "(2 trace lines dropped: the viewer was too slow)\r\nafter");
}

}  // namespace
}  // namespace kestrune::report
