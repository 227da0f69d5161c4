// Starting and stopping a helper program (the local simulator of `kestrune
// demo`) whose first line of standard output the caller reads.
// process_posix.cc spawns it; process_win32.cc reports that it cannot, and
// the demo then asks for the address of a simulator started by hand.
//
// A ChildProcess is owned by one thread; not thread-safe.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/status.h"

namespace kestrune::cli {

class ChildProcess {
 public:
  // Starts `program` with `arguments` (not counting the program itself), its
  // standard output on a pipe to this process, its standard input empty and
  // its standard error either shared with this process or discarded. The
  // child is ended (SIGTERM) when this process ends, however it ends, so an
  // interrupted demo leaves no simulator behind.
  static core::Result<ChildProcess> Start(const std::string& program,
                                          const std::vector<std::string>& arguments,
                                          bool share_error_stream);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Stops the process if it still runs.
  ~ChildProcess();

  // The next line of the child's standard output, without its line end; an
  // error when the output ends or `timeout` passes first.
  core::Result<std::string> ReadOutputLine(std::chrono::milliseconds timeout);

  // Asks the process to end (SIGTERM), waits up to `grace` and then kills it.
  // Safe to call more than once.
  void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

  struct State;

 private:
  explicit ChildProcess(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// True when a file exists at `path` and may be run.
bool IsExecutableFile(const std::string& path);

}  // namespace kestrune::cli
