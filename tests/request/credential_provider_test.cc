#include "request/credential_provider.h"

#include <gtest/gtest.h>

#include <memory>

namespace kestrune::request {
namespace {

// Hands out keys "k1", "k2", ... each valid for `lifetime` from the clock's
// current reading (a negative lifetime: already expired).
class CountingProvider final : public CredentialProvider {
 public:
  CountingProvider(const Clock& clock, std::chrono::seconds lifetime, int& fetches)
      : clock_(clock), lifetime_(lifetime), fetches_(fetches) {}
  core::Result<IssuedCredentials> Fetch() override {
    ++fetches_;
    const auto now =
        std::chrono::time_point_cast<std::chrono::seconds>(ToTimePoint(clock_.NowUtc()));
    return IssuedCredentials{{"k" + std::to_string(fetches_), "secret", "token"}, now + lifetime_};
  }
  std::string Describe() const override { return "a test service"; }

 private:
  const Clock& clock_;
  std::chrono::seconds lifetime_;
  int& fetches_;
};

TEST(RenewingCredentialsTest, FetchesOnceAndRenewsInsideTheLastThreeMinutes) {
  FixedClock clock(UtcInstant{2026, 12, 8, 10, 0, 0, 0});
  int fetches = 0;
  RenewingCredentials renewing(
      std::make_unique<CountingProvider>(clock, std::chrono::hours(1), fetches), clock);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(renewing.Get().value().credentials.access_key_id, "k1");
  // 10:57:00 leaves exactly three minutes: still good.
  clock.Set(UtcInstant{2026, 12, 8, 10, 57, 0, 0});
  EXPECT_EQ(renewing.Get().value().credentials.access_key_id, "k1");
  clock.Set(UtcInstant{2026, 12, 8, 10, 57, 1, 0});
  EXPECT_EQ(renewing.Get().value().credentials.access_key_id, "k2");
  EXPECT_EQ(renewing.Get().value().credentials.access_key_id, "k2");
  EXPECT_EQ(fetches, 2);
}

TEST(RenewingCredentialsTest, RefusesCredentialsThatAreAlreadyStale) {
  FixedClock clock(UtcInstant{2026, 12, 8, 10, 0, 0, 0});
  for (const auto lifetime : {std::chrono::seconds(-60), std::chrono::seconds(179)}) {
    int fetches = 0;
    RenewingCredentials renewing(std::make_unique<CountingProvider>(clock, lifetime, fetches),
                                 clock);
    core::Result<IssuedCredentials> got = renewing.Get();
    ASSERT_FALSE(got.ok());
    EXPECT_NE(got.status().message().find("a test service"), std::string::npos);
    EXPECT_EQ(got.status().message().find("secret"), std::string::npos);
  }
}

TEST(ExpirationTest, ReadsTheServiceFormOnly) {
  const std::optional<CredentialTime> when = ParseExpiration("2024-02-29T23:59:58Z");
  ASSERT_TRUE(when);
  EXPECT_EQ(FormatExpiration(*when), "2024-02-29T23:59:58Z");
  for (const char* bad : {"2023-02-29T00:00:00Z", "2024-01-01T24:00:00Z", "2024-01-01 00:00:00Z",
                          "2024-01-01T00:00:00", "2024-1-01T00:00:00Z", ""}) {
    EXPECT_FALSE(ParseExpiration(bad)) << bad;
  }
}

}  // namespace
}  // namespace kestrune::request
