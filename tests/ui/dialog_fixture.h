// Test support for the dialog tests: each test gets the real main dialog,
// created by the program's own code in a fresh working directory, and reads
// the controls' real state back through window messages.
//
// Each test also gets a secret audit: every AccessKey secret the test types
// into the secret field or writes into "sign" is looked for in what the
// dialog shows (rows, the report and copied-value fields, every other
// control's text, the clipboard, the debug viewer's window), in the trace
// lines, in standard output and error, and in every file under the working
// directory other than "sign".
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "report/trace_sink.h"
#include "tests/support/secret_audit.h"
#include "ui/main_dialog.h"

namespace kestrune::ui::testing {

struct ScreenRow {
  std::wstring field;
  std::wstring info;
  friend bool operator==(const ScreenRow&, const ScreenRow&) = default;
};

// UTF-8 to UTF-16, for expectations written as UTF-8 literals.
std::wstring W(std::string_view utf8);

// A host path (as the test command names files) as this Windows process
// reaches it under Wine: through the drive for the host's root.
std::wstring HostPath(std::string_view path);

// A fresh, empty directory that is the working directory while it lives; it
// is removed whole at the end.
class ScratchDirectory {
 public:
  // `audit`, if given, learns the secret of every credential file written here.
  explicit ScratchDirectory(testsupport::SecretAudit* audit = nullptr);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // Writes `bytes` to the file `name` inside the directory. For "sign", what
  // follows the first ":" is an AccessKey secret.
  void WriteFile(const std::wstring& name, std::string_view bytes) const;
  void MakeDirectory(const std::wstring& name) const;
  // The bytes of a file inside the directory; nullopt-like empty flag via `found`.
  std::string ReadFile(const std::wstring& name, bool* found = nullptr) const;
  std::vector<std::wstring> FileNames() const;
  const std::wstring& path() const { return path_; }

 private:
  testsupport::SecretAudit* audit_;
  std::wstring path_;
  std::wstring previous_;
};

// A stand-in for the debug viewer: a top-level window of class "DbgWinClass"
// with an "Edit" child, in this process.
class ViewerWindow {
 public:
  ViewerWindow();
  ~ViewerWindow();
  ViewerWindow(const ViewerWindow&) = delete;
  ViewerWindow& operator=(const ViewerWindow&) = delete;

  bool ready() const { return window_ != nullptr && edit_ != nullptr; }
  std::wstring Text() const;
  void SetText(const std::wstring& text) const;

 private:
  HWND window_ = nullptr;
  HWND edit_ = nullptr;
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
  // Handles this thread's messages until `condition` holds, looking again at
  // each new message and every 10 ms; false (and a test failure naming
  // `what`) when it still does not hold after `limit_ms`.
  bool WaitFor(const std::function<bool()>& condition, const char* what, UINT limit_ms = 30000);
  // Whether a request is in flight (Send reads Cancel).
  bool Busy() const;
  // Presses Send and waits until the request's outcome is shown.
  void SendAndWait();

  // A button press as the user makes it (the button notifies the dialog);
  // then audits the screen.
  void Press(int button_id);
  // Chooses entry `position` of a selector as the user does: the selection
  // changes and the dialog is told.
  void Choose(int selector_id, int position);
  // Chooses the entry whose text is `text`; fails the test when absent.
  void ChooseText(int selector_id, std::string_view utf8_text);
  std::vector<std::wstring> SelectorEntries(int selector_id) const;
  std::wstring Text(int id) const;
  // A text typed into the secret field is an AccessKey secret for the audit.
  void SetText(int id, std::string_view utf8);
  // Whether the control itself carries WS_VISIBLE.
  bool Shown(int id) const;

  // A left or right click on a row of the result list (on its first column),
  // as the mouse makes it; row -1 clicks below the last row. Then audits the
  // screen.
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

  // The test's secret audit, for outputs only the test sees (a request a
  // test server took); the fixture checks everything else itself.
  testsupport::SecretAudit& audit() { return *audit_; }
  // Checks everything the dialog shows now, and the debug viewer's window.
  // Press and ClickList do so after each step; TearDown does at the end.
  void AuditScreen() const;
  // Checks the trace lines and the files under the working directory;
  // TearDown does so once the dialog is gone.
  void AuditOutputs() const;

 private:
  std::unique_ptr<testsupport::SecretAudit> audit_;
  std::unique_ptr<ScratchDirectory> directory_;
  HWND dialog_ = nullptr;
};

}  // namespace kestrune::ui::testing
