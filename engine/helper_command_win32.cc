#include <windows.h>

#include <thread>

#include "core/os_error.h"
#include "core/wide_text.h"
#include "engine/helper_command.h"

namespace kestrune::engine {
namespace {

// Closes a handle when it goes out of scope.
struct OwnedHandle {
  HANDLE handle = nullptr;
  OwnedHandle() = default;
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// The words joined back into a command line. The words hold no spaces or
// tabs; a double quote or a backslash before one is escaped so that the
// program's own parser gives each word back as it was.
std::wstring CommandLineOf(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    std::size_t backslashes = 0;
    for (const char ch : word) {
      if (ch == '\\') {
        ++backslashes;
      } else {
        if (ch == '"') line.append(backslashes + 1, '\\');
        backslashes = 0;
      }
      line += ch;
    }
  }
  return core::ToWide(line);
}

}  // namespace

core::Result<CommandOutput> RunHelperCommand(const std::vector<std::string>& words,
                                             std::chrono::milliseconds time_limit,
                                             std::size_t output_limit) {
  const std::string& program = words.front();
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  OwnedHandle read_end;
  OwnedHandle write_end;
  if (!CreatePipe(&read_end.handle, &write_end.handle, &inherit, 0)) {
    return core::OsError("cannot make a pipe", static_cast<core::OsErrorCode>(GetLastError()));
  }
  SetHandleInformation(read_end.handle, HANDLE_FLAG_INHERIT, 0);
  OwnedHandle null_input;
  null_input.handle = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input.handle;
  startup.hStdOutput = write_end.handle;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  std::wstring command_line = CommandLineOf(words);
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &started)) {
    return core::OsError("cannot start " + program, static_cast<core::OsErrorCode>(GetLastError()));
  }
  OwnedHandle process;
  process.handle = started.hProcess;
  CloseHandle(started.hThread);
  CloseHandle(write_end.handle);  // the child holds its own copy
  write_end.handle = nullptr;

  const auto stop = [&](core::Status why) -> core::Result<CommandOutput> {
    TerminateProcess(process.handle, 1);
    WaitForSingleObject(process.handle, 5000);
    return why;
  };
  // Polled rather than read blocking, so that a child that neither writes nor
  // ends (or leaves the pipe to a grandchild) still meets the deadline.
  const auto deadline = std::chrono::steady_clock::now() + time_limit;
  CommandOutput result;
  bool ended = false;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(read_end.handle, nullptr, 0, nullptr, &available, nullptr)) {
      break;  // the write end is closed: the output is complete
    }
    if (available > 0) {
      char buffer[4096];
      DWORD got = 0;
      const DWORD want = available < sizeof buffer ? available : DWORD{sizeof buffer};
      if (!ReadFile(read_end.handle, buffer, want, &got, nullptr)) break;
      if (result.output.size() + got > output_limit) {
        return stop(core::Status::Error(program + " wrote more than " +
                                        std::to_string(output_limit) + " bytes and was stopped"));
      }
      result.output.append(buffer, got);
      continue;
    }
    if (ended) break;  // ended, and everything it wrote has been read
    ended = WaitForSingleObject(process.handle, 0) == WAIT_OBJECT_0;
    if (ended) continue;
    if (std::chrono::steady_clock::now() >= deadline)
      return stop(HelperOverdue(program, time_limit));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (WaitForSingleObject(process.handle, left.count() > 0 ? static_cast<DWORD>(left.count())
                                                           : 0) != WAIT_OBJECT_0) {
    return stop(HelperOverdue(program, time_limit));
  }
  DWORD code = 0;
  GetExitCodeProcess(process.handle, &code);
  result.exit_code = static_cast<int>(code);
  return result;
}

}  // namespace kestrune::engine
