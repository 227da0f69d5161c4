// `kestrune list`, `--help`, `--version` and the usage errors that need no
// service, run in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>

#include "catalogue/catalogue.h"
#include "cli/options.h"
#include "nlohmann/json.hpp"
#include "test_console.h"
#include "transport/tls.h"

namespace kestrune::cli {
namespace {

using clitest::Contains;
using clitest::Lines;
using clitest::RunKestrune;
using clitest::TestConsole;

TEST(ListTest, ServicesWithTheirHostsAndVersions) {
  TestConsole console;
  ASSERT_EQ(RunKestrune(console, {"list"}), kExitOk);
  const std::vector<std::string> lines = Lines(console.out);
  ASSERT_EQ(lines.size(), catalogue::Services().size());
  const char* names[] = {"ecs", "iot", "apigateway"};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const catalogue::ServiceInfo& service = catalogue::Services()[i];
    EXPECT_EQ(lines[i].rfind(names[i], 0), 0u) << lines[i];
    EXPECT_TRUE(Contains(lines[i], service.host)) << lines[i];
    EXPECT_TRUE(Contains(lines[i], service.version_item.substr(8))) << lines[i];
  }
  EXPECT_TRUE(console.err.empty());
}

TEST(ListTest, CategoriesAreNumberedInStoredOrder) {
  for (std::size_t service = 0; service < 3; ++service) {
    const char* names[] = {"ecs", "IoT", "APIGATEWAY"};  // any case
    TestConsole console;
    ASSERT_EQ(RunKestrune(console, {"list", names[service]}), kExitOk);
    const core::StringListView categories = catalogue::CategoryList(service);
    const std::vector<std::string> lines = Lines(console.out);
    ASSERT_EQ(lines.size(), categories.Count());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string number = std::to_string(i + 1) + "  ";
      EXPECT_NE(lines[i].find(number), std::string::npos) << lines[i];
      EXPECT_TRUE(Contains(lines[i], categories.Entry(i + 1))) << lines[i];
      const std::size_t actions = catalogue::ActionList(service, i).Count();
      const std::string count = std::to_string(actions) + " action";
      EXPECT_TRUE(Contains(lines[i], "  " + count)) << lines[i];
    }
  }
}

TEST(ListTest, ActionsOfACategoryShowWhatACallSends) {
  std::size_t marked_total = 0;
  for (std::size_t service = 0; service < 3; ++service) {
    const char* names[] = {"ecs", "iot", "apigateway"};
    const core::StringListView categories = catalogue::CategoryList(service);
    for (std::size_t category = 0; category < categories.Count(); ++category) {
      TestConsole console;
      ASSERT_EQ(RunKestrune(console, {"list", names[service], std::to_string(category + 1)}),
                kExitOk);
      const core::StringListView actions = catalogue::ActionList(service, category);
      const std::vector<std::string> lines = Lines(console.out);
      ASSERT_EQ(lines.size(), actions.Count()) << names[service] << " " << category + 1;
      for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(actions.Entry(i + 1), 0), 0u) << lines[i];
        const auto resolved = catalogue::ResolveBrowsingEntry(service, category, i);
        EXPECT_EQ(Contains(lines[i], "(not sendable)"), !resolved.has_value()) << lines[i];
        marked_total += resolved ? 0 : 1;
        if (resolved && service != 0) {
          // IoT and API Gateway entries show the action name a call takes.
          EXPECT_TRUE(Contains(lines[i], resolved->action_name)) << lines[i];
        }
      }
    }
  }
  EXPECT_EQ(marked_total, 0u);  // every listed entry can be sent
}

TEST(ListTest, CategoryByNameEqualsCategoryByNumber) {
  TestConsole by_number;
  TestConsole by_name;
  ASSERT_EQ(RunKestrune(by_number, {"list", "ecs", "24"}), kExitOk);
  ASSERT_EQ(
      RunKestrune(by_name, {"list", "ecs", std::string(catalogue::CategoryList(0).Entry(24))}),
      kExitOk);
  EXPECT_EQ(by_number.out, by_name.out);
  EXPECT_TRUE(Contains(by_number.out, "DescribeZones"));
}

// Every published parameter with its type and whether it is required; a
// caption only where it says more than the name; how the action pages.
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

