// <windows.h> must come before the other Windows headers.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "core/os_error.h"
#include "core/wide_text.h"

namespace kestrune::cli {
namespace {

DWORD HandleId(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput:
      return STD_INPUT_HANDLE;
    case StandardStream::kOutput:
      return STD_OUTPUT_HANDLE;
    case StandardStream::kError:
      break;
  }
  return STD_ERROR_HANDLE;
}

// Turns console echo off for its lifetime.
class EchoOff {
 public:
  EchoOff() : input_(GetStdHandle(STD_INPUT_HANDLE)) {
    if (GetConsoleMode(input_, &saved_) == 0) return;
    active_ = SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
  }
  ~EchoOff() {
    if (!active_) return;
    SetConsoleMode(input_, saved_);
    std::fputs("\n", stderr);  // the user's Enter was not echoed
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  HANDLE input_;
  DWORD saved_ = 0;
  bool active_ = false;
};

// The C library's writes end in WriteFile, whose error GetLastError() still
// holds; a pipe without a reader reports ERROR_NO_DATA or ERROR_BROKEN_PIPE.
WriteFailure Failure(DWORD error) {
  const bool closed = error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;
  return WriteFailure{closed,
                      core::DescribeOsError(error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error)};
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(HandleId(stream)), &mode) != 0;
}

std::optional<WriteFailure> WriteStandard(StandardStream stream, std::string_view text) {
  std::FILE* file = stream == StandardStream::kOutput ? stdout : stderr;
  if (!IsTerminal(stream)) {
    SetLastError(ERROR_SUCCESS);
    if (std::fwrite(text.data(), 1, text.size(), file) == text.size()) return std::nullopt;
    return Failure(GetLastError());
  }
  if (std::fflush(file) != 0) return Failure(GetLastError());
  const std::wstring wide = core::ToWide(text);
  const HANDLE handle = GetStdHandle(HandleId(stream));
  std::size_t done = 0;
  while (done < wide.size()) {
    // WriteConsoleW takes a DWORD count; large texts go in pieces.
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 16384));
    DWORD written = 0;
    if (WriteConsoleW(handle, wide.data() + done, piece, &written, nullptr) == 0 || written == 0) {
      return Failure(GetLastError());
    }
    done += written;
  }
  return std::nullopt;
}

std::optional<WriteFailure> FlushStandard(StandardStream stream) {
  SetLastError(ERROR_SUCCESS);
  if (std::fflush(stream == StandardStream::kOutput ? stdout : stderr) == 0) return std::nullopt;
  return Failure(GetLastError());
}

bool TerminalTakesUtf8(StandardStream stream) { return IsTerminal(stream); }

void PrepareStandardStreams() { _setmode(_fileno(stdout), _O_BINARY); }

void KeepMemoryOutOfCoreFiles() {}

void ReturnLargeBuffersWhenFreed() {}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 1; i < count; ++i) arguments.push_back(core::FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
  }
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

core::Result<std::string> ReadInputLine(std::string_view prompt, bool hide_echo) {
  if (!IsTerminal(StandardStream::kInput)) return ReadLineFromStdin();
  std::optional<EchoOff> echo_off;
  if (hide_echo) echo_off.emplace();
  WriteStandard(StandardStream::kError, prompt);
  return ReadLineFromStdin();
}

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return {};
  return core::FromWide(std::wstring_view(buffer.data(), length));
}

}  // namespace kestrune::cli
