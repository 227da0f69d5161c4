#include "engine/diagnosis.h"

#include <gtest/gtest.h>

#include <string>

#include "request/http_message.h"

namespace kestrune::engine {
namespace {

using Kind = SignatureDiagnosis::Kind;

constexpr std::string_view kOurs =
    "GET&%2F&AccessKeyId%3Dtestid%26Action%3DDescribeRegions%26Format%3DXML%26"
    "RegionId%3Dcn-hangzhou%26Timestamp%3D2016-02-23T12%253A46%253A24Z";

std::string Message(std::string_view theirs) {
  return "Specified signature is not matched with our calculation. server string to sign is:" +
         std::string(theirs);
}

// Version 3: the canonical requests are compared line by line.
TEST(SignatureDiagnosisTest, VersionThreeNamesThePartThatDiffers) {
  const std::string ours =
      "GET\n/\nFormat=xml&RegionId=cn-hangzhou\nhost:ecs.aliyuncs.com\nx-acs-action:A\n\n"
      "host;x-acs-action\ne3b0";
  EXPECT_EQ(DiagnoseSignature(ours, Message(ours)).kind, Kind::kSameString);
  std::string changed = ours;
  changed.replace(changed.find("cn-hangzhou"), 11, "cn-beijing");
  const SignatureDiagnosis query = DiagnoseSignature(ours, Message(changed));
  EXPECT_EQ(query.kind, Kind::kValueDiffers);
  EXPECT_EQ(query.parameter, "the query");
  EXPECT_EQ(query.theirs, "Format=xml&RegionId=cn-beijing");
  EXPECT_EQ(DiagnoseSignature(ours, Message("POST" + ours.substr(3))).kind, Kind::kMethodDiffers);
}

TEST(SignatureDiagnosisTest, NamesWhatDiffersOrBlamesTheSecret) {
  EXPECT_EQ(DiagnoseSignature(kOurs, Message(kOurs)).kind, Kind::kSameString);

  std::string changed(kOurs);
  changed.replace(changed.find("cn-hangzhou"), 11, "cn-shanghai");
  SignatureDiagnosis value = DiagnoseSignature(kOurs, Message(changed));
  EXPECT_EQ(value.kind, Kind::kValueDiffers);
  EXPECT_EQ(value.parameter, "RegionId");
  EXPECT_EQ(value.theirs, "RegionId%3Dcn-shanghai");

  std::string reencoded(kOurs);
  reencoded.replace(reencoded.find("%253A46"), 7, "%253a46");
  EXPECT_NE(DiagnoseSignature(kOurs, Message(reencoded)).notes.back().find("encoded another way"),
            std::string::npos);

  std::string dropped(kOurs);
  dropped.erase(dropped.find("%26RegionId"), std::string_view("%26RegionId%3Dcn-hangzhou").size());
  SignatureDiagnosis gone = DiagnoseSignature(kOurs, Message(dropped));
  EXPECT_EQ(gone.kind, Kind::kDropped);
  EXPECT_EQ(gone.parameter, "RegionId");

  std::string added(kOurs);
  added.insert(added.find("%26RegionId"), "%26PageSize%3D10");
  EXPECT_EQ(DiagnoseSignature(kOurs, Message(added)).parameter, "PageSize");

  std::string post(kOurs);
  post.replace(0, 3, "POST");
  EXPECT_EQ(DiagnoseSignature(kOurs, Message(post)).kind, Kind::kMethodDiffers);
}

TEST(SignatureDiagnosisTest, UnreadableMessagesGiveNoDiagnosis) {
  for (const std::string& message :
       {std::string("Specified signature is not matched with our calculation."), Message(""),
        Message("garbage without a path"), Message("get&%2F&A%3D1")}) {
    SignatureDiagnosis diagnosis = DiagnoseSignature(kOurs, message);
    EXPECT_EQ(diagnosis.kind, Kind::kNotPossible) << message;
    ASSERT_FALSE(diagnosis.notes.empty());
  }
}

TEST(ClockOffsetTest, ReadsTheDateHeader) {
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpDate("Tue, 29 Feb 2028 00:00:00 GMT"), 1835395200);
  for (std::string_view bad : {"", "Sun, 06 Nov 1994 08:49:37 UTC", "Sun, 06 Foo 1994 08:49:37 GMT",
                               "Sunday, 06-Nov-94 08:49:37 GMT", "Sun, 06 Nov 1994 24:49:37 GMT"}) {
    EXPECT_FALSE(ParseHttpDate(bad)) << bad;
  }
  const std::string raw =
      "HTTP/1.1 400 Bad Request\r\nContent-Type: text/xml\r\n"
      "date:  Sun, 06 Nov 1994 09:09:37 GMT\r\n\r\n<Error/>";
  const auto local = std::chrono::system_clock::time_point(std::chrono::seconds(784111777));
  EXPECT_EQ(ClockOffset(request::ParseHttpHead(raw).value(), local), std::chrono::seconds(1200));
  EXPECT_EQ(DescribeOffset(std::chrono::seconds(1200)), "20 min 0 s behind");
  EXPECT_FALSE(ClockOffset(
      request::ParseHttpHead("HTTP/1.1 200 OK\r\n\r\nDate: Sun, 06 Nov 1994 09:09:37 GMT").value(),
      local));
}

}  // namespace
}  // namespace kestrune::engine
