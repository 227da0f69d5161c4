// `kestrune credentials`: the file it writes, which the next call uses, its
// refusals, and a secret typed at a terminal, which is not echoed. Audited.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "process_support.h"

namespace kestrune::cli::clitest {
namespace {

TEST_F(CallTest, CredentialsSubcommandWritesTheFileTheNextCallUses) {
  Sim();
  TestConsole& writer = Console(false);
  writer.input = {kSecret};
  ASSERT_EQ(RunKestrune(writer, {"credentials", kId}), kExitOk) << writer.err;
  ASSERT_EQ(writer.prompts.size(), 1u);
  EXPECT_TRUE(writer.prompts[0].second);  // the secret is read hidden
  EXPECT_EQ(ReadFile("sign"), std::string(kId) + ":" + kSecret);
  struct stat info {};
  ASSERT_EQ(stat("sign", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  TestConsole& caller = Console(false);
  EXPECT_EQ(Call(caller, {"ecs", "DescribeRegions"}), kExitOk) << caller.err;

  TestConsole& prompted = Console(false);
  // The file is there now: replacing it is asked first.
  prompted.input = {"typed-id", "y", kTypedSecret};
  ASSERT_EQ(RunKestrune(prompted, {"credentials"}), kExitOk);
  ASSERT_EQ(prompted.prompts.size(), 3u);
  EXPECT_FALSE(prompted.prompts[0].second);
  EXPECT_TRUE(Contains(prompted.prompts[1].first, "\"sign\" exists; replace it?"));
  EXPECT_TRUE(prompted.prompts[2].second);
  EXPECT_EQ(ReadFile("sign"), std::string("typed-id:") + kTypedSecret);

  // Refused input leaves the file as it was.
  for (const std::vector<std::string>& input : std::vector<std::vector<std::string>>{
           {}, {"n"}, {"", kTypedSecret}, {"y", ""}, {"y", OverLongSecret()}}) {
    TestConsole& refused = Console(false);
    refused.input = input;
    EXPECT_EQ(RunKestrune(refused, {"credentials", "another-id"}), kExitUsage);
    EXPECT_EQ(LineCount(refused.err), 1u);
  }
  TestConsole& colon = Console(false);
  colon.input = {kColonIdSecret};
  EXPECT_EQ(RunKestrune(colon, {"credentials", "a:b"}), kExitUsage);
  EXPECT_EQ(ReadFile("sign"), std::string("typed-id:") + kTypedSecret);
}

TEST_F(CallTest, TheSecretTypedAtATerminalIsNotEchoed) {
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (chdir(work_.path().c_str()) != 0) _exit(126);
    execl(KESTRUNE_CLI_PATH, KESTRUNE_CLI_PATH, "credentials", "pty-id",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(child, 0);
  std::string shown;  // what the terminal showed
  ReadUntil(terminal, shown, "AccessKey secret: ", std::chrono::seconds(10));
  ASSERT_TRUE(Contains(shown, "AccessKey secret: ")) << shown;
  const std::string typed = std::string(kSecret) + "\n";
  ASSERT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  ReadUntil(terminal, shown, "wrote the credential file", std::chrono::seconds(10));
  int status = 0;
  if (!WaitUntil([&] { return waitpid(child, &status, WNOHANG) != 0; }, std::chrono::seconds(5))) {
    kill(child, SIGKILL);  // still waiting for the line it never got
    waitpid(child, &status, 0);
  }
  close(terminal);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitOk) << shown;
  // The terminal is the child's own, not a captured stream: audit what it showed.
  audit_.CheckText("what the terminal showed", shown);
  EXPECT_EQ(ReadFile(work_.File("sign")), std::string("pty-id:") + kSecret);
}

// A crash must not leave the secret in a core file: in a child (the test
// process keeps its own settings), no core size and not dumpable.
TEST(CoreFileTest, MemoryIsKeptOutOfCoreFiles) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    KeepMemoryOutOfCoreFiles();
    rlimit core{};
    const bool none = ::getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur == 0 &&
                      core.rlim_max == 0 && ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0;
    ::_exit(none ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace kestrune::cli::clitest
