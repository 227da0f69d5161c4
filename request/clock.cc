#include "request/clock.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <string_view>
#include <utility>

namespace kestrune::request {
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
  const UtcInstant now = clock.NowUtc();
  return MakeNonce(now, clock.NonceSalt());
}

std::string MakeNonce(const UtcInstant& now, std::uint64_t salt) {
  static constexpr char kHex[] = "0123456789abcdef";
  char nonce[kNonceLength + 1 + 16];
  // The millisecond without leading zeros, then "0"s: 45 gives "4500000".
  int millisecond = now.millisecond;
  int digits = millisecond >= 100 ? 3 : millisecond >= 10 ? 2 : 1;
  std::fill(nonce + digits, nonce + kNonceLength, '0');
  for (int i = digits - 1; i >= 0; --i) {
    nonce[i] = static_cast<char>('0' + millisecond % 10);
    millisecond /= 10;
  }
  std::size_t length = kNonceLength;
  if (salt != 0) {
    nonce[length++] = '-';
    for (int shift = 60; shift >= 0; shift -= 4) nonce[length++] = kHex[(salt >> shift) & 15];
  }
  return std::string(nonce, length);
}

Timestamps MakeTimestamps(const Clock& clock) { return MakeTimestamps(clock.NowUtc()); }

Timestamps MakeTimestamps(const UtcInstant& now) {
  // "YYYY-MM-DDTHH" then the colon's escaped form between the minutes and
  // the seconds: written once in a buffer, then copied into each form.
  std::array<char, kSignTimestampLength> text{};
  const auto put_digits = [&text](std::size_t at, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
      text[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
  };
  Timestamps stamps;
  for (auto [form, colon] : {std::pair{&stamps.sign_form, std::string_view("%253A")},
                             std::pair{&stamps.url_form, std::string_view("%3A")}}) {
    std::size_t at = 0;
    const auto put_text = [&text, &at](std::string_view piece) {
      at += piece.copy(text.data() + at, piece.size());
    };
    put_digits(at, now.year, 4);
    at += 4;
    put_text("-");
    put_digits(at, now.month, 2);
    at += 2;
    put_text("-");
    put_digits(at, now.day, 2);
    at += 2;
    put_text("T");
    put_digits(at, now.hour, 2);
    at += 2;
    put_text(colon);
    put_digits(at, now.minute, 2);
    at += 2;
    put_text(colon);
    put_digits(at, now.second, 2);
    at += 2;
    put_text("Z");
    form->assign(text.data(), at);
  }
  return stamps;
}

}  // namespace kestrune::request
