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

namespace {

// Writes the nonce into `out` (room for kMaxNonceLength); returns its length.
std::size_t WriteNonce(const UtcInstant& now, std::uint64_t salt, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  // The millisecond without leading zeros, then "0"s: 45 gives "4500000".
  int millisecond = now.millisecond;
  const int digits = millisecond >= 100 ? 3 : millisecond >= 10 ? 2 : 1;
  std::fill(out + digits, out + kNonceLength, '0');
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + millisecond % 10);
    millisecond /= 10;
  }
  std::size_t length = kNonceLength;
  if (salt != 0) {
    out[length++] = '-';
    for (int shift = 60; shift >= 0; shift -= 4) out[length++] = kHex[(salt >> shift) & 15];
  }
  return length;
}

// Writes "YYYY-MM-DDTHH<colon>mm<colon>ssZ" into `out`, which has exactly
// its room.
template <std::size_t kSize>
void WriteTimestamp(const UtcInstant& now, std::string_view colon, std::array<char, kSize>& out) {
  std::size_t at = 0;
  const auto put_digits = [&out, &at](int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
      out[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    at += static_cast<std::size_t>(width);
  };
  const auto put_text = [&out, &at](std::string_view piece) {
    at += piece.copy(out.data() + at, out.size() - at);
  };
  put_digits(now.year, 4);
  put_text("-");
  put_digits(now.month, 2);
  put_text("-");
  put_digits(now.day, 2);
  put_text("T");
  put_digits(now.hour, 2);
  put_text(colon);
  put_digits(now.minute, 2);
  put_text(colon);
  put_digits(now.second, 2);
  put_text("Z");
}

}  // namespace

RequestStamps::RequestStamps(const UtcInstant& now, std::uint64_t salt)
    : nonce_size_(WriteNonce(now, salt, nonce_.data())) {
  WriteTimestamp(now, "%253A", sign_form_);
  WriteTimestamp(now, "%3A", url_form_);
}

std::string MakeNonce(const UtcInstant& now, std::uint64_t salt) {
  std::array<char, kMaxNonceLength> nonce{};
  return std::string(nonce.data(), WriteNonce(now, salt, nonce.data()));
}

Timestamps MakeTimestamps(const Clock& clock) { return MakeTimestamps(clock.NowUtc()); }

Timestamps MakeTimestamps(const UtcInstant& now) {
  const RequestStamps stamps(now, 0);
  return Timestamps{std::string(stamps.sign_form()), std::string(stamps.url_form())};
}

}  // namespace kestrune::request
