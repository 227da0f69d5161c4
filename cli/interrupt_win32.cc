// Ctrl-C on Windows: the console runs its handlers on a thread of its own,
// where the action runs; returning FALSE then lets the default handler end
// the process as Ctrl-C always does.
#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <utility>

#include "cli/interrupt.h"

namespace kestrune::cli {
namespace {

std::mutex& ActionMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<void()>& CurrentAction() {
  static std::function<void()> action;
  return action;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    const std::lock_guard lock(ActionMutex());
    if (CurrentAction()) CurrentAction()();
  }
  return FALSE;
}

}  // namespace

void CatchInterrupt() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

InterruptAction::InterruptAction(std::function<void()> action) {
  const std::lock_guard lock(ActionMutex());
  CurrentAction() = std::move(action);
}

InterruptAction::~InterruptAction() {
  const std::lock_guard lock(ActionMutex());
  CurrentAction() = nullptr;
}

void EndProcessNow(int status) { std::_Exit(status); }

}  // namespace kestrune::cli
