#include <malloc.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "core/os_error.h"

namespace kestrune::cli {
namespace {

int Descriptor(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput:
      return STDIN_FILENO;
    case StandardStream::kOutput:
      return STDOUT_FILENO;
    case StandardStream::kError:
      break;
  }
  return STDERR_FILENO;
}

// Turns terminal echo off for its lifetime.
class EchoOff {
 public:
  EchoOff() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    // TCSANOW: input typed ahead stays in the queue for the read.
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

WriteFailure Failure(int error) {
  return WriteFailure{error == EPIPE, core::DescribeOsError(error == 0 ? EIO : error)};
}

}  // namespace

bool IsTerminal(StandardStream stream) { return isatty(Descriptor(stream)) == 1; }

std::optional<WriteFailure> WriteStandard(StandardStream stream, std::string_view text) {
  std::FILE* file = stream == StandardStream::kOutput ? stdout : stderr;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file) == text.size()) return std::nullopt;
  return Failure(errno);
}

std::optional<WriteFailure> FlushStandard(StandardStream stream) {
  std::FILE* file = stream == StandardStream::kOutput ? stdout : stderr;
  errno = 0;
  if (std::fflush(file) == 0) return std::nullopt;
  return Failure(errno);
}

bool TerminalTakesUtf8(StandardStream) { return false; }

void PrepareStandardStreams() {}

void KeepMemoryOutOfCoreFiles() {
  const rlimit none{0, 0};
  (void)::setrlimit(RLIMIT_CORE, &none);
  (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void ReturnLargeBuffersWhenFreed() {
  // A fixed threshold also turns glibc's raising of it off.
  constexpr int kSeparateMappingFrom = 256 * 1024;
  (void)::mallopt(M_MMAP_THRESHOLD, kSeparateMappingFrom);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

core::Result<std::string> ReadInputLine(std::string_view prompt, bool hide_echo) {
  if (!IsTerminal(StandardStream::kInput)) return ReadLineFromStdin();
  std::optional<EchoOff> echo_off;
  if (hide_echo) echo_off.emplace();
  std::fflush(stdout);
  std::fwrite(prompt.data(), 1, prompt.size(), stderr);
  return ReadLineFromStdin();
}

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

}  // namespace kestrune::cli
