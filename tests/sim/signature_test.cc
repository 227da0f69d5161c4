#include "sim/signature.h"

#include <gtest/gtest.h>

#include <random>

#include "sim/clock.h"
#include "tests/sim/reference_signer.h"
#include "tests/sim/sim_test_util.h"

namespace kestrune::sim {
namespace {

// The service's published example (testid / testsecret, DescribeRegions).
const std::vector<QueryParam> kPublished = {
    {"Timestamp", "2016-02-23T12:46:24Z"},
    {"Format", "XML"},
    {"AccessKeyId", "testid"},
    {"Action", "DescribeRegions"},
    {"SignatureMethod", "HMAC-SHA1"},
    {"SignatureNonce", "3ee8c1b8-83d3-44af-a94f-4e0ad82fd6cf"},
    {"Version", "2014-05-26"},
    {"SignatureVersion", "1.0"},
};

TEST(SignatureTest, PublishedExampleStageByStage) {
  testing::SimAudit audit;
  audit.Secret("testsecret");
  const std::string canonical = CanonicalQuery(kPublished);
  EXPECT_EQ(canonical,
            "AccessKeyId=testid&Action=DescribeRegions&Format=XML&SignatureMethod=HMAC-SHA1&"
            "SignatureNonce=3ee8c1b8-83d3-44af-a94f-4e0ad82fd6cf&SignatureVersion=1.0&"
            "Timestamp=2016-02-23T12%3A46%3A24Z&Version=2014-05-26");
  const std::string to_sign = StringToSign("GET", canonical);
  EXPECT_EQ(
      to_sign,
      "GET&%2F&AccessKeyId%3Dtestid%26Action%3DDescribeRegions%26Format%3DXML%26"
      "SignatureMethod%3DHMAC-SHA1%26SignatureNonce%3D3ee8c1b8-83d3-44af-a94f-4e0ad82fd6cf%26"
      "SignatureVersion%3D1.0%26Timestamp%3D2016-02-23T12%253A46%253A24Z%26Version%3D2014-05-26");
  const std::string signature = ComputeSignature("testsecret", to_sign);
  EXPECT_EQ(signature, "OLeaidS1JvxuMvnyHOwuJ+uX5qY=");
  audit.CheckText("the signature", signature);
  audit.Finish();
}

TEST(SignatureTest, PercentEncodingFollowsTheServiceRules) {
  EXPECT_EQ(PercentEncode("AZaz09-_.~"), "AZaz09-_.~");
  EXPECT_EQ(PercentEncode(" "), "%20");
  EXPECT_EQ(PercentEncode("*+/:=&%"), "%2A%2B%2F%3A%3D%26%25");
  EXPECT_EQ(PercentEncode("华"), "%E5%8D%8E");
  EXPECT_EQ(PercentEncode(std::string("\0\x7f", 2)), "%00%7F");
}

TEST(SignatureTest, DecodingReadsEscapesAndPlusAsSpace) {
  EXPECT_EQ(*PercentDecode("a%20b+c%2Bd%e5%8D%8e"), "a b c+d华");
  EXPECT_FALSE(PercentDecode("%").ok());
  EXPECT_FALSE(PercentDecode("%4").ok());
  EXPECT_FALSE(PercentDecode("%zz").ok());
  EXPECT_FALSE(PercentDecode("ab%G1").ok());
}

TEST(SignatureTest, QuerySplittingSkipsEmptySegmentsAndKeepsOrder) {
  auto params = ParseQuery("b=2&&a=1&flag&Signature=x%2By%3D");
  ASSERT_TRUE(params.ok());
  ASSERT_EQ(params->size(), 4u);
  EXPECT_EQ((*params)[0].name, "b");
  EXPECT_EQ((*params)[1].name, "a");
  EXPECT_EQ((*params)[2].name, "flag");
  EXPECT_EQ((*params)[2].value, "");
  EXPECT_EQ((*params)[3].value, "x+y=");
  auto bad = ParseQuery("good=1&bad%=2");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.status().message(), "bad%");
}

TEST(SignatureTest, SortsByNameThenValueNotByWholeText) {
  // "Tag2=x" sorts before "Tag=y" as whole texts; the service sorts by name.
  const std::vector<QueryParam> params = {{"Tag2", "x"},
                                          {"Tag", "y"},
                                          {"StageName", "PUBLIC"},
                                          {"StageName", "APP"},
                                          {"Signature", "s"}};
  EXPECT_EQ(CanonicalQuery(params), "StageName=APP&StageName=PUBLIC&Tag=y&Tag2=x");
}

TEST(SignatureTest, AgreesWithTheReferenceSignerOnRandomParameters) {
  constexpr char kSecret[] = "random-round-secret";
  testing::SimAudit audit;
  audit.Secret(kSecret);
  std::mt19937 random(7);
  const std::string alphabet = " !\"#$%&'()*+,-./0123456789:;<=>?@ABCXYZ[\\]^_`abcxyz{|}~华北东";
  for (int round = 0; round < 200; ++round) {
    testing::Params ref;
    std::vector<QueryParam> ours;
    const int count = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < count; ++i) {
      std::string name(1, 'P');  // not "P" + string: g++ 12's -Wrestrict misfires on it
      name += std::to_string(random() % 4);
      std::string value;
      const int length = static_cast<int>(random() % 12);
      for (int k = 0; k < length; ++k) value.push_back(alphabet[random() % alphabet.size()]);
      ref.emplace_back(name, value);
      ours.push_back({name, value});
    }
    const std::string to_sign = StringToSign("GET", CanonicalQuery(ours));
    EXPECT_EQ(to_sign, testing::RefStringToSign(ref));
    const std::string signature = ComputeSignature(kSecret, to_sign);
    EXPECT_EQ(signature, testing::RefSignature(kSecret, to_sign));
    audit.CheckText("a signature", signature);
  }
  audit.Finish();
}

