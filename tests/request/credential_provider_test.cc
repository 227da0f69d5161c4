#include "request/credential_provider.h"

#include <gtest/gtest.h>

#include <memory>

namespace kestrune::request {
namespace {

// Hands out "k1", "k2", ..., each valid for `lifetime` from the clock's reading.
struct CountingProvider final : CredentialProvider {
  CountingProvider(const Clock& c, std::chrono::seconds l, int& count)
      : clock(c), lifetime(l), n(count) {}
  core::Result<IssuedCredentials> Fetch() override {
    const auto now =
        std::chrono::time_point_cast<std::chrono::seconds>(ToTimePoint(clock.NowUtc()));
    // Appended, not "k" + ...: MinGW g++ 12 warns falsely (-Wrestrict) of the operator form.
    std::string id = "k";
    id += std::to_string(++n);
    return IssuedCredentials{{id, "secret", "token"}, now + lifetime};
  }
  std::string Describe() const override { return "a test service"; }
  const Clock& clock;
  std::chrono::seconds lifetime;
  int& n;
};

TEST(RenewingCredentialsTest, FetchesOnceRenewsInsideThreeMinutesAndRefusesStaleKeys) {
  FixedClock clock(UtcInstant{2026, 12, 8, 10, 0, 0, 0});
  int fetches = 0;
  RenewingCredentials renewing(
      std::make_unique<CountingProvider>(clock, std::chrono::hours(1), fetches), clock);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(renewing.Get().value().credentials.access_key_id, "k1");
  clock.Set(UtcInstant{2026, 12, 8, 10, 57, 0, 0});  // exactly three minutes left
  EXPECT_EQ(renewing.Get().value().credentials.access_key_id, "k1");
  clock.Set(UtcInstant{2026, 12, 8, 10, 57, 1, 0});
  EXPECT_EQ(renewing.Get().value().credentials.access_key_id, "k2");
  RenewingCredentials stale(
      std::make_unique<CountingProvider>(clock, std::chrono::seconds(-60), fetches), clock);
  const core::Result<IssuedCredentials> got = stale.Get();
  ASSERT_FALSE(got.ok());
  EXPECT_NE(got.status().message().find("a test service"), std::string::npos);
}

TEST(ExpirationTest, ReadsTheServiceFormOnly) {
  ASSERT_TRUE(ParseExpiration("2024-02-29T23:59:58Z"));
  EXPECT_EQ(FormatExpiration(*ParseExpiration("2024-02-29T23:59:58Z")), "2024-02-29T23:59:58Z");
  for (const char* bad : {"2023-02-29T00:00:00Z", "2024-01-01T24:00:00Z", "2024-01-01T00:00:00"})
    EXPECT_FALSE(ParseExpiration(bad)) << bad;
}

}  // namespace
}  // namespace kestrune::request
