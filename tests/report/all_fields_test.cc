#include "report/all_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune::report {
namespace {

class AllFieldsTest : public ::testing::Test {
 protected:
  // The rows as TSV would print them: "field=info", a separator as "".
  std::vector<std::string> Shown(std::string_view reply) {
    RecordingResultList list;
    Extractor x(list, trace_, display_);
    ShowAllFields(reply, x);
    std::vector<std::string> lines;
    for (const Row& row : list.produced()) {
      lines.push_back(row.field == kSeparator ? "" : row.field + "=" + row.info);
    }
    return lines;
  }
  RecordingTraceSink trace_;
  DisplayText display_;
};

// Two instances named alike three ways, head fields on both sides of the
// list, a nested list inside a record, empty values, and a record that holds
// nothing to show.
TEST_F(AllFieldsTest, EveryValueNamedBelowItsRecordOneGroupEach) {
  const std::string reply =
      "<?xml version=\"1.0\"?><DescribeInstancesResponse><PageNumber>1</PageNumber>"
      "<Instances>"
      "<Instance><InstanceId>i-1</InstanceId><VlanId></VlanId>"
      "<EipAddress><IpAddress>47.0.0.9</IpAddress></EipAddress>"
      "<VpcAttributes><PrivateIpAddress><IpAddress>10.0.0.1</IpAddress></PrivateIpAddress>"
      "</VpcAttributes>"
      "<PublicIpAddress><IpAddress>1.1.1.1</IpAddress><IpAddress>2.2.2.2</IpAddress>"
      "</PublicIpAddress>"
      "<Tags><Tag><TagKey>env</TagKey></Tag><Tag><TagKey>a&amp;b</TagKey></Tag></Tags>"
      "</Instance>"
      "<Instance><VlanId></VlanId><EipAddress><IpAddress/></EipAddress></Instance>"
      "<Instance><InstanceId>i-3</InstanceId></Instance>"
      "</Instances><TotalCount>3</TotalCount><RequestId>r-1</RequestId>"
      "</DescribeInstancesResponse>";
  EXPECT_EQ(
      Shown(reply),
      (std::vector<std::string>{
          "RequestId=r-1", "", "PageNumber=1", "TotalCount=3", "", "InstanceId=i-1",
          "EipAddress.IpAddress=47.0.0.9", "VpcAttributes.PrivateIpAddress.IpAddress=10.0.0.1",
          "PublicIpAddress.IpAddress=1.1.1.1", "PublicIpAddress.IpAddress=2.2.2.2",
          "Tags.Tag.TagKey=env", "Tags.Tag.TagKey=a&b", "", "InstanceId=i-3"}));
  // Each value shown is traced as the formatters' are.
  EXPECT_EQ(trace_.lines().size(), 2u * 11u);
}

// Where the records are: a list holding one list stands for it; an object of
// values is no list; values listed alone are no records; a reply without
// records is RequestId and one more group.
TEST_F(AllFieldsTest, RecordsAreTheItemsOfTheOutermostList) {
  EXPECT_EQ(Shown("<R><RequestId>r</RequestId><Data><List>"
                  "<EventInfo><Name>a</Name><Out><V>1</V></Out></EventInfo>"
                  "<EventInfo><Name>b</Name></EventInfo>"
                  "</List><NextValid>true</NextValid></Data></R>"),
            (std::vector<std::string>{"RequestId=r", "", "Data.NextValid=true", "", "Name=a",
                                      "Out.V=1", "", "Name=b"}));
  // Data holds a list and a value, so Data itself is no list.
  EXPECT_EQ(Shown("<R><Data><ProductKey>pk</ProductKey><Ids><Id>1</Id><Id>2</Id></Ids>"
                  "</Data><RequestId>r</RequestId></R>"),
            (std::vector<std::string>{"RequestId=r", "", "Data.ProductKey=pk", "Data.Ids.Id=1",
                                      "Data.Ids.Id=2"}));
  EXPECT_EQ(Shown("<Regions><Region><RegionId>x</RegionId></Region></Regions>"),
            (std::vector<std::string>{"Region.RegionId=x"}));
  EXPECT_EQ(Shown("<R><Items><Item><K>1</K></Item></Items></R>"),
            (std::vector<std::string>{"K=1"}));
  EXPECT_EQ(Shown("<Only>1</Only>"), (std::vector<std::string>{"Only=1"}));
  EXPECT_EQ(Shown(""), (std::vector<std::string>{}));
  EXPECT_EQ(Shown("<R><A>1</A><B"), (std::vector<std::string>{"A=1"}));
}

// A reply nested far deeper than a stack, and a name longer than any row
// should carry: both shown, each Field at most kMaxFieldPath bytes plus the
// mark of the names left out.
TEST_F(AllFieldsTest, DeepAndLongPathsAreCutFromTheFront) {
  constexpr int kDepth = 200000;
  // A value beside the chain keeps its item from being a list itself.
  std::string deep = "<R><Items><Item><K>k</K>";
  for (int k = 0; k < kDepth; ++k) deep += "<Level>";
  for (int k = 0; k < 3; ++k) deep += "<V>" + std::to_string(k) + "</V>";
  for (int k = 0; k < kDepth; ++k) deep += "</Level>";
  deep += "</Item></Items>";
  // Cut one byte into the name: inside its first character.
  const std::string name = "\xC3\xA9" + std::string(kMaxFieldPath - 1, 'N');
  deep += "<" + name + ">x</" + name + "></R>";
  const std::string cut = "\xE2\x80\xA6";
  RecordingResultList list;
  Extractor x(list, trace_, display_);
  EXPECT_EQ(ShowAllFields(deep, x), 5u);
  const std::vector<Row>& rows = list.produced();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].field, cut + std::string(kMaxFieldPath - 1, 'N'));
  EXPECT_EQ(rows[1].field, kSeparator);
  EXPECT_EQ(rows[2], (Row{"K", "k"}));
  for (std::size_t k = 3; k < rows.size(); ++k) {
    EXPECT_LE(rows[k].field.size(), kMaxFieldPath + cut.size()) << rows[k].field.substr(0, 40);
    EXPECT_EQ(rows[k].field.rfind(cut + "Level.", 0), 0u) << rows[k].field.substr(0, 40);
    EXPECT_TRUE(rows[k].field.ends_with("Level.Level.V")) << rows[k].field.substr(0, 40);
  }
}

}  // namespace
}  // namespace kestrune::report
