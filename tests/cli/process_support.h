// Test support on POSIX: running a program with given arguments, environment,
// input and working directory, the local simulator started for a test on
// 127.0.0.1 with a free port, its request log kept in a file, and CallTest,
// the fixture of the tests that run kestrune against such a simulator.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "test_console.h"
#include "tests/support/secret_audit.h"

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

// For tests that run kestrune, in this process and as a program, against
// simulators they start. Every test is audited: no secret it holds, right or
// wrong, shows on a standard stream (this process's and its children's), in a
// run's output, errors, prompts or trace, in the simulator's output and log,
// or in a file the program wrote other than "sign".
class CallTest : public ::testing::Test {
 protected:
  static constexpr char kId[] = "cli-test-id";
  static constexpr char kSecret[] = "cli-test-secret-9f2c";
  // Secrets the tests use on purpose besides their own.
  static constexpr char kWrongSecret[] = "not-the-secret";           // SignatureDoesNotMatch
  static constexpr char kRawWrongSecret[] = "wrong-secret-for-raw";  // the same, for --raw
  static constexpr char kOtherSecret[] = "other-secret";         // a file the environment overrides
  static constexpr char kTypedSecret[] = "typed-secret";         // typed at the prompt
  static constexpr char kColonIdSecret[] = "colon-id-secret";    // typed for an id that is refused
  static constexpr char kDemoSecret[] = "kestrune-demo-secret";  // the demo's key pair

  // One character over the longest secret the program takes.
  static std::string OverLongSecret() {
    std::string secret = "over-long-typed-secret-";
    secret.resize(49, 'x');
    return secret;
  }

  void SetUp() override {
    start_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(work_.path());  // where "sign" is looked for
  }

  void TearDown() override {
    std::filesystem::current_path(start_dir_);
    audit_.CheckFilesUnder(work_.path());
    for (const auto& console : consoles_) {
      audit_.CheckText("a run's output", console->out);
      audit_.CheckText("a run's errors", console->err);
      audit_.CheckLines("a run's trace", console->trace.lines());
      for (const auto& prompt : console->prompts) audit_.CheckText("a prompt", prompt.first);
    }
    for (const ProgramRun& run : runs_) {
      audit_.CheckText("the program's standard output", run.out);
      audit_.CheckText("the program's standard error", run.err);
    }
    for (const auto& simulator : simulators_) {
      audit_.CheckText("the simulator's output and log", simulator->Output());
    }
    audit_.Finish();
  }

  // A simulator that knows the test's key pair (or, without `test_key`, only
  // its default demo pair); the latest one is the one Call() aims at.
  Simulator& Sim(std::vector<std::string> arguments = {}, bool test_key = true) {
    if (test_key) {
      arguments.push_back("--access-key");
      arguments.push_back(std::string(kId) + ":" + kSecret);
    }
    simulators_.push_back(std::make_unique<Simulator>(arguments));
    simulator_ = simulators_.back().get();
    EXPECT_TRUE(simulator_->started());
    return *simulator_;
  }

  // A console whose environment holds the test's key pair.
  TestConsole& Console(bool with_credentials = true) {
    consoles_.push_back(std::make_unique<TestConsole>());
    TestConsole& console = *consoles_.back();
    if (with_credentials) {
      console.env["ALIBABA_CLOUD_ACCESS_KEY_ID"] = kId;
      console.env["ALIBABA_CLOUD_ACCESS_KEY_SECRET"] = kSecret;
    }
    return console;
  }

  int Call(TestConsole& console, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "call");
    arguments.push_back("--endpoint");
    arguments.push_back(simulator_->address());
    return RunKestrune(console, arguments);
  }

  ProgramRun RunBinary(const std::vector<std::string>& arguments, ProgramOptions options = {}) {
    if (options.working_dir.empty()) options.working_dir = work_.path();
    runs_.push_back(RunProgram(KESTRUNE_CLI_PATH, arguments, options));
    return runs_.back();
  }

  // Proves that nothing reached the simulator so far: a good request now is
  // the first and only one in its log.
  void ExpectNothingSentSoFar() {
    TestConsole& probe = Console();
    ASSERT_EQ(Call(probe, {"ecs", "DescribeRegions"}), kExitOk) << probe.err;
    const std::vector<std::string> log = simulator_->WaitForRequests(1);
    ASSERT_EQ(log.size(), 1u) << (log.empty() ? "" : log[0]);
    EXPECT_TRUE(Contains(log[0], "DescribeRegions")) << log[0];
  }

  TempDir work_;
  std::filesystem::path start_dir_;
  std::vector<std::unique_ptr<Simulator>> simulators_;
  Simulator* simulator_ = nullptr;
  std::vector<std::unique_ptr<TestConsole>> consoles_;
  std::vector<ProgramRun> runs_;
  testsupport::SecretAudit audit_{{kSecret, kWrongSecret, kRawWrongSecret, kOtherSecret,
                                   kTypedSecret, kColonIdSecret, kDemoSecret, OverLongSecret()}};
};

}  // namespace kestrune::cli::clitest
