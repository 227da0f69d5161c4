// The shell completion scripts, made from the option table; the bash one is
// run here as bash runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "tests/cli/process_support.h"

namespace kestrune::cli {
namespace {

std::vector<std::string> Sorted(std::vector<std::string> words) {
  std::sort(words.begin(), words.end());
  return words;
}

TEST(CompletionTest, EveryShellFollowsTheOptionTable) {
  for (const std::string shell : {"zsh", "fish", "powershell"}) {
    const core::Result<std::string> script = CompletionScript(shell);
    ASSERT_TRUE(script.ok()) << shell;
    for (const OptionEntry& entry : Options()) {
      const std::string name(entry.name);
      const std::string spelled = shell == "fish"         ? " -l " + name + " "
                                  : shell == "powershell" ? "'--" + name + "'"
                                                          : "--" + name + " ";
      EXPECT_TRUE(entry.hidden || script->find(spelled) != std::string::npos) << shell << name;
    }
  }
  // Bash: each subcommand offers the options it takes; after an option that
  // takes a value comes that value, and the word after it is an operand again.
  clitest::TempDir home;
  std::filesystem::create_directories(home.File(".aliyun"));
  clitest::WriteFile(home.File(".aliyun/config.json"),
                     R"({"profiles": [{"name": "alpha"}, {"name": "beta"}]})");
  clitest::WriteFile(home.File("kestrune.bash"), CompletionScript("bash").value());
  std::string driver =
      "source kestrune.bash\nat() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _kestrune;"
      " echo \"${COMPREPLY[*]}\"; }\n";
  std::vector<std::vector<std::string>> expected;
  auto ask = [&](const std::string& words, const std::vector<std::string>& offered) {
    driver += "at kestrune " + words + "\n";
    expected.push_back(Sorted(offered));
  };
  std::vector<std::string> subcommands;
  for (int i = 0; i <= static_cast<int>(Subcommand::kCompletion); ++i) {
    const auto subcommand = static_cast<Subcommand>(i);
    std::vector<std::string> options;
    for (const OptionEntry& entry : Options()) {
      if (!entry.hidden && AppliesTo(entry, subcommand))
        options.push_back("--" + std::string(entry.name));
    }
    ask(std::string(SubcommandName(subcommand)) + " --", options);
    if (subcommand != Subcommand::kNone) subcommands.emplace_back(SubcommandName(subcommand));
  }
  for (const OptionEntry& entry : Options()) {
    const std::vector<std::string_view> choices = ChoicesOf(entry);
    if (!choices.empty())
      ask("call --" + std::string(entry.name) + " ''", {choices.begin(), choices.end()});
  }
  ask("call --profile ''", {"alpha", "beta"});
  ask("call --profile alpha ''", {"ecs", "iot", "apigateway"});
  ask("--region cn-hangzhou --endpoint h ''", subcommands);
  clitest::ProgramOptions options;
  options.env["HOME"] = home.path();
  options.working_dir = home.path();
  const clitest::ProgramRun run = clitest::RunProgram("/bin/bash", {"-c", driver}, options);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::istringstream lines(run.out);
  for (const std::vector<std::string>& wanted : expected) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    std::istringstream words(line);
    EXPECT_EQ(Sorted({std::istream_iterator<std::string>(words), {}}), wanted) << line;
  }
}

}  // namespace
}  // namespace kestrune::cli
