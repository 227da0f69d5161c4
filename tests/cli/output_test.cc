#include "cli/output.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "report/extractor.h"
#include "test_console.h"

namespace kestrune::cli {
namespace {

using clitest::Lines;
using report::Row;

const Row kSeparator = Row::Break();

TEST(OutputTest, FormatFollowsTheTerminalUnlessChosen) {
  EXPECT_EQ(ResolveFormat(OutputFormat::kAuto, true), OutputFormat::kTable);
  EXPECT_EQ(ResolveFormat(OutputFormat::kAuto, false), OutputFormat::kTsv);
  EXPECT_EQ(ResolveFormat(OutputFormat::kJson, true), OutputFormat::kJson);
  EXPECT_EQ(ResolveFormat(OutputFormat::kTable, false), OutputFormat::kTable);
}

TEST(OutputTest, DisplayWidthCountsWideCharactersTwice) {
  EXPECT_EQ(DisplayWidth(""), 0u);
  EXPECT_EQ(DisplayWidth("RegionId"), 8u);
  EXPECT_EQ(DisplayWidth("华北1（青岛）"), 13u);  // six wide characters and a digit
  EXPECT_EQ(DisplayWidth("亚太东北 1 (东京)"), 17u);
  EXPECT_EQ(DisplayWidth("\xff"), 1u);  // an invalid byte stands for one replacement
}

TEST(OutputTest, JsonRecordsSplitAtSeparatorsAndStayValidJson) {
  const std::vector<Row> rows = {{"RequestId", "R-1"},
                                 kSeparator,
                                 {"ZoneId", "a"},
                                 {"Type", "x"},
                                 {"Type", "y"},
                                 kSeparator,
                                 {"Note", std::string("say \"hi\"\n\x01\0", 11)},
                                 {"LocalName", "华北2（北京）"},
                                 {"Bad",
                                  "a\xff"
                                  "b"}};
  JsonDocument document;
  document.AddRows(rows);
  EXPECT_EQ(document.Render(false),
            "[\n"
            "  {\n    \"RequestId\": \"R-1\"\n  },\n"
            "  {\n    \"ZoneId\": \"a\",\n    \"Type\": [\n      \"x\",\n      \"y\"\n    ]\n  },\n"
            "  {\n    \"Note\": \"say \\\"hi\\\"\\n\\u0001\\u0000\",\n"
            "    \"LocalName\": \"华北2（北京）\",\n"
            "    \"Bad\": \"a\xEF\xBF\xBD"
            "b\"\n  }\n"
            "]\n");
}

TEST(OutputTest, JsonDocumentIsOneReplyOrAnArrayOfThem) {
  JsonDocument document;
  EXPECT_FALSE(document.AddReply(R"({"RequestId":"R-1","Regions":{"Region":[{"Id":1}]}})"));
  // The service's key order is kept, numbers stay numbers.
  EXPECT_EQ(document.Render(false),
            "{\n  \"RequestId\": \"R-1\",\n  \"Regions\": {\n    \"Region\": [\n      {\n"
            "        \"Id\": 1\n      }\n    ]\n  }\n}\n");
  EXPECT_TRUE(document.AddReply("<Error/>").has_value());  // not JSON: a null in its place
  document.AddNothing();
  const std::string several = document.Render(true);
  EXPECT_EQ(several.rfind("[\n  {\n    \"RequestId\": \"R-1\",", 0), 0u) << several;
  EXPECT_TRUE(several.ends_with("  },\n  null,\n  null\n]\n")) << several;
}

// A reply nested 100,000 levels deep overflowed the stack when printed.
// Brackets inside strings (escaped quotes too) do not count.
TEST(OutputTest, JsonNestedPastTheLimitIsRefusedNotWalked) {
  const auto nested = [](std::size_t levels, std::string_view inside) {
    return std::string(levels, '[') + std::string(inside) + std::string(levels, ']');
  };
  JsonDocument fits;
  EXPECT_FALSE(fits.AddReply(nested(512, R"("[{\"[[[")")));
  for (const std::string& deep : {nested(513, ""), "{\"Code\":\"X\",\"a\":" + nested(100000, "")}) {
    JsonDocument document;
    const std::optional<std::string> complaint = document.AddReply(deep);
    ASSERT_TRUE(complaint.has_value());
    EXPECT_NE(complaint->find("more than 512 levels deep"), std::string::npos) << *complaint;
    EXPECT_EQ(document.Render(false), "");
    EXPECT_TRUE(JsonLeafRows(deep).empty());
    EXPECT_EQ(ReadServiceError(deep).code, "");
  }
}

// A walk that failed on a connection after some pages printed none of
// what was fetched in tsv (JSON: see CallTest.AllPages...).
TEST(OutputTest, RecordsOfAFailedWalkAreKept) {
  CallOutcome outcome;
  outcome.result.outcome = engine::Outcome::kConnectionFailed;
  outcome.result.detail = "page 3 failed after 2 records: reset";
  outcome.result.partial = true;
  outcome.rows = {{"RequestId", "R"}, kSeparator, {"Id", "a"}, kSeparator, {"Id", "b"}};
  clitest::TestConsole tsv;
  JsonDocument unused;
  EXPECT_EQ(PrintOutcome(tsv, OutputFormat::kTsv, outcome, false, unused), kExitConnection);
  EXPECT_EQ(tsv.out, "RequestId\tR\n\nId\ta\n\nId\tb\n");
  EXPECT_NE(tsv.err.find("page 3 failed after 2 records"), std::string::npos) << tsv.err;
}

TEST(OutputTest, LinesAreEscapedSoEachRowStaysOneLine) {
  EXPECT_EQ(EscapeLine("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
  EXPECT_EQ(EscapeLine(std::string("\x1b[31m", 5)), "\\x1b[31m");
  // Nothing that would show the rest of a line reordered or act as a
  // control; other text, a cut-off sequence included, stays as it is.
  EXPECT_EQ(EscapeLine("a\u202Eb\u0085c\u2066\u061C\u200F\u2069d"),
            "a\\u202eb\\u0085c\\u2066\\u061c\\u200f\\u2069d");
  EXPECT_EQ(EscapeLine("é\u2014\u2030中\u00A0"), "é\u2014\u2030中\u00A0");
  EXPECT_EQ(EscapeLine("x\xE2\x80"), "x\xE2\x80");
  const std::vector<Row> rows = {
      {"RequestId", "R-1"}, {"UserData", "line1\nline2\tend"}, {"Empty", ""}};
  EXPECT_EQ(RenderTsv(rows), "RequestId\tR-1\nUserData\tline1\\nline2\\tend\nEmpty\t\n");
  // A separator is an empty line: records read as paragraphs (awk -v RS=).
  const std::vector<Row> records = {{"RequestId", "R-1"}, kSeparator, {"ZoneId", "z"}};
  EXPECT_EQ(RenderTsv(records), "RequestId\tR-1\n\nZoneId\tz\n");
}

TEST(OutputTest, TableAlignsTheInfoColumnAndMarksSeparators) {
  const std::vector<Row> rows = {{"RequestId", "R-1"}, kSeparator,
                                 {"ZoneId", "cn-x-a"}, {"LocalName", "华东 1 可用区 A"},
                                 kSeparator,           {"A", ""}};
  const std::string table = RenderTable(rows, "Action=DescribeZones", "");
  const std::vector<std::string> lines = Lines(table);
  ASSERT_EQ(lines.size(), 9u) << table;
  EXPECT_EQ(lines[0], "Field      Info");
  EXPECT_EQ(lines[1].substr(0, 11), "=========  ");
  EXPECT_EQ(lines[2], "RequestId  R-1");
  EXPECT_EQ(lines[3].substr(0, 11), "---------  ");
  EXPECT_EQ(lines[3].find_first_not_of("- "), std::string::npos);
  EXPECT_EQ(lines[4], "ZoneId     cn-x-a");
  EXPECT_EQ(lines[5], "LocalName  华东 1 可用区 A");
  EXPECT_EQ(lines[6], lines[3]);
  EXPECT_EQ(lines[7], "A");  // no trailing blanks after an empty value
  EXPECT_EQ(lines[8], "Action=DescribeZones");
  // The rules are as wide as the widest value.
  EXPECT_EQ(lines[1].size(), 11 + DisplayWidth("华东 1 可用区 A"));
}

TEST(OutputTest, TableColumnFollowsTheWidestFieldAndKeepsTheNote) {
  const std::vector<Row> rows = {{"RequestId", "R"}, {"InstanceTypeFamilyId", "ecs.g6"}};
  const std::vector<std::string> lines = Lines(RenderTable(rows, "", "(a note)"));
  ASSERT_EQ(lines.size(), 5u);
  const std::size_t column = std::string("InstanceTypeFamilyId").size() + 2;
  EXPECT_EQ(lines[0].substr(column), "Info");
  EXPECT_EQ(lines[2].substr(column), "R");
  EXPECT_EQ(lines[3].substr(column), "ecs.g6");
  EXPECT_EQ(lines[4], "(a note)");
}

TEST(OutputTest, TableWithoutRowsShowsOnlyItsTexts) {
  EXPECT_EQ(RenderTable({}, "连接服务器失败!", ""), "连接服务器失败!\n");
  EXPECT_EQ(RenderTable({}, "", ""), "");
}

TEST(OutputTest, RenderRowsKeepsResultTextForTablesOnly) {
  const std::vector<Row> rows = {{"RequestId", "R"}};
  EXPECT_NE(RenderRows(OutputFormat::kTable, rows, "Action=X", "").find("Action=X"),
            std::string::npos);
  EXPECT_EQ(RenderRows(OutputFormat::kTsv, rows, "Action=X", "note"), "RequestId\tR\n");
  EXPECT_EQ(RenderRows(OutputFormat::kJson, rows, "Action=X", "note"),
            "[\n  {\n    \"RequestId\": \"R\"\n  }\n]\n");
}

}  // namespace
}  // namespace kestrune::cli
