// The `kestrune` command-line program as a library: RunCli takes the
// arguments after the program name and a Console, runs one subcommand and
// returns the process exit status. main.cc only wires the real console to it,
// so tests run whole commands in-process.
//
// Each call is independent (sample state lives for one call); a Console is
// used by one call at a time.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"

namespace kestrune::cli {

// Exit status of the program.
inline constexpr int kExitOk = 0;            // a good reply (or nothing to send)
inline constexpr int kExitErrorReply = 1;    // the service answered with an error
inline constexpr int kExitUsage = 2;         // the command line or the input is wrong
inline constexpr int kExitConnection = 3;    // no connection, or a time-out
inline constexpr int kExitNotSupported = 4;  // "this function not support"
inline constexpr int kExitWriteError = 5;    // standard output or error could not be written
inline constexpr int kExitWaitEnded = 6;     // --wait-for: not reached in time, or a failing value

std::string_view ProgramVersion();
// How the program carries its TLS library, as --version says it: "system,
// dynamic" unless the program that links this says otherwise ("built in").
void SetTlsLinkage(std::string_view linkage);

// Runs one command. A failed write to standard output or error ends in
// "kestrune: write error: …" and kExitWriteError, except a pipe whose reader
// has gone, which is no error of ours: the command's own status stands.
int RunCli(std::span<const std::string> arguments, Console& console);

// Every help text (the program's, then each subcommand's), for checks of
// their form.
std::vector<std::string> HelpTexts();

}  // namespace kestrune::cli
