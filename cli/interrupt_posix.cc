// Ctrl-C on POSIX systems: the SIGINT handler only writes a byte to a pipe;
// a thread waiting on the pipe runs the action outside the handler, where
// any code may run, then ends the process by SIGINT's own default.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "cli/interrupt.h"

namespace kestrune::cli {
namespace {

int interrupt_pipe[2] = {-1, -1};

std::mutex& ActionMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<void()>& CurrentAction() {
  static std::function<void()> action;
  return action;
}

extern "C" void OnSigint(int /*signal*/) {
  const int saved = errno;
  const char byte = 1;
  // Nothing to do when the pipe is full: one byte already wakes the thread.
  [[maybe_unused]] const ssize_t written = write(interrupt_pipe[1], &byte, 1);
  errno = saved;
}

void WaitForInterrupt() {
  char byte = 0;
  while (read(interrupt_pipe[0], &byte, 1) < 0 && errno == EINTR) {
  }
  {
    const std::lock_guard lock(ActionMutex());
    if (CurrentAction()) CurrentAction()();
  }
  // Ended as Ctrl-C ends a program, so that the shell sees it so.
  signal(SIGINT, SIG_DFL);
  raise(SIGINT);
  std::_Exit(kExitInterrupted);
}

}  // namespace

void CatchInterrupt() {
  struct sigaction current = {};
  if (sigaction(SIGINT, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
  if (interrupt_pipe[0] >= 0 || pipe(interrupt_pipe) != 0) return;
  for (int fd : interrupt_pipe) fcntl(fd, F_SETFD, FD_CLOEXEC);
  fcntl(interrupt_pipe[1], F_SETFL, O_NONBLOCK);
  try {
    std::thread(WaitForInterrupt).detach();
  } catch (const std::system_error&) {
    return;  // no thread to spare: Ctrl-C keeps its default
  }
  struct sigaction handler = {};
  handler.sa_handler = OnSigint;
  sigemptyset(&handler.sa_mask);
  // Calls in progress go on rather than failing with EINTR.
  handler.sa_flags = SA_RESTART;
  sigaction(SIGINT, &handler, nullptr);
}

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
