// Running a credential helper program: its standard output read whole, within
// a time bound and a size bound, its standard input empty, its standard error
// the caller's. helper_command_posix.cc and helper_command_win32.cc implement
// it.
//
// A command line is split the way the vendor's own command line splits a
// profile's process_command: at runs of spaces and tabs, with no quoting, no
// variables and no shell, the first word the program (looked up on PATH).
// A program whose path or arguments hold a space needs a small wrapper script.
//
// Stateless; safe from any thread (each call waits for its own child).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/status.h"

namespace kestrune::engine {

// The words of `command`; empty for a blank one.
std::vector<std::string> SplitCommand(std::string_view command);

struct CommandOutput {
  int exit_code = 0;
  std::string output;  // standard output, at most the limit given
};

// Runs `words` (program first; requires at least one) and returns its exit
// code and standard output once it has ended. An error, with the program
// stopped and reaped, when it cannot be started, has not ended within
// `time_limit`, or writes more than `output_limit` bytes. The messages name
// the program, never its output.
core::Result<CommandOutput> RunHelperCommand(const std::vector<std::string>& words,
                                             std::chrono::milliseconds time_limit,
                                             std::size_t output_limit);

// The error of a program stopped at `limit`, naming it.
core::Status HelperOverdue(const std::string& program, std::chrono::milliseconds limit);

}  // namespace kestrune::engine
