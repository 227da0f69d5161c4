#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "cli/process.h"
#include "core/os_error.h"

namespace kestrune::cli {

struct ChildProcess::State {
  pid_t pid = -1;
  int output = -1;
  std::string pending;  // bytes read past the last line handed out
  bool output_ended = false;
};

core::Result<ChildProcess> ChildProcess::Start(const std::string& program,
                                               const std::vector<std::string>& arguments,
                                               bool share_error_stream) {
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return core::OsError("cannot make a pipe", errno);
  // Tells the parent why exec failed; closes unread when exec succeeds.
  int exec_error[2];
  if (pipe2(exec_error, O_CLOEXEC) != 0) {
    const int error = errno;
    close(output[0]);
    close(output[1]);
    return core::OsError("cannot make a pipe", error);
  }

  // Everything the child needs is prepared before fork: it only calls
  // async-signal-safe functions afterwards.
  std::vector<std::string> texts;
  texts.reserve(arguments.size() + 1);
  texts.push_back(program);
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(texts.size() + 1);
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid == 0) {
    // The helper must not outlive us, even when we are interrupted or killed
    // before Stop runs.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int null_input = open("/dev/null", O_RDONLY);
    if (null_input >= 0) dup2(null_input, STDIN_FILENO);
    dup2(output[1], STDOUT_FILENO);
    if (!share_error_stream) {
      const int null_output = open("/dev/null", O_WRONLY);
      if (null_output >= 0) dup2(null_output, STDERR_FILENO);
    }
    execv(program.c_str(), argv.data());
    const int error = errno;
    [[maybe_unused]] ssize_t ignored = write(exec_error[1], &error, sizeof error);
    _exit(127);
  }
  const int fork_error = errno;
  close(output[1]);
  close(exec_error[1]);
  if (pid < 0) {
    close(output[0]);
    close(exec_error[0]);
    return core::OsError("cannot start " + program, fork_error);
  }
  int exec_errno = 0;
  ssize_t got = 0;
  do {
    got = read(exec_error[0], &exec_errno, sizeof exec_errno);
  } while (got < 0 && errno == EINTR);
  close(exec_error[0]);
  if (got == static_cast<ssize_t>(sizeof exec_errno)) {
    close(output[0]);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return core::OsError("cannot start " + program, exec_errno);
  }
  auto state = std::make_unique<State>();
  state->pid = pid;
  state->output = output[0];
  return ChildProcess(std::move(state));
}

ChildProcess::ChildProcess(std::unique_ptr<State> state) : state_(std::move(state)) {}
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Stop();
    state_ = std::move(other.state_);
  }
  return *this;
}
ChildProcess::~ChildProcess() { Stop(); }

core::Result<std::string> ChildProcess::ReadOutputLine(std::chrono::milliseconds timeout) {
  if (!state_) return core::Status::Error("no process");
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (std::size_t end = state_->pending.find('\n'); end != std::string::npos) {
      std::string line = state_->pending.substr(0, end);
      state_->pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (state_->output_ended) return core::Status::Error("the program ended its output");
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return core::Status::Error("no line within the time allowed");
    pollfd readable{state_->output, POLLIN, 0};
    const int ready = poll(&readable, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return core::OsError("cannot wait for output", errno);
    if (ready <= 0) continue;
    char buffer[512];
    const ssize_t got = read(state_->output, buffer, sizeof buffer);
    if (got < 0 && errno != EINTR) return core::OsError("cannot read output", errno);
    if (got == 0) state_->output_ended = true;
    if (got > 0) state_->pending.append(buffer, static_cast<std::size_t>(got));
    // The program's own record of its requests stays bounded if it ever
    // writes more than a line without an end.
    if (state_->pending.size() > 65536) return core::Status::Error("the output line is too long");
  }
}

void ChildProcess::Stop(std::chrono::milliseconds grace) {
  if (!state_) return;
  if (state_->pid > 0) {
    kill(state_->pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    bool reaped = false;
    while (!reaped) {
      const pid_t done = waitpid(state_->pid, nullptr, WNOHANG);
      if (done == state_->pid || (done < 0 && errno != EINTR)) {
        reaped = true;
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!reaped) {
      kill(state_->pid, SIGKILL);
      while (waitpid(state_->pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    state_->pid = -1;
  }
  if (state_->output >= 0) {
    close(state_->output);
    state_->output = -1;
  }
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace kestrune::cli
