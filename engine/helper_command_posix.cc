#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "core/os_error.h"
#include "engine/helper_command.h"

extern char** environ;

namespace kestrune::engine {
namespace {

// Kills the child if it still runs and reaps it, so that no helper outlives
// a refusal.
void KillAndReap(pid_t pid) {
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

core::Result<CommandOutput> RunHelperCommand(const std::vector<std::string>& words,
                                             std::chrono::milliseconds time_limit,
                                             std::size_t output_limit) {
  const std::string& program = words.front();
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return core::OsError("cannot make a pipe", errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  std::vector<std::string> texts(words);
  std::vector<char*> argv;
  argv.reserve(texts.size() + 1);
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  if (spawned != 0) {
    close(output[0]);
    return core::OsError("cannot start " + program, spawned);
  }

  const auto deadline = std::chrono::steady_clock::now() + time_limit;
  const auto left = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
  };
  CommandOutput result;
  core::Status failure = core::Status::Ok();
  for (;;) {
    if (left().count() <= 0) {
      failure = HelperOverdue(program, time_limit);
      break;
    }
    pollfd readable{output[0], POLLIN, 0};
    const int ready = poll(&readable, 1, static_cast<int>(left().count()));
    if (ready < 0 && errno != EINTR) {
      failure = core::OsError("cannot read the output of " + program, errno);
      break;
    }
    if (ready <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(output[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failure = core::OsError("cannot read the output of " + program, errno);
      break;
    }
    if (got == 0) break;
    if (result.output.size() + static_cast<std::size_t>(got) > output_limit) {
      failure = core::Status::Error(program + " wrote more than " + std::to_string(output_limit) +
                                    " bytes and was stopped");
      break;
    }
    result.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(output[0]);
  if (!failure.ok()) {
    KillAndReap(pid);
    return failure;
  }
  // The output has ended; the program itself gets what is left of its time.
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
      } else {
        return core::Status::Error(program + " ended by signal " +
                                   std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0));
      }
      return result;
    }
    if (done < 0 && errno != EINTR) return core::OsError("cannot wait for " + program, errno);
    if (left().count() <= 0) {
      KillAndReap(pid);
      return HelperOverdue(program, time_limit);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace kestrune::engine
