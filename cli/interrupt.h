// Ctrl-C, for the few commands that have something to do before the process
// ends: print what a fan-out already has, remove a demo's private key. The
// platform seam: interrupt_posix.cc (SIGINT) and interrupt_win32.cc (the
// console's Ctrl-C and Ctrl-Break) implement it.
//
// Without an action in place Ctrl-C ends the program as it always would.
// With one, the action runs on a thread of its own while the rest of the
// program goes on (a request in flight cannot be stopped); once it returns,
// the program ends as Ctrl-C ends it. An action may end the process itself.
// Safe from any thread.
#pragma once

#include <functional>

namespace kestrune::cli {

// The exit status of a program ended by Ctrl-C, as shells report one.
inline constexpr int kExitInterrupted = 130;

// Starts listening for Ctrl-C; called once, early. Where Ctrl-C is ignored
// when the program starts (a background job of a shell without job
// control), it stays ignored.
void CatchInterrupt();

// `action` runs on Ctrl-C while the object lives (one at a time: a newer one
// replaces an older). The destructor waits for an action already running,
// so what it reads stays valid for as long as it runs.
class InterruptAction {
 public:
  explicit InterruptAction(std::function<void()> action);
  ~InterruptAction();
  InterruptAction(const InterruptAction&) = delete;
  InterruptAction& operator=(const InterruptAction&) = delete;
};

// Ends the process at once with `status`, without running destructors or
// waiting for other threads (a call in flight is simply dropped); for an
// action that has printed what it had to.
[[noreturn]] void EndProcessNow(int status);

}  // namespace kestrune::cli
