// The shell completion scripts, made from the option table; the bash one is
// run here as bash runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "tests/cli/process_support.h"

namespace kestrune::cli {
namespace {

std::vector<std::string> SortedWords(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  std::sort(words.begin(), words.end());
  return words;
}

TEST(CompletionTest, EveryShellFollowsTheOptionTable) {
  for (std::string_view shell : {"zsh", "fish", "powershell"}) {
    const core::Result<std::string> script = CompletionScript(shell);
    ASSERT_TRUE(script.ok()) << shell;
    for (const OptionSpec& spec : Options()) {
      if (spec.hidden) continue;
      const std::string name(spec.name);
      const std::string spelled = shell == "fish"         ? " -l " + name + " "
                                  : shell == "powershell" ? "'--" + name + "'"
                                                          : "--" + name + " ";
      EXPECT_NE(script->find(spelled), std::string::npos) << shell << ": " << name;
    }
  }
  EXPECT_FALSE(CompletionScript("tcsh").ok());

  // Bash: each subcommand offers the options it takes; after an option that
  // takes a value comes that value, and the word after it is an operand again.
  clitest::TempDir home;
  std::filesystem::create_directories(home.File(".aliyun"));
  clitest::WriteFile(home.File(".aliyun/config.json"),
                     R"({"current": "alpha", "profiles": [{"name": "alpha", "mode": "AK"},
                         {"name": "beta", "mode": "StsToken"}]})");
  const core::Result<std::string> bash = CompletionScript("bash");
  ASSERT_TRUE(bash.ok());
  clitest::WriteFile(home.File("kestrune.bash"), *bash);
  std::string driver = "source kestrune.bash\n";
  driver +=
      "at() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _kestrune;"
      " echo \"${COMPREPLY[*]}\"; }\n";
  std::vector<std::vector<std::string>> expected;
  auto ask = [&](const std::string& words, std::vector<std::string> offered) {
    driver += "at kestrune " + words + "\n";
    std::sort(offered.begin(), offered.end());
    expected.push_back(std::move(offered));
  };
  for (Subcommand subcommand : {Subcommand::kNone, Subcommand::kList, Subcommand::kCall,
                                Subcommand::kSample, Subcommand::kCredentials, Subcommand::kDemo,
                                Subcommand::kDoctor, Subcommand::kHelp, Subcommand::kCompletion}) {
    std::vector<std::string> options;
    for (const OptionSpec& spec : Options()) {
      if (!spec.hidden && AppliesTo(spec, subcommand))
        options.push_back("--" + std::string(spec.name));
    }
    ask(std::string(SubcommandName(subcommand)) + " --", options);
  }
  for (const OptionSpec& spec : Options()) {
    if (spec.value != ValueKind::kChoice) continue;
    const std::vector<std::string_view> words = ChoicesOf(spec);
    std::vector<std::string> choices(words.begin(), words.end());
    ask("call --" + std::string(spec.name) + " ''", choices);
  }
  ask("call --profile ''", {"alpha", "beta"});
  ask("call --profile alpha ''", {"ecs", "iot", "apigateway"});
  std::vector<std::string> subcommands;
  for (const SubcommandSpec& spec : Subcommands()) subcommands.emplace_back(spec.name);
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
    EXPECT_EQ(SortedWords(line), wanted) << line;
  }
}

}  // namespace
}  // namespace kestrune::cli
