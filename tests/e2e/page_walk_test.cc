// The pieces of a walk over pages that keep it to about one page at a time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "engine/json_walk.h"
#include "engine/reply_forms.h"

namespace kestrune::engine {
namespace {

TEST(JsonWalkTest, WritesTheJoinedDocumentFromPagesItSteppedThrough) {
  JsonWalk walk("Instances");
  const PageFacts first = walk.Add(
      R"({"PageSize":2,"NextToken":"t1","Instances":{"Instance":[{"Id":"a"},{"Id":"\u00e9"}]},)"
      R"("Tail":"}\"{["})",
      1000);
  EXPECT_EQ(first.records, 2u);
  EXPECT_EQ(first.next_token, "t1");
  // A later page: its list stands after members whose text holds brackets
  // and quotes, which must be stepped over, not counted.
  const PageFacts second = walk.Add(
      R"( { "Odd" : "x\"}]{[\\", "Deep":[{"a":["}"]}], "Instances" : {"Instance":[{"Id":"b"}]},)"
      R"( "NextToken":"t2"} )",
      1000);
  EXPECT_EQ(second.records, 1u);
  EXPECT_EQ(second.next_token, "t2");
  // Past the limit: nothing of the page is added.
  EXPECT_TRUE(
      walk.Add(R"({"Instances":{"Instance":[{"Id":"cccccccccccccccccccccccccccccc"}]}})", 40)
          .over_limit);
  EXPECT_EQ(walk.Finish("t2"), "");
  ASSERT_TRUE(walk.joined());

  std::string written;
  const std::string notes[] = {"a note"};
  ASSERT_TRUE(
      walk.Write(notes, WalkBreak{3, 3}, [&written](std::string_view piece) { written += piece; }));
  const auto expected = nlohmann::ordered_json::parse(R"({"PageSize":3,"NextToken":"t2",
      "Instances":{"Instance":[{"Id":"a"},{"Id":"\u00e9"},{"Id":"b"}]},"Tail":"}\"{[",
      "KestruneNotes":["a note"],"KestrunePartial":{"failedPage":3,"records":3}})");
  EXPECT_EQ(written, expected.dump(2) + "\n");
}

TEST(JsonWalkTest, AnEmptyListAndAFirstPageThatIsNoObject) {
  JsonWalk empty("Instances");
  empty.Add(R"({"Instances":[],"PageSize":"10"})", 1000);
  empty.Finish("");
  std::string written;
  ASSERT_TRUE(empty.Write({}, std::nullopt, [&written](std::string_view p) { written += p; }));
  EXPECT_EQ(written, "{\n  \"Instances\": [],\n  \"PageSize\": \"0\"\n}\n");

  JsonWalk odd("Instances");
  odd.Add("[1,2]", 1000);
  EXPECT_EQ(odd.Finish(""), "[1,2]");
  EXPECT_FALSE(odd.joined());
}

TEST(XmlPageFrameTest, LaterPagesAreFramedWithoutTheFirstPagesLongValues) {
  const std::string padding(2000, 'x');
  const std::string first = "<R><Id>1</Id><L><I>a</I></L><Pad>" + padding + "</Pad></R>";
  XmlPageFrame frame("L");
  ASSERT_TRUE(frame.SetFirst(first));
  EXPECT_EQ(frame.Emptied(first), "<R><Id>1</Id><L></L><Pad>" + padding + "</Pad></R>");
  EXPECT_EQ(frame.empty(), "<R><Id>1</Id><L></L><Pad></Pad></R>");
  EXPECT_EQ(frame.Framed("<R><Id>2</Id><L><I>b</I><I>c</I></L><Pad>" + padding + "</Pad></R>"),
            "<R><Id>1</Id><L><I>b</I><I>c</I></L><Pad></Pad></R>");
}

}  // namespace
}  // namespace kestrune::engine