TEST(ListTest, AnActionShowsItsParametersTypesAndPaging) {
  TestConsole console;
  ASSERT_EQ(RunKestrune(console, {"list", "ecs", "createdisk"}), kExitOk);
  const std::vector<std::string> lines = Lines(console.out);
  auto row = [&lines](std::string_view name) {
    for (const std::string& line : lines) {
      if (line.rfind(std::string(name) + ' ', 0) == 0) return Words(line);
    }
    return std::vector<std::string>{};
  };
  EXPECT_EQ(row("RegionId"), (std::vector<std::string>{"RegionId", "String", "yes"}));
  EXPECT_EQ(row("Size"), (std::vector<std::string>{"Size", "Integer", "容量"}));
  EXPECT_EQ(row("Tag.N.Key"), (std::vector<std::string>{"Tag.N.Key", "String"}));
  EXPECT_FALSE(Contains(console.out, "Region ID")) << console.out;
  EXPECT_TRUE(Contains(console.out, "refused unless --force")) << console.out;

  TestConsole paged;
  ASSERT_EQ(RunKestrune(paged, {"list", "ecs", "DescribeKeyPairs"}), kExitOk);
  EXPECT_TRUE(Contains(paged.out,
                       "Paged by PageNumber and PageSize: --all-pages fetches every "
                       "page, 50 records"))
      << paged.out;
  TestConsole unlisted;
  ASSERT_EQ(RunKestrune(unlisted, {"list", "ecs", "DescribeDemands"}), kExitOk);
  EXPECT_TRUE(Contains(unlisted.out, "nothing is checked")) << unlisted.out;
}

TEST(ListTest, AnActionAsJson) {
  TestConsole console;
  ASSERT_EQ(RunKestrune(console, {"list", "ecs", "DescribeKeyPairs", "--format", "json"}), kExitOk);
  const nlohmann::json doc = nlohmann::json::parse(console.out);
  EXPECT_EQ(doc["action"], "DescribeKeyPairs");
  EXPECT_EQ(doc["checked"], "all");
  EXPECT_EQ(doc["paging"]["records"], "KeyPairs");
  EXPECT_EQ(doc["paging"]["maxPageSize"], 50);
  bool region = false;
  for (const nlohmann::json& p : doc["parameters"]) {
    region = region || (p["name"] == "RegionId" && p["type"] == "String" && p["required"] == true);
  }
  EXPECT_TRUE(region) << console.out;
  TestConsole iot;
  ASSERT_EQ(RunKestrune(iot, {"list", "iot", "QueryDevice", "--format", "json"}), kExitOk);
  EXPECT_EQ(nlohmann::json::parse(iot.out)["checked"], "types and required");
  TestConsole categories;
  EXPECT_EQ(RunKestrune(categories, {"list", "ecs", "--format", "json"}), kExitUsage);
}

TEST(ListTest, AnIotActionByDisplayNameOrActionName) {
  const std::string display(catalogue::ActionList(1, 0).Entry(1));
  const auto resolved = catalogue::ResolveBrowsingEntry(1, 0, 0);
  ASSERT_TRUE(resolved);
  TestConsole by_display;
  TestConsole by_action;
  ASSERT_EQ(RunKestrune(by_display, {"list", "iot", display}), kExitOk);
  ASSERT_EQ(
      RunKestrune(by_action, {"list", "iot", std::string(resolved->request_template->action())}),
      kExitOk);
  EXPECT_EQ(by_display.out, by_action.out);
  const core::StringListView names = resolved->request_template->parameter_names();
  for (std::size_t i = 1; i <= names.Count(); ++i) {
    EXPECT_TRUE(Contains(by_display.out, names.Entry(i)));
  }
}

TEST(ListTest, ActionWithoutParameters) {
  TestConsole console;
  ASSERT_EQ(RunKestrune(console, {"list", "ecs", "DescribeRegions"}), kExitOk);
  const auto action = catalogue::ResolveActionName(1, "DescribeRegions");
  ASSERT_TRUE(action);
  // Listed in two categories of the selectors; named with both.
  const std::string_view storage = catalogue::CategoryList(0).Entry(7);
  const std::string_view regions = catalogue::CategoryList(0).Entry(24);
  EXPECT_EQ(Lines(console.out)[0], "ECS DescribeRegions (listed under 7 " + std::string(storage) +
                                       ", 24 " + std::string(regions) + ")");
  // No parameters of its own in the template; the service's list has some.
  EXPECT_EQ(action->request_template->parameter_count(), 0u);
  EXPECT_TRUE(Contains(console.out, "\nAcceptLanguage      String\n")) << console.out;
}

