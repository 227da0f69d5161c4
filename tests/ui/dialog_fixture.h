// Test support for the dialog tests: each test gets the real main dialog,
// created by the program's own code in a fresh working directory, and reads
// the controls' real state back through window messages.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "report/trace_sink.h"
#include "ui/main_dialog.h"

namespace kestrune::ui::testing {

struct ScreenRow {
  std::wstring field;
  std::wstring info;
  friend bool operator==(const ScreenRow&, const ScreenRow&) = default;
};

// UTF-8 to UTF-16, for expectations written as UTF-8 literals.
std::wstring W(std::string_view utf8);

// A fresh, empty directory that is the working directory while it lives.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // Writes `bytes` to the file `name` inside the directory.
  void WriteFile(const std::wstring& name, std::string_view bytes) const;
  // The bytes of a file inside the directory; nullopt-like empty flag via `found`.
  std::string ReadFile(const std::wstring& name, bool* found = nullptr) const;
  std::vector<std::wstring> FileNames() const;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  std::wstring previous_;
};

// The exit code RunLoop's watchdog ends a loop with.
inline constexpr int kWatchdogExit = 77;

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the dialog (SetUp does so unless a test wants to prepare files first).
  void OpenDialog();

  HWND dialog() const { return dialog_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }

  // Handles every message waiting for this thread, as the program's loop does.
  void Pump();
  // Runs the program's message loop until it quits; a watchdog ends it with
  // code kWatchdogExit after `limit_ms`.
  int RunLoop(UINT limit_ms = 15000);

  // A button press as the user makes it (the button notifies the dialog).
  void Press(int button_id);
  // Chooses entry `position` of a selector as the user does: the selection
  // changes and the dialog is told.
  void Choose(int selector_id, int position);
  // Chooses the entry whose text is `text`; fails the test when absent.
  void ChooseText(int selector_id, std::string_view utf8_text);
  std::vector<std::wstring> SelectorEntries(int selector_id) const;
  std::wstring Text(int id) const;
  void SetText(int id, std::string_view utf8);
  // Whether the control itself carries WS_VISIBLE.
  bool Shown(int id) const;

  // A left or right click on a row of the result list (on its first column),
  // as the mouse makes it; row -1 clicks below the last row.
  void ClickList(int row, bool right = false);

  // The result list, top row first.
  std::vector<ScreenRow> Rows() const;
  std::wstring Cell(int row, int column) const;

  // Runs `step` from inside whatever modal loop the next call enters (a menu,
  // a modal dialog), every `period_ms`, until it returns true. Gives up after
  // `attempts` tries.
  void WhileModal(std::function<bool()> step, UINT period_ms = 50, int attempts = 200);
  int modal_attempts_left() const;

  ScratchDirectory* directory() { return directory_.get(); }
  MainDialogOptions options_;
  report::RecordingTraceSink trace_;

 private:
  std::unique_ptr<ScratchDirectory> directory_;
  HWND dialog_ = nullptr;
};

}  // namespace kestrune::ui::testing
