#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/process.h"

extern char** environ;

namespace kestrune::cli {

struct ChildProcess::State {
  pid_t pid = -1;
  int output = -1;
  std::string pending;  // bytes read past the last line handed out
  bool output_ended = false;
};

namespace {

core::Status SystemError(const std::string& what, int error) {
  return core::Status::Error(what + ": " + std::strerror(error));
}

}  // namespace

core::Result<ChildProcess> ChildProcess::Start(const std::string& program,
                                               const std::vector<std::string>& arguments,
                                               bool share_error_stream) {
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return SystemError("cannot make a pipe", errno);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!share_error_stream) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }

  std::vector<std::string> texts;
  texts.reserve(arguments.size() + 1);
  texts.push_back(program);
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(texts.size() + 1);
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (spawned != 0) {
    close(pipe_ends[0]);
    return SystemError("cannot start " + program, spawned);
  }
  auto state = std::make_unique<State>();
  state->pid = pid;
  state->output = pipe_ends[0];
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
    if (ready < 0 && errno != EINTR) return SystemError("cannot wait for output", errno);
    if (ready <= 0) continue;
    char buffer[512];
    const ssize_t got = read(state_->output, buffer, sizeof buffer);
    if (got < 0 && errno != EINTR) return SystemError("cannot read output", errno);
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