TEST(SignatureTest, SignatureComparison) {
  EXPECT_TRUE(SignaturesEqual("abc=", "abc="));
  EXPECT_FALSE(SignaturesEqual("abc=", "abd="));
  EXPECT_FALSE(SignaturesEqual("abc", "abc="));
  EXPECT_EQ(Base64("hello"), "aGVsbG8=");
}

TEST(ClockTest, ParsesTheServiceTimestampForms) {
  EXPECT_EQ(ParseTimestamp("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseTimestamp("2016-02-23T12:46:24Z"), 1456231584000);
  EXPECT_EQ(ParseTimestamp("2016-02-23T12:46:24.5Z"), 1456231584500);
  EXPECT_EQ(ParseTimestamp("2024-02-29T23:59:59Z"), 1709251199000);
  for (const char* bad : {"", "2016-02-23 12:46:24Z", "2016-02-23T12:46:24", "2016-02-30T00:00:00Z",
                          "2016-13-01T00:00:00Z", "2016-02-23T24:00:00Z", "2016-02-23T12:46:24.Z",
                          "2016-02-23T12%3A46%3A24Z", "2016-02-23T12:46:24Zjunk"}) {
    EXPECT_FALSE(ParseTimestamp(bad).has_value()) << bad;
  }
}

TEST(ClockTest, FormatsTimestampsAndHttpDates) {
  EXPECT_EQ(FormatTimestamp(1456231584000), "2016-02-23T12:46:24Z");
  EXPECT_EQ(FormatMinuteTimestamp(1456231584000), "2016-02-23T12:46Z");
  EXPECT_EQ(FormatHttpDate(1456231584000), "Tue, 23 Feb 2016 12:46:24 GMT");
  EXPECT_EQ(FormatHttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  ManualClock clock(5);
  clock.AdvanceMillis(10);
  EXPECT_EQ(clock.NowMillis(), 15);
}

}  // namespace
}  // namespace kestrune::sim
