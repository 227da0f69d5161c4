#include "request/clock.h"

#include <chrono>

namespace kestrune::request {
namespace {

// Writes `value` as exactly `width` decimal digits.
void AppendDigits(std::string& out, int value, int width) {
  char digits[8];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

UtcInstant SystemClock::NowUtc() const {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{now - day};
  UtcInstant instant;
  instant.year = static_cast<int>(date.year());
  instant.month = static_cast<int>(static_cast<unsigned>(date.month()));
  instant.day = static_cast<int>(static_cast<unsigned>(date.day()));
  instant.hour = static_cast<int>(time.hours().count());
  instant.minute = static_cast<int>(time.minutes().count());
  instant.second = static_cast<int>(time.seconds().count());
  instant.millisecond = static_cast<int>(time.subseconds().count());
  return instant;
}

std::string MakeNonce(const Clock& clock) {
  const int millisecond = clock.NowUtc().millisecond;
  std::string nonce = std::to_string(millisecond);
  nonce.resize(kNonceLength, '0');
  return nonce;
}

Timestamps MakeTimestamps(const Clock& clock) {
  const UtcInstant now = clock.NowUtc();
  std::string date;
  date.reserve(11);
  AppendDigits(date, now.year, 4);
  date += '-';
  AppendDigits(date, now.month, 2);
  date += '-';
  AppendDigits(date, now.day, 2);
  date += 'T';

  Timestamps stamps;
  stamps.sign_form.reserve(kSignTimestampLength);
  stamps.url_form.reserve(kUrlTimestampLength);
  for (auto [form, colon] :
       {std::pair{&stamps.sign_form, "%253A"}, std::pair{&stamps.url_form, "%3A"}}) {
    *form = date;
    AppendDigits(*form, now.hour, 2);
    *form += colon;
    AppendDigits(*form, now.minute, 2);
    *form += colon;
    AppendDigits(*form, now.second, 2);
    *form += 'Z';
  }
  return stamps;
}

}  // namespace kestrune::request
