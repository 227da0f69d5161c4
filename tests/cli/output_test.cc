#include "cli/output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/extractor.h"
#include "test_console.h"

namespace kestrune::cli {
namespace {

using clitest::Lines;
using report::Row;

const Row kSeparator{std::string(report::kSeparator), std::string(report::kSeparator)};

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

TEST(OutputTest, JsonStringEscapesWhatJsonRequires) {
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("\n\r\t\b\f"), "\"\\n\\r\\t\\b\\f\"");
  EXPECT_EQ(JsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(JsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
  EXPECT_EQ(JsonString("华东2（上海）"), "\"华东2（上海）\"");
  EXPECT_EQ(JsonString("\xF0\x9F\x98\x80"), "\"\xF0\x9F\x98\x80\"");  // U+1F600 stays whole
}

TEST(OutputTest, JsonStringReplacesBytesThatAreNotUtf8) {
  EXPECT_EQ(JsonString("a\xff"
                       "b"),
            "\"a\\ufffdb\"");
  EXPECT_EQ(JsonString("\xC0\xAF"), "\"\\ufffd\\ufffd\"");                        // overlong '/'
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");             // a surrogate
  EXPECT_EQ(JsonString("\xE4\xB8"), "\"\\ufffd\\ufffd\"");                        // cut short
  EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\"");  // > U+10FFFF
  // GBK bytes of "华北" are not UTF-8 either.
  EXPECT_EQ(JsonString("\xBB\xAA\xB1\xB1"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\"");
}

TEST(OutputTest, JsonArrayOfFieldAndInfoInProductionOrder) {
  const std::vector<Row> rows = {
      {"RequestId", "R-1"}, {"LocalName", "华北2（北京）"}, {"Note", "say \"hi\"\n"}};
  EXPECT_EQ(RenderJson(rows),
            "[\n"
            "  {\"field\":\"RequestId\",\"info\":\"R-1\"},\n"
            "  {\"field\":\"LocalName\",\"info\":\"华北2（北京）\"},\n"
            "  {\"field\":\"Note\",\"info\":\"say \\\"hi\\\"\\n\"}\n"
            "]\n");
  EXPECT_EQ(RenderJson({}), "[]\n");
}

TEST(OutputTest, LinesAreEscapedSoEachRowStaysOneLine) {
  EXPECT_EQ(EscapeLine("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
  EXPECT_EQ(EscapeLine(std::string("\x1b[31m", 5)), "\\x1b[31m");
  const std::vector<Row> rows = {
      {"RequestId", "R-1"}, {"UserData", "line1\nline2\tend"}, {"Empty", ""}};
  EXPECT_EQ(RenderTsv(rows), "RequestId\tR-1\nUserData\tline1\\nline2\\tend\nEmpty\t\n");
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
            "[\n  {\"field\":\"RequestId\",\"info\":\"R\"}\n]\n");
}

}  // namespace
}  // namespace kestrune::cli
