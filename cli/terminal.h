// The platform seam of the command-line program: terminals, standard
// streams, the command line in UTF-8 and the program's own path.
// terminal_posix.cc and terminal_win32.cc implement it.
//
// Functions act on this process's standard streams; call them from one
// thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/status.h"

namespace kestrune::cli {

enum class StandardStream { kInput, kOutput, kError };

// A write to standard output or error that did not go through.
struct WriteFailure {
  bool closed_pipe = false;  // the reader went away (EPIPE or its like)
  std::string reason;        // the system's description
};

bool IsTerminal(StandardStream stream);

// Writes to standard output or error. On a Windows console, UTF-8 text is
// shown through the console's Unicode interface whatever its code page;
// everywhere else the bytes are written unchanged. Says why when the write
// failed (buffered output may fail only at FlushStandard).
std::optional<WriteFailure> WriteStandard(StandardStream stream, std::string_view text);
// Writes out what the stream still buffers; says why when that failed.
std::optional<WriteFailure> FlushStandard(StandardStream stream);

// True where WriteStandard shows UTF-8 text correctly whatever the locale
// says (a Windows console); false where the locale's encoding must be used.
bool TerminalTakesUtf8(StandardStream stream);

// Makes standard output carry bytes unchanged (no line-end translation), so
// a signed request or a raw reply is printed exactly.
void PrepareStandardStreams();

// Keeps this process's memory, which will hold the AccessKey secret, out of
// core files and away from other processes of the same user: no core file
// at all (RLIMIT_CORE 0) and, on Linux, not dumpable (no core, no ptrace
// attach, /proc/<pid>/mem closed). Called first thing; a step the system
// refuses is left undone, as it changes nothing the program needs. On
// Windows nothing to do: no core file is written without a debugger or an
// error-reporting setting of the user's own.
void KeepMemoryOutOfCoreFiles();

// Gives each large buffer (a page of a reply) back to the system as soon as
// it is freed, so that a long walk's memory is what it holds now, not the
// most it ever held: glibc would otherwise raise its threshold for separate
// mappings to the largest buffer freed and keep later ones of that size in
// its heap. On Windows nothing to do: the heap gives blocks that large their
// own allocation already.
void ReturnLargeBuffersWhenFreed();

// The program's arguments after its name, in UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Reads one line of standard input, without its line end. When the input is
// a terminal, `prompt` is written to standard error first; with `hide_echo`
// the terminal stops echoing before the prompt appears (so nothing typed
// after it is shown or lost) and its settings are restored afterwards. An
// error when the input ends first.
core::Result<std::string> ReadInputLine(std::string_view prompt, bool hide_echo);

// Reads one line of standard input as a stream (no prompt, no terminal
// settings), without its line end; longer than 4096 bytes is an error.
core::Result<std::string> ReadLineFromStdin();

// The absolute path of the running program; "" when the system cannot tell.
std::string ExecutablePath();

}  // namespace kestrune::cli
