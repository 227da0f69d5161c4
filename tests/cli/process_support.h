// Test support on POSIX: running a program with given arguments, environment,
// input and working directory, and the local simulator started for a test on
// 127.0.0.1 with a free port, its request log kept in a file.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::cli::clitest {

struct ProgramRun {
  int exit_code = -1;  // -1 when the program did not end normally
  std::string out;
  std::string err;
};

struct ProgramOptions {
  // Variables set (or, with nullopt, removed) on top of this process's
  // environment.
  std::map<std::string, std::optional<std::string>> env;
  std::string input;        // fed to standard input, then closed
  std::string working_dir;  // "" keeps the current one
  std::chrono::milliseconds timeout{20000};
};

// Runs `program` to its end (killing it after the time-out).
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options = {});

// A fresh temporary directory, removed with its files when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Checks `condition` every few milliseconds until it holds (true) or
// `timeout` has passed (false).
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Appends what `fd` delivers to `text` until `wanted` appears in it, the
// stream ends or `timeout` passes.
void ReadUntil(int fd, std::string& text, std::string_view wanted,
               std::chrono::milliseconds timeout);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// kestrune-sim on 127.0.0.1, port 0, with the given extra arguments. The
// constructor waits for its "listening on" line; the destructor stops it.
class Simulator {
 public:
  explicit Simulator(const std::vector<std::string>& arguments);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool started() const { return port_ != 0; }
  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // The request-log lines so far (one per request the simulator received).
  std::vector<std::string> RequestLog() const;
  // Everything the simulator wrote so far: its banner and its whole log,
  // including lines that are not about requests.
  std::string Output() const;
  // Waits (bounded) until the log holds at least `count` lines; returns them.
  std::vector<std::string> WaitForRequests(
      std::size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) const;
  // Waits (bounded) until `count` requests got a good reply; returns how many
  // did. A request refused for a used nonce is sent again, so the log may
  // hold more lines than requests were made.
  std::size_t WaitForAnswered(
      std::size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) const;

 private:
  TempDir dir_;
  std::string banner_;
  int pid_ = -1;
  int port_ = 0;
};

// Sends `text` over a new TCP connection to 127.0.0.1:port and returns every
// byte of the answer (until the server closes), or "" on failure.
std::string ExchangeRaw(int port, const std::string& text);

// A port on 127.0.0.1 that nothing listens on (bound, then released).
int ClosedPort();

}  // namespace kestrune::cli::clitest