TEST(ListTest, UsageErrorsAreOneLineAndExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"list", "ec2"},
      {"list", "ecs", "0"},
      {"list", "ecs", "27"},
      {"list", "ecs", "NoSuch"},
      {"list", "ecs", "1", "x"},
      {"frob"},
      {},
      {"list", "--frob"},
      // Control characters in what the user typed do not break the line.
      {"list", "ec\n2"},
      {"list", "ecs", "0\r\n"},
      {"li\nst"},
      {"list", "--x\ny"},
      {"list", "ecs", "1", "\n"},
  };
  for (const auto& arguments : cases) {
    TestConsole console;
    EXPECT_EQ(RunKestrune(console, arguments), kExitUsage);
    EXPECT_TRUE(console.out.empty());
    ASSERT_EQ(clitest::LineCount(console.err), 1u) << console.err;
    EXPECT_EQ(console.err.rfind("kestrune: ", 0), 0u) << console.err;
  }
  TestConsole console;
  RunKestrune(console, {"list", "ec2"});
  EXPECT_TRUE(Contains(console.err, "ecs, iot, apigateway"));
}

// `help SUBCOMMAND` is that subcommand's --help.
TEST(ListTest, HelpEverywhereAndVersion) {
  for (const SubcommandEntry& entry : Subcommands()) {
    TestConsole by_help;
    TestConsole by_option;
    ASSERT_EQ(RunKestrune(by_help, {"help", std::string(entry.name)}), kExitOk);
    ASSERT_EQ(RunKestrune(by_option, {std::string(entry.name), "--help"}), kExitOk);
    EXPECT_EQ(by_help.out, by_option.out) << entry.name;
    EXPECT_TRUE(by_help.out.starts_with("Usage: kestrune " + std::string(entry.name)));
  }
  TestConsole main_help;
  TestConsole call_help;
  RunKestrune(main_help, {"help"});
  RunKestrune(call_help, {"call", "-h"});
  EXPECT_NE(main_help.out, call_help.out);
  EXPECT_TRUE(Contains(main_help.out, "Exit status"));

  TestConsole version;
  EXPECT_EQ(RunKestrune(version, {"--version"}), kExitOk);
  // The test program links the TLS library as a shared one.
  EXPECT_EQ(version.out, "kestrune " + std::string(ProgramVersion()) + "\n" +
                             transport::TlsLibraryVersion() + " (system, dynamic)\n");
  EXPECT_NE(ProgramVersion(), "0.0.0");
}

// What shell completion offers after `call SERVICE`: every name is an action
// of that service, listed once; the option stays out of the help.
TEST(ListTest, NamesAreTheSendableActionsOnceEach) {
  std::size_t all = 0;
  const char* services[] = {"ecs", "iot", "apigateway"};
  for (std::size_t position = 0; position < 3; ++position) {
    const char* service = services[position];
    TestConsole console;
    ASSERT_EQ(RunKestrune(console, {"list", "--names", service}), kExitOk) << console.err;
    const std::vector<std::string> names = Lines(console.out);
    EXPECT_GE(names.size(), 3u) << service;
    all += names.size();
    const unsigned number = catalogue::Services()[position].number;
    for (const std::string& name : names) {
      const std::optional<catalogue::ResolvedAction> action =
          catalogue::ResolveActionName(number, name);
      ASSERT_TRUE(action.has_value()) << name;
      EXPECT_EQ(action->action_name, name);
      EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    }
  }
  TestConsole every;
  ASSERT_EQ(RunKestrune(every, {"list", "--names"}), kExitOk);
  EXPECT_EQ(Lines(every.out).size(), all);
  EXPECT_TRUE(Contains(every.out, "DescribeInstances\n"));

  TestConsole help;
  RunKestrune(help, {"list", "--help"});
  EXPECT_FALSE(Contains(help.out, "--names"));
  TestConsole misplaced;
  EXPECT_EQ(RunKestrune(misplaced, {"call", "--names"}), kExitUsage);
  EXPECT_EQ(RunKestrune(misplaced, {"list", "--names", "ecs", "1"}), kExitUsage);
}

}  // namespace
}  // namespace kestrune::cli
