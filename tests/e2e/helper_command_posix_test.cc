// A credential helper program is bounded: one that never ends is stopped at
// the time limit, one that writes without end at the output limit, and the
// words reach it as the command line split them (the output shows each word
// apart).
#include "engine/helper_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune::engine {
namespace {

TEST(HelperCommandTest, WordsArriveSplitAndRunawayProgramsAreStopped) {
  const std::vector<std::string> words = SplitCommand("  printf \t%s| a  b\t");
  const core::Result<CommandOutput> printed =
      RunHelperCommand(words, std::chrono::seconds(10), 100);
  ASSERT_TRUE(printed.ok()) << printed.status().message();
  EXPECT_EQ(printed->output, "a|b|");

  const core::Result<CommandOutput> hung =
      RunHelperCommand({"sleep", "30"}, std::chrono::milliseconds(300), 100);
  ASSERT_FALSE(hung.ok());
  EXPECT_EQ(hung.status().message(), "sleep did not finish within 300 ms and was stopped");

  const core::Result<CommandOutput> flood =
      RunHelperCommand({"yes"}, std::chrono::seconds(10), 1000);
  ASSERT_FALSE(flood.ok());
  EXPECT_EQ(flood.status().message(), "yes wrote more than 1000 bytes and was stopped");
}

}  // namespace
}  // namespace kestrune::engine
