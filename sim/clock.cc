#include "sim/clock.h"

#include <chrono>
#include <cstdio>

namespace kestrune::sim {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
  std::int64_t year;
  unsigned month, day, hour, minute, second, weekday;
};

Civil CivilFromMillis(std::int64_t millis) {
  std::int64_t secs = millis >= 0 ? millis / 1000 : (millis - 999) / 1000;
  std::int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
  const std::int64_t rem = secs - days * 86400;
  Civil c{};
  c.hour = static_cast<unsigned>(rem / 3600);
  c.minute = static_cast<unsigned>(rem % 3600 / 60);
  c.second = static_cast<unsigned>(rem % 60);
  c.weekday = static_cast<unsigned>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  c.day = doy - (153 * mp + 2) / 5 + 1;
  c.month = mp < 10 ? mp + 3 : mp - 9;
  c.year = static_cast<std::int64_t>(yoe) + era * 400 + (c.month <= 2);
  return c;
}

bool Digits(std::string_view text, std::size_t pos, std::size_t count, unsigned& out) {
  if (pos + count > text.size()) return false;
  out = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    out = out * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

std::int64_t SystemClock::NowMillis() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::optional<std::int64_t> ParseTimestamp(std::string_view text) {
  unsigned year, month, day, hour, minute, second;
  if (text.size() < 20) return std::nullopt;
  if (!Digits(text, 0, 4, year) || text[4] != '-' || !Digits(text, 5, 2, month) || text[7] != '-' ||
      !Digits(text, 8, 2, day) || text[10] != 'T' || !Digits(text, 11, 2, hour) ||
      text[13] != ':' || !Digits(text, 14, 2, minute) || text[16] != ':' ||
      !Digits(text, 17, 2, second)) {
    return std::nullopt;
  }
  std::size_t pos = 19;
  unsigned millis = 0;
  if (text[pos] == '.') {
    std::size_t digits = 0;
    ++pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 9) {
      if (digits < 3) millis = millis * 10 + static_cast<unsigned>(text[pos] - '0');
      ++digits;
      ++pos;
    }
    if (digits == 0) return std::nullopt;
    for (std::size_t d = digits; d < 3; ++d) millis *= 10;
  }
  if (pos + 1 != text.size() || text[pos] != 'Z') return std::nullopt;
  static constexpr unsigned kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || month < 1 || month > 12 || day < 1) return std::nullopt;
  const unsigned month_days = kDaysIn[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  if (day > month_days || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const std::int64_t days = DaysFromCivil(year, month, day);
  return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000LL + millis;
}

std::string FormatTimestamp(std::int64_t millis) {
  const Civil c = CivilFromMillis(millis);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02uZ",
                static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second);
  return buffer;
}

std::string FormatMinuteTimestamp(std::int64_t millis) {
  const Civil c = CivilFromMillis(millis);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02uZ",
                static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute);
  return buffer;
}

std::string FormatHttpDate(std::int64_t millis) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const Civil c = CivilFromMillis(millis);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s, %02u %s %04lld %02u:%02u:%02u GMT", kDays[c.weekday],
                c.day, kMonths[c.month - 1], static_cast<long long>(c.year), c.hour, c.minute,
                c.second);
  return buffer;
}

}  // namespace kestrune::sim
