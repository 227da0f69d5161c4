#include "report/all_fields.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrune::report {
namespace {

class AllFieldsTest : public ::testing::Test {
 protected:
  // The rows as "field=info;", a separator as "|".
  std::string Shown(std::string_view reply) {
    list_.Clear();
    ShowAllFields(reply, x_);
    std::string shown;
    for (const Row& row : list_.produced()) {
      shown += row.record_break ? "|" : row.field + "=" + row.info + ";";
    }
    return shown;
  }
  RecordingResultList list_;
  RecordingTraceSink trace_;
  DisplayText display_;
  Extractor x_{list_, trace_, display_};
};

// Instances named alike three ways, head values on both sides of the list,
// a list inside a record, empty values, a record with nothing to show; a
// list holding one list stands for it; an object of values, or values listed
// alone, are no records.
TEST_F(AllFieldsTest, EveryValueNamedBelowItsRecordOneGroupEach) {
  EXPECT_EQ(
      Shown("<?xml version=\"1.0\"?><R><PageNumber>1</PageNumber><Instances>"
            "<Instance><InstanceId>i-1</InstanceId><VlanId></VlanId>"
            "<EipAddress><IpAddress>47.0.0.9</IpAddress></EipAddress><VpcAttributes>"
            "<PrivateIpAddress><IpAddress>10.0.0.1</IpAddress></PrivateIpAddress>"
            "</VpcAttributes><PublicIpAddress><IpAddress>1.1.1.1</IpAddress>"
            "<IpAddress>2.2.2.2</IpAddress></PublicIpAddress><Tags><Tag><K>e</K></Tag>"
            "<Tag><K>a&amp;b</K></Tag></Tags></Instance>"
            "<Instance><VlanId></VlanId><EipAddress><IpAddress/></EipAddress></Instance>"
            "<Instance><InstanceId>i-3</InstanceId></Instance></Instances>"
            "<TotalCount>3</TotalCount><RequestId>r-1</RequestId></R>"),
      "RequestId=r-1;|PageNumber=1;TotalCount=3;|InstanceId=i-1;EipAddress.IpAddress=47.0.0.9;"
      "VpcAttributes.PrivateIpAddress.IpAddress=10.0.0.1;PublicIpAddress.IpAddress=1.1.1.1;"
      "PublicIpAddress.IpAddress=2.2.2.2;Tags.Tag.K=e;Tags.Tag.K=a&b;|InstanceId=i-3;");
  EXPECT_EQ(Shown("<R><RequestId>r</RequestId><Data><List><Event><N>a</N><O><V>1</V></O></Event>"
                  "<Event><N>b</N></Event></List><NextValid>true</NextValid></Data></R>"),
            "RequestId=r;|Data.NextValid=true;|N=a;O.V=1;|N=b;");
  EXPECT_EQ(Shown("<R><Data><Key>k</Key><Ids><Id>1</Id><Id>2</Id></Ids></Data></R>"),
            "Data.Key=k;Data.Ids.Id=1;Data.Ids.Id=2;");
  EXPECT_EQ(Shown("<Regions><Region><Id>x</Id></Region></Regions>"), "Region.Id=x;");
}

// A reply nested far deeper than a stack, and a name longer than a row
// should carry: each Field keeps its last names within kMaxFieldPath bytes,
// after the mark of those left out, and never cuts a character.
TEST_F(AllFieldsTest, DeepAndLongPathsAreCutFromTheFront) {
  constexpr int kDepth = 200000;
  const std::string cut = "\xE2\x80\xA6";
  const std::string name = "\xC3\xA9" + std::string(kMaxFieldPath - 1, 'N');
  std::string deep = "<R><Items><Item><K>k</K>";
  for (int k = 0; k < kDepth; ++k) deep += "<L>";
  deep += "<V>0</V>";
  for (int k = 0; k < kDepth; ++k) deep += "</L>";
  deep += "</Item></Items><" + name + ">x</" + name + "></R>";
  std::string path = "V";
  while (path.size() + 2 <= kMaxFieldPath) path = "L." + path;
  EXPECT_EQ(Shown(deep),
            cut + std::string(kMaxFieldPath - 1, 'N') + "=x;|K=k;" + cut + path + "=0;");
}

}  // namespace
}  // namespace kestrune::report
