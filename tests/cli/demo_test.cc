// `kestrune demo`: the tour against the simulator it starts or one it is
// given, and no simulator left behind when it is killed. Audited.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "process_support.h"

namespace kestrune::cli::clitest {
namespace {

TEST_F(CallTest, DemoStartsItsSimulatorAndTakesTheTour) {
  ProgramOptions options;
  options.env = {{"KESTRUNE_SIM", KESTRUNE_SIM_PATH}};
  const ProgramRun demo = RunBinary({"demo"}, options);
  ASSERT_EQ(demo.exit_code, kExitOk) << demo.out << demo.err;
  std::vector<std::string> headings;
  for (const std::string& line : Lines(demo.out)) {
    if (line.rfind("== ", 0) == 0) headings.push_back(line);
  }
  ASSERT_EQ(headings.size(), 5u) << demo.out;
  EXPECT_EQ(headings[0], "== DescribeRegions ==");
  EXPECT_EQ(headings[1], "== DescribeZones RegionId=cn-hangzhou ==");
  EXPECT_EQ(headings[2], "== DescribeInstanceStatus RegionId=cn-hangzhou ==");
  EXPECT_EQ(headings[3].rfind("== StopInstance InstanceId=", 0), 0u);
  EXPECT_EQ(headings[4], headings[2]);
  // The stopped instance is no longer running in the last status.
  const std::string instance = headings[3].substr(
      std::string("== StopInstance InstanceId=").size(),
      headings[3].size() - std::string("== StopInstance InstanceId=").size() - 3);
  const std::string last = demo.out.substr(demo.out.rfind(headings[4]));
  const std::vector<std::string> rows = Lines(last);
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    if (rows[i] == "InstanceId\t" + instance) {
      EXPECT_NE(rows[i + 1], "Status\tRunning") << last;
    }
  }
  EXPECT_TRUE(Contains(demo.out, "InstanceId\t" + instance));
}

TEST_F(CallTest, AnInterruptedDemoLeavesNoSimulatorBehind) {
  // A stand-in for the simulator that notes its process id and holds every
  // reply back, so the tour is still running when the program is killed.
  const std::string pid_file = work_.File("sim.pid");
  const std::string wrapper = work_.File("slow-sim");
  WriteFile(wrapper, "#!/bin/sh\necho $$ > '" + pid_file + "'\nexec '" + KESTRUNE_SIM_PATH +
                         "' \"$@\" --fault delay=20000\n");
  ASSERT_EQ(chmod(wrapper.c_str(), 0700), 0);

  // What the demo writes goes to a file of the test's directory, for the audit.
  const std::string output_file = work_.File("demo-output");
  const pid_t demo = fork();
  if (demo == 0) {
    const int output = open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    setenv("KESTRUNE_SIM", wrapper.c_str(), 1);
    execl(KESTRUNE_CLI_PATH, KESTRUNE_CLI_PATH, "demo", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(demo, 0);
  pid_t simulator = 0;
  WaitUntil(
      [&] {
        const std::string text = ReadFile(pid_file);
        if (!text.empty() && text.back() == '\n') simulator = std::atoi(text.c_str());
        return simulator != 0;
      },
      std::chrono::seconds(10));
  ASSERT_GT(simulator, 0);
  // The demo names its simulator's address once it is up, as the tour begins.
  EXPECT_TRUE(
      WaitUntil([&] { return Contains(ReadFile(output_file), "demo against the simulator"); },
                std::chrono::seconds(10)));
  kill(demo, SIGKILL);
  waitpid(demo, nullptr, 0);

  // The simulator goes with it (a process that is gone or a zombie no longer runs).
  auto running = [simulator]() {
    const std::string stat = ReadFile("/proc/" + std::to_string(simulator) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
  };
  EXPECT_TRUE(WaitUntil([&] { return !running(); }, std::chrono::seconds(5)));
  if (running()) kill(simulator, SIGKILL);
}

// Runs the program with `arguments` and `variables` (its output into
// `output_file`), sends it Ctrl-C's signal once `ready` holds, and returns
// how it ended as a shell reports it (128 + the signal for a signal).
int InterruptWhen(const std::vector<std::string>& arguments,
                  const std::vector<std::pair<std::string, std::string>>& variables,
                  const std::string& output_file, const std::function<bool()>& ready) {
  const pid_t child = fork();
  if (child == 0) {
    const int output = open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    for (const auto& [name, value] : variables) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv = {const_cast<char*>(KESTRUNE_CLI_PATH)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(KESTRUNE_CLI_PATH, argv.data());
    _exit(127);
  }
  EXPECT_TRUE(WaitUntil(ready, std::chrono::seconds(10)));
  kill(child, SIGINT);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Ctrl-C prints the regions of a fan-out that have answered, and a demo over
// HTTPS leaves no private key behind.
TEST_F(CallTest, CtrlCShowsWhatCameAndLeavesNoKeyBehind) {
  Simulator& sim = Sim({"--latency-region", "cn-beijing=20000"});
  const std::string fan_out = work_.File("fan-out");
  EXPECT_EQ(InterruptWhen({"call", "ecs", "DescribeZones", "--regions",
                           "cn-hangzhou,cn-beijing,cn-shanghai", "--endpoint", sim.address()},
                          {{"ALIBABA_CLOUD_ACCESS_KEY_ID", kId},
                           {"ALIBABA_CLOUD_ACCESS_KEY_SECRET", kSecret}},
                          fan_out,
                          [&] {
                            // The simulator logs a request as it holds its
                            // reply back; the others' replies take a moment.
                            if (sim.WaitForAnswered(3) != 3) return false;
                            std::this_thread::sleep_for(std::chrono::milliseconds(500));
                            return true;
                          }),
            130);
  const std::string shown = ReadFile(fan_out);
  EXPECT_TRUE(Contains(shown, "Region\tcn-hangzhou\n")) << shown;
  EXPECT_TRUE(Contains(shown, "Region\tcn-shanghai\n")) << shown;
  EXPECT_FALSE(Contains(shown, "cn-beijing")) << shown;
  EXPECT_TRUE(Contains(shown, "kestrune: interrupted: 2 of 3 regions had answered")) << shown;

  const TempDir temporary;
  const std::string wrapper = work_.File("slow-sim");
  WriteFile(wrapper, "#!/bin/sh\nexec '" + std::string(KESTRUNE_SIM_PATH) +
                         "' \"$@\" --fault delay=20000\n");
  ASSERT_EQ(chmod(wrapper.c_str(), 0700), 0);
  const std::string demo = work_.File("demo");
  EXPECT_EQ(
      InterruptWhen({"demo", "--tls"}, {{"KESTRUNE_SIM", wrapper}, {"TMPDIR", temporary.path()}},
                    demo, [&] { return Contains(ReadFile(demo), "demo against the simulator"); }),
      128 + SIGINT);
  EXPECT_TRUE(std::filesystem::is_empty(temporary.path()));
}

TEST_F(CallTest, DemoAgainstAGivenSimulator) {
  Simulator& sim = Sim({}, false);  // the demo key pair is the simulator's default
  ASSERT_TRUE(sim.started());
  TestConsole& console = Console(false);
  ASSERT_EQ(RunKestrune(console, {"demo", "--endpoint", sim.address(), "--region", "cn-beijing"}),
            kExitOk)
      << console.err;
  EXPECT_TRUE(Contains(console.out, "== DescribeZones RegionId=cn-beijing =="));
  EXPECT_EQ(sim.WaitForAnswered(5), 5u);
  // Without a simulator to find it says what to do, and sends nothing.
  TestConsole& lost = Console(false);
  lost.env["KESTRUNE_SIM"] = work_.File("no-such-program");
  EXPECT_EQ(RunKestrune(lost, {"demo"}), kExitUsage);
  EXPECT_EQ(LineCount(lost.err), 1u);
}

}  // namespace
}  // namespace kestrune::cli::clitest
