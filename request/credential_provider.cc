#include "request/credential_provider.h"

#include <cstdio>
#include <utility>

namespace kestrune::request {
namespace {

bool ReadNumber(std::string_view text, std::size_t at, std::size_t width, int& value) {
  value = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

std::optional<CredentialTime> ParseExpiration(std::string_view text) {
  // 2026-12-08T11:00:00Z
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  if (!ReadNumber(text, 0, 4, year) || !ReadNumber(text, 5, 2, month) ||
      !ReadNumber(text, 8, 2, day) || !ReadNumber(text, 11, 2, hour) ||
      !ReadNumber(text, 14, 2, minute) || !ReadNumber(text, 17, 2, second)) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
         std::chrono::seconds(second);
}

std::string FormatExpiration(CredentialTime when) {
  const UtcInstant instant =
      FromTimePoint(std::chrono::time_point_cast<std::chrono::milliseconds>(when));
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", instant.year, instant.month,
                instant.day, instant.hour, instant.minute, instant.second);
  return text;
}

RenewingCredentials::RenewingCredentials(std::unique_ptr<CredentialProvider> provider,
                                         const Clock& clock)
    : provider_(std::move(provider)), clock_(clock) {}

core::Result<IssuedCredentials> RenewingCredentials::Get() {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto now = std::chrono::time_point_cast<std::chrono::seconds>(ToTimePoint(clock_.NowUtc()));
  const auto fresh_enough = [&](const IssuedCredentials& issued) {
    return !issued.expiration || *issued.expiration - now >= kRenewalMargin;
  };
  if (cached_ && fresh_enough(*cached_)) return *cached_;
  cached_.reset();
  core::Result<IssuedCredentials> fetched = provider_->Fetch();
  if (!fetched.ok()) return fetched.status();
  if (!fresh_enough(fetched.value())) {
    return core::Status::Error("the credentials from " + provider_->Describe() + " expire at " +
                               FormatExpiration(*fetched.value().expiration) +
                               ", which is past or less than 3 minutes away (the clock reads " +
                               FormatExpiration(now) + "); nothing was sent");
  }
  cached_ = fetched.value();
  return *cached_;
}

}  // namespace kestrune::request
