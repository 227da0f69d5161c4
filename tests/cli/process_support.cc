#include "process_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>
#include <utility>

namespace kestrune::cli::clitest {
namespace {

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A proxy of the machine running the tests must not come between the
// program and the test's own loopback servers (a test sets its own), nor may
// the machine's default region change what a request carries.
constexpr std::array<std::string_view, 7> kDroppedVariables = {"http_proxy",
                                                               "https_proxy",
                                                               "all_proxy",
                                                               "HTTP_PROXY",
                                                               "HTTPS_PROXY",
                                                               "ALL_PROXY",
                                                               "ALIBABA_CLOUD_REGION_ID"};

// A program, its arguments and its environment, all made before fork: the
// child of a process with threads may only make async-signal-safe calls
// until it execs, since another thread may have held the allocator's lock.
class ExecImage {
 public:
  ExecImage(const std::string& program, const std::vector<std::string>& arguments,
            const std::map<std::string, std::optional<std::string>>& changes = {})
      : texts_{program} {
    texts_.insert(texts_.end(), arguments.begin(), arguments.end());
    const std::size_t argument_count = texts_.size();
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      const std::string name(text.substr(0, text.find('=')));
      if (!changes.contains(name) && std::find(kDroppedVariables.begin(), kDroppedVariables.end(),
                                               name) == kDroppedVariables.end()) {
        texts_.emplace_back(text);
      }
    }
    for (const auto& [name, value] : changes) {
      if (value) texts_.push_back(name + "=" + *value);
    }
    for (std::size_t i = 0; i < texts_.size(); ++i) {
      (i < argument_count ? argv_ : envp_).push_back(texts_[i].data());
    }
    argv_.push_back(nullptr);
    envp_.push_back(nullptr);
  }
  // The pointers lead into texts_: a copy would point into the original.
  ExecImage(const ExecImage&) = delete;
  ExecImage& operator=(const ExecImage&) = delete;

  // Replaces this (forked) process.
  [[noreturn]] void Exec() const {
    execve(argv_[0], argv_.data(), envp_.data());
    _exit(127);
  }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options) {
  int in_pipe[2];
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return {};
  const ExecImage image(program, arguments, options.env);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
      close(fd);
    }
    if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0) _exit(126);
    image.Exec();
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  signal(SIGPIPE, SIG_IGN);
  WriteAll(in_pipe[1], options.input);
  close(in_pipe[1]);

  ProgramRun run;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_streams = 2;
  bool killed = false;
  while (open_streams > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  run.exit_code = WaitExit(pid);
  if (killed) run.exit_code = -1;
  return run;
}

TempDir::TempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "kestrune-cli-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void ReadUntil(int fd, std::string& text, std::string_view wanted,
               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (text.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return;  // the stream has ended
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

Simulator::Simulator(const std::vector<std::string>& arguments) {
  int out_pipe[2];
  if (pipe(out_pipe) != 0) return;
  const std::string log_path = dir_.File("requests.log");
  std::vector<std::string> all = {"--port", "0"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  const ExecImage image(KESTRUNE_SIM_PATH, all);
  const pid_t pid = fork();
  if (pid == 0) {
    const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null_input = open("/dev/null", O_RDONLY);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    dup2(null_input, STDIN_FILENO);
    close(out_pipe[0]);
    close(out_pipe[1]);
    image.Exec();
  }
  close(out_pipe[1]);
  pid_ = pid;
  std::string banner;
  ReadUntil(out_pipe[0], banner, "\n", std::chrono::seconds(10));
  close(out_pipe[0]);
  const std::string prefix = "listening on 127.0.0.1:";
  if (banner.rfind(prefix, 0) == 0) port_ = std::atoi(banner.c_str() + prefix.size());
  banner_ = std::move(banner);
}

Simulator::~Simulator() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  if (!WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) != 0; }, std::chrono::seconds(3))) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
}

std::vector<std::string> Simulator::RequestLog() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(dir_.File("requests.log")));
  std::string line;
  const std::string prefix = "kestrune-sim: ";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) != 0 || line.find("stopped (") != std::string::npos ||
        line.rfind("connection #", prefix.size()) == prefix.size()) {
      continue;
    }
    lines.push_back(line.substr(prefix.size()));
  }
  return lines;
}

std::string Simulator::Output() const { return banner_ + ReadFile(dir_.File("requests.log")); }

std::vector<std::string> Simulator::WaitForRequests(std::size_t count,
                                                    std::chrono::milliseconds timeout) const {
  std::vector<std::string> lines;
  WaitUntil([&] { return (lines = RequestLog()).size() >= count; }, timeout);
  return lines;
}

std::size_t Simulator::WaitForAnswered(std::size_t count, std::chrono::milliseconds timeout) const {
  std::size_t answered = 0;
  WaitUntil(
      [&] {
        answered = 0;
        for (const std::string& line : RequestLog()) answered += line.ends_with(" ok 200");
        return answered >= count;
      },
      timeout);
  return answered;
}

std::string ExchangeRaw(int port, const std::string& text) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return {};
  timeval limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address = Loopback(port);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    WriteAll(fd, text);
    char buffer[4096];
    for (;;) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      reply.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return reply;
}

int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

}  // namespace kestrune::cli::clitest
