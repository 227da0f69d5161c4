#include "request/clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <string_view>

#include "request/query.h"

namespace kestrune::request {
namespace {

UtcInstant At(int year, int month, int day, int hour, int minute, int second, int ms) {
  return UtcInstant{year, month, day, hour, minute, second, ms};
}

TEST(MakeNonceTest, MillisecondsPaddedWithZerosToSevenDigits) {
  struct Case {
    int millisecond;
    const char* nonce;
  } cases[] = {{45, "4500000"}, {5, "5000000"},   {50, "5000000"},  {500, "5000000"},
               {0, "0000000"},  {999, "9990000"}, {100, "1000000"}, {7, "7000000"}};
  for (const Case& c : cases) {
    FixedClock clock(At(2024, 3, 5, 14, 7, 9, c.millisecond));
    EXPECT_EQ(MakeNonce(clock), c.nonce) << c.millisecond;
  }
}

TEST(MakeTimestampsTest, BothFormsFromOneReading) {
  FixedClock clock(At(2024, 3, 5, 14, 7, 9, 45));
  Timestamps stamps = MakeTimestamps(clock);
  EXPECT_EQ(stamps.sign_form, "2024-03-05T14%253A07%253A09Z");
  EXPECT_EQ(stamps.url_form, "2024-03-05T14%3A07%3A09Z");
  EXPECT_EQ(stamps.sign_form.size(), kSignTimestampLength);
  EXPECT_EQ(stamps.url_form.size(), kUrlTimestampLength);
}

TEST(MakeTimestampsTest, EndOfDayAndZeroPadding) {
  FixedClock late(At(1999, 12, 31, 23, 59, 59, 999));
  EXPECT_EQ(MakeTimestamps(late).url_form, "1999-12-31T23%3A59%3A59Z");
  EXPECT_EQ(MakeTimestamps(late).sign_form, "1999-12-31T23%253A59%253A59Z");
  FixedClock early(At(987, 1, 2, 0, 0, 0, 0));
  EXPECT_EQ(MakeTimestamps(early).url_form, "0987-01-02T00%3A00%3A00Z");
}

// The signer copies these texts without escaping them: nothing in them may
// be a character that an escape table replaces.
TEST(RequestStampsTest, HoldNothingTheEscapingWouldChange) {
  for (const UtcInstant& now : {At(2024, 3, 5, 14, 7, 9, 45), At(987, 1, 2, 0, 0, 0, 0)}) {
    for (const std::uint64_t salt :
         {std::uint64_t{0}, std::uint64_t{0x0123456789abcdef}, ~std::uint64_t{0}}) {
      const RequestStamps stamps(now, salt);
      for (const std::string_view text : {stamps.nonce(), stamps.sign_form(), stamps.url_form()}) {
        EXPECT_TRUE(IsPlainText(text, false)) << text;
      }
    }
  }
}

TEST(MakeTimestampsTest, EachCallReadsTheClockAgain) {
  FixedClock clock(At(2024, 3, 5, 14, 7, 9, 45));
  Timestamps first = MakeTimestamps(clock);
  clock.Set(At(2024, 3, 5, 14, 8, 9, 45));
  Timestamps second = MakeTimestamps(clock);
  EXPECT_EQ(first.url_form, "2024-03-05T14%3A07%3A09Z");
  EXPECT_EQ(second.url_form, "2024-03-05T14%3A08%3A09Z");
}

TEST(SystemClockTest, ReadsUtc) {
  // Compare with the C library's UTC breakdown; retry if a second boundary
  // falls between the two readings.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::time_t before = std::time(nullptr);
    const UtcInstant now = SystemClock().NowUtc();
    const std::time_t after = std::time(nullptr);
    if (before != after) continue;
    const std::tm utc = *std::gmtime(&before);
    EXPECT_EQ(now.year, utc.tm_year + 1900);
    EXPECT_EQ(now.month, utc.tm_mon + 1);
    EXPECT_EQ(now.day, utc.tm_mday);
    EXPECT_EQ(now.hour, utc.tm_hour);
    EXPECT_EQ(now.minute, utc.tm_min);
    EXPECT_EQ(now.second, utc.tm_sec);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
    return;
  }
  GTEST_SKIP() << "clock kept crossing second boundaries";
}

}  // namespace
}  // namespace kestrune::request

namespace kestrune::request {
namespace {

TEST(MakeNonceTest, SystemClockNoncesNeverRepeatWithinAMillisecond) {
  SystemClock clock;
  std::set<std::string> seen;
  for (int i = 0; i < 5000; ++i) {
    std::string nonce = MakeNonce(clock);
    // The millisecond form first, then the salt.
    ASSERT_EQ(nonce.size(), kNonceLength + 1 + 16) << nonce;
    EXPECT_EQ(nonce[kNonceLength], '-');
    EXPECT_TRUE(seen.insert(nonce).second) << "repeated nonce " << nonce;
  }
  // Another process (another clock) starts from another salt.
  SystemClock other;
  EXPECT_EQ(seen.count(MakeNonce(other)), 0u);
}

}  // namespace
}  // namespace kestrune::request
