#include "report/extractor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/xml_text.h"

namespace kestrune::report {
namespace {

class ExtractorTest : public ::testing::Test {
 protected:
  RecordingResultList list_;
  RecordingTraceSink trace_;
  DisplayText display_;
  Extractor x_{list_, trace_, display_};
};

TEST(CopyElementValueTest, ReturnsOffsetOfClosingTag) {
  std::string value;
  std::string_view source = "<RequestId>ABC</RequestId>";
  EXPECT_EQ(CopyElementValue(source, "RequestId", value), 14u);
  EXPECT_EQ(value, "ABC");
  EXPECT_EQ(source.substr(14, 12), "</RequestId>");

  // The offset counts from the text handed in, not from any outer buffer.
  std::string_view outer = "<A>1</A><B>xy</B>";
  EXPECT_EQ(CopyElementValue(outer.substr(8), "B", value), 5u);
  EXPECT_EQ(value, "xy");
}

TEST(CopyElementValueTest, TagsMatchWholeNamesOnly) {
  std::string value;
  std::string_view source =
      "<Instances><InstanceId>i-1</InstanceId><Instance>x</Instance></Instances>";
  ASSERT_NE(CopyElementValue(source, "Instance", value), kElementAbsent);
  EXPECT_EQ(value, "x");
  ASSERT_NE(CopyElementValue(source, "Instances", value), kElementAbsent);
  EXPECT_EQ(value, "<InstanceId>i-1</InstanceId><Instance>x</Instance>");

  // Attributes, blanks inside the tag and prefixes are not recognised.
  value = "untouched";
  EXPECT_EQ(CopyElementValue("<Code a=\"1\">x</Code>", "Code", value), kElementAbsent);
  EXPECT_EQ(CopyElementValue("<Code >x</Code>", "Code", value), kElementAbsent);
  EXPECT_EQ(CopyElementValue("<ns:Code>x</ns:Code>", "Code", value), kElementAbsent);
  EXPECT_EQ(CopyElementValue("<code>x</code>", "Code", value), kElementAbsent);
  EXPECT_EQ(value, "untouched");
}

TEST(CopyElementValueTest, FirstOccurrenceAndFirstClosingTagWin) {
  std::string value;
  EXPECT_EQ(CopyElementValue("<A>1</A><A>2</A>", "A", value), 4u);
  EXPECT_EQ(value, "1");
  // An element holding one of the same name ends at the inner closing tag.
  EXPECT_EQ(CopyElementValue("<A>x<A>y</A>z</A>", "A", value), 8u);
  EXPECT_EQ(value, "x<A>y");
  // Raw text stays as it stands: blanks, line breaks, references.
  CopyElementValue("<A> a\r\n&amp; </A>", "A", value);
  EXPECT_EQ(value, " a\r\n&amp; ");
}

TEST(CopyElementValueTest, EmptyElementIsFoundAtItsClosingTag) {
  std::string value = "old";
  EXPECT_EQ(CopyElementValue("xx<Code></Code>", "Code", value), 8u);
  EXPECT_EQ(value, "");
}

TEST(CopyElementValueTest, AbsentOrUnclosedLeavesDestinationUntouched) {
  std::string value = "keep";
  EXPECT_EQ(CopyElementValue("<A>1</A>", "B", value), kElementAbsent);
  EXPECT_EQ(CopyElementValue("<B>1", "B", value), kElementAbsent);
  EXPECT_EQ(CopyElementValue("</B><B>1", "B", value), kElementAbsent);
  EXPECT_EQ(CopyElementValue("", "B", value), kElementAbsent);
  EXPECT_EQ(CopyElementValue("<>x</>", "", value), kElementAbsent);
  EXPECT_EQ(value, "keep");
}

TEST(CopyElementValueTest, TextEndsAtItsFirstNul) {
  std::string value;
  std::string source("<A>1</A>\0<B>2</B>", 17);
  EXPECT_EQ(CopyElementValue(source, "B", value), kElementAbsent);
  EXPECT_EQ(CopyElementValue(std::string("<A>1\0</A>", 9), "A", value), kElementAbsent);
}

// A walk asks from starts that only move forward, and the search remembers
// what it saw; every answer must still be the fresh search's from that start,
// including names found far ahead, found once, nested, unclosed or cut by a NUL
// (a walk's start never passes the NUL, which ends the reply).
TEST(ElementSearchTest, AgreesWithAFreshSearchFromEveryStart) {
  using namespace std::string_literals;
  const std::string text =
      "<R><A>1</A><B>x</B></R><R><B>y</B></R><R><A><A>2</A></A></R><R></R>"
      "<C>open<A>3</A><B>z\0</B><A>4</A>"s;
  for (std::string_view name : {"A", "B", "C", "R", "D", ""}) {
    ElementSearch search(text);
    for (std::size_t from = 0; from <= text.find('\0'); ++from) {
      const auto fresh = FindElementValue(std::string_view(text).substr(from), name);
      const auto kept = search.Find(name, from);
      ASSERT_EQ(fresh.has_value(), kept.has_value()) << name << " from " << from;
      if (fresh) {
        EXPECT_EQ(*fresh, *kept);
        EXPECT_EQ(fresh->data(), kept->data()) << name << " from " << from;
      }
    }
  }
}

TEST(CopyElementValueTest, NameLengthLimit) {
  std::string value;
  std::string longest(kMaxElementName, 'n');
  std::string source = "<" + longest + ">v</" + longest + ">";
  EXPECT_NE(CopyElementValue(source, longest, value), kElementAbsent);
  EXPECT_EQ(value, "v");
  std::string too_long(kMaxElementName + 1, 'n');
  source = "<" + too_long + ">v</" + too_long + ">";
  EXPECT_EQ(CopyElementValue(source, too_long, value), kElementAbsent);
}

// Regression: tags beyond the old 8 KiB search window were treated as absent,
// so a DescribeUserdata reply with 9 KB of user data lost every later row.
TEST(CopyElementValueTest, FindsTagsAndValuesHoweverFarIntoTheText) {
  std::string value;
  const std::string far(40000, ' ');
  const std::string large(40000, 'v');
  std::string source = far + "<A>" + large + "</A><B>b</B>";
  EXPECT_EQ(CopyElementValue(source, "A", value), 40003u + 40000u);
  EXPECT_EQ(value, large);
  EXPECT_EQ(CopyElementValue(source, "B", value), source.size() - 4);
  EXPECT_EQ(value, "b");
}

TEST_F(ExtractorTest, ShowElementInsertsRowAndTracesBothLines) {
  EXPECT_EQ(x_.ShowElement("RequestId", "<RequestId>ABC</RequestId>", "RequestId"), 14u);
  EXPECT_EQ(list_.produced(), (std::vector<Row>{{"RequestId", "ABC"}}));
  EXPECT_EQ(trace_.lines(), (std::vector<std::string>{"strtitle = RequestId (headreq, 738)",
                                                      "OneXmlBuf = ABC (headreq, 739)"}));
  // The label is shown unchanged, whatever element it came from.
  x_.ShowElement("Label", "<Code>c</Code>", "Code");
  EXPECT_EQ(list_.produced().back(), (Row{"Label", "c"}));
  EXPECT_EQ(trace_.lines()[2], "strtitle = Label (headreq, 738)");
}

TEST_F(ExtractorTest, EmptyOrAbsentValuesShowNothing) {
  EXPECT_EQ(x_.ShowElement("Code", "<Code></Code>", "Code"), 6u);
  EXPECT_EQ(x_.ShowElement("Code", "<Other>x</Other>", "Code"), kElementAbsent);
  // A cursor past the last record.
  std::string_view reply = "<Region><RegionId>r</RegionId></Region>";
  EXPECT_EQ(x_.ShowElement("RegionId", reply.substr(30), "RegionId"), kElementAbsent);
  EXPECT_TRUE(list_.produced().empty());
  EXPECT_TRUE(trace_.lines().empty());
}

TEST_F(ExtractorTest, SeekElementKeepsValueAndShowsNothing) {
  EXPECT_EQ(x_.SeekElement("<A>v</A>", "A"), 4u);
  EXPECT_EQ(x_.value(), "v");
  EXPECT_EQ(x_.SeekElement("<A>v</A>", "B"), kElementAbsent);
  EXPECT_EQ(x_.value(), "");
  EXPECT_TRUE(list_.produced().empty());
  EXPECT_TRUE(trace_.lines().empty());
}

TEST_F(ExtractorTest, ShownValuesAreDecodedButSearchRunsOverRawText) {
  std::string_view reply =
      "<Message>a &lt;b&gt; &amp; &quot;q&apos; &#20013;&#x6587;</Message>"
      "<Outer>&lt;Inner&gt;x&lt;/Inner&gt;</Outer>";
  x_.ShowElement("Message", reply, "Message");
  EXPECT_EQ(x_.value(), "a &lt;b&gt; &amp; &quot;q&apos; &#20013;&#x6587;");
  EXPECT_EQ(list_.produced().back(), (Row{"Message", "a <b> & \"q' 中文"}));
  EXPECT_EQ(trace_.lines()[1], "OneXmlBuf = a <b> & \"q' 中文 (headreq, 739)");
  // An escaped tag is text, not an element.
  EXPECT_EQ(x_.SeekElement(reply, "Inner"), kElementAbsent);
}

TEST(ExtractorGbkTest, ShownValuesFollowTheDisplayEncoding) {
  RecordingResultList list;
  RecordingTraceSink trace;
  DisplayText gbk(DisplayEncoding::kGbk);
  Extractor x(list, trace, gbk);
  std::string_view reply = "<LocalName>华东 2 &amp; &#x4E0A;海</LocalName>";
  x.ShowElement("LocalName", reply, "LocalName");
  // The raw UTF-8 stays for further searches; the row carries code page 936.
  EXPECT_EQ(x.value(), "华东 2 &amp; &#x4E0A;海");
  EXPECT_EQ(list.produced(),
            (std::vector<Row>{{"LocalName", "\xBB\xAA\xB6\xAB 2 & \xC9\xCF\xBA\xA3"}}));
}

TEST_F(ExtractorTest, LongValuesAreShownWhole) {
  std::string long_value;
  for (int i = 0; long_value.size() < 6000; ++i) long_value += std::to_string(i) + ",";
  x_.ShowElement("UserData", "<UserData>" + long_value + "</UserData>", "UserData");
  ASSERT_EQ(list_.produced().size(), 1u);
  EXPECT_EQ(list_.produced()[0].info, long_value);
  EXPECT_EQ(trace_.lines()[1], "OneXmlBuf = " + long_value + " (headreq, 739)");
}

// A record break, which a list that keeps the rows keeps as a break, is
// shown by a list on screen as the row of stars, without a trace line.
TEST_F(ExtractorTest, RecordBreakOnScreen) {
  struct Screen : ResultList {
    std::vector<Row> rows;
    void InsertTop(std::string_view field, std::string_view info) override {
      rows.emplace(rows.begin(), std::string(field), std::string(info));
    }
    void Clear() override { rows.clear(); }
  } screen;
  Extractor on_screen(screen, trace_, display_);
  on_screen.AddRecordBreak();
  EXPECT_EQ(screen.rows, (std::vector<Row>{{"****************", "****************"}}));
  EXPECT_TRUE(trace_.lines().empty());
}

TEST(DecodeXmlTextTest, PredefinedAndNumericReferences) {
  EXPECT_EQ(DecodeXmlText("&lt;&gt;&amp;&quot;&apos;"), "<>&\"'");
  EXPECT_EQ(DecodeXmlText("&#65;&#x42;&#X43;&#0068;"), "ABCD");
  EXPECT_EQ(DecodeXmlText("&#xE9;&#x4E2D;&#x1F600;"), "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  // &amp; is decoded once: "&amp;lt;" is the text "&lt;".
  EXPECT_EQ(DecodeXmlText("&amp;lt;"), "&lt;");
}

TEST(DecodeXmlTextTest, MalformedReferencesStayAsTheyStand) {
  for (std::string_view text :
       {"a & b", "&", "&;", "&nbsp;", "&#;", "&#x;", "&#xZZ;", "&#12a;", "&#0;", "&#xD800;",
        "&#x110000;", "&#99999999999;", "&lt", "&ltx;"}) {
    EXPECT_EQ(DecodeXmlText(text), text);
  }
  EXPECT_EQ(DecodeXmlText("&x&lt;"), "&x<");
}

TEST(ForEachLeafTest, VisitsLeavesInDocumentOrder) {
  std::string_view reply =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<DescribeThingResponse>\n"
      "  <!-- <Hidden>no</Hidden> -->\n"
      "  <RequestId>r-1</RequestId>\n"
      "  <Items>\n"
      "    <Item><Name>a &amp; b</Name><Empty></Empty><Self/></Item>\n"
      "    <Item kind=\"x>y\"><Name>c</Name></Item>\n"
      "  </Items>\n"
      "  <Last attr='1' >z</Last >\n"
      "</DescribeThingResponse>\n";
  std::vector<std::pair<std::string, std::string>> seen;
  std::size_t count = ForEachLeaf(reply, [&](const XmlLeaf& leaf) {
    seen.emplace_back(std::string(leaf.name), std::string(leaf.raw_value));
  });
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{{"RequestId", "r-1"},
                                                                    {"Name", "a &amp; b"},
                                                                    {"Empty", ""},
                                                                    {"Self", ""},
                                                                    {"Name", "c"},
                                                                    {"Last", "z"}}));
}

TEST(ForEachLeafTest, TruncatedDocumentsEndTheScan) {
  std::size_t count = 0;
  auto visit = [&](const XmlLeaf&) { ++count; };
  EXPECT_EQ(ForEachLeaf("<A>1</A><B", visit), 1u);
  EXPECT_EQ(ForEachLeaf("<A>1</A><!-- open", visit), 1u);
  EXPECT_EQ(ForEachLeaf("<A>1", visit), 0u);
  EXPECT_EQ(ForEachLeaf("", visit), 0u);
  EXPECT_EQ(ForEachLeaf("plain text", visit), 0u);
  EXPECT_EQ(count, 2u);
}

TEST_F(ExtractorTest, ShowAllLeavesShowsEveryValueDecoded) {
  std::string_view reply =
      "<CreateThingResponse><RequestId>r</RequestId><Data><Id>7</Id><Note></Note>"
      "<Text>&lt;ok&gt;</Text></Data></CreateThingResponse>";
  EXPECT_EQ(ShowAllLeaves(reply, x_), 3u);
  EXPECT_EQ(list_.produced(),
            (std::vector<Row>{{"RequestId", "r"}, {"Id", "7"}, {"Text", "<ok>"}}));
  EXPECT_EQ(trace_.lines().size(), 6u);
}

}  // namespace
}  // namespace kestrune::report
