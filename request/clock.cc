#include "request/clock.h"

#include <chrono>
#include <random>

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
  return FromTimePoint(
      std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now()));
}

UtcInstant ShiftedClock::NowUtc() const {
  return FromTimePoint(ToTimePoint(base_.NowUtc()) + offset_);
}

std::chrono::sys_time<std::chrono::milliseconds> ToTimePoint(const UtcInstant& instant) {
  using namespace std::chrono;
  const sys_days date{year{instant.year} / month{static_cast<unsigned>(instant.month)} /
                      day{static_cast<unsigned>(instant.day)}};
  return date + hours{instant.hour} + minutes{instant.minute} + seconds{instant.second} +
         milliseconds{instant.millisecond};
}

UtcInstant FromTimePoint(std::chrono::sys_time<std::chrono::milliseconds> now) {
  using namespace std::chrono;
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

SystemClock::SystemClock() {
  std::random_device device;
  seed_ = (std::uint64_t{device()} << 32) ^ device() ^
          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

// splitmix64 over a counter: distinct for every call of this process (the map
// is a bijection), and unpredictable from one process to the next.
std::uint64_t SystemClock::NonceSalt() const {
  std::uint64_t z = seed_ + 0x9E3779B97F4A7C15ull * (counter_.fetch_add(1) + 1);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return z == 0 ? 1 : z;
}

std::string MakeNonce(const Clock& clock) {
  const int millisecond = clock.NowUtc().millisecond;
  std::string nonce = std::to_string(millisecond);
  nonce.resize(kNonceLength, '0');
  if (const std::uint64_t salt = clock.NonceSalt(); salt != 0) {
    static constexpr char kHex[] = "0123456789abcdef";
    nonce += '-';
    for (int shift = 60; shift >= 0; shift -= 4) nonce += kHex[(salt >> shift) & 15];
  }
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
