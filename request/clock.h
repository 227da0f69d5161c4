// The clock a request is stamped from, and the nonce and timestamp texts made
// from it.
//
// A Clock reads the current instant in UTC with milliseconds. SystemClock reads
// the system's UTC time; FixedClock always returns the instant it was given,
// so tests and dry runs produce the same request every time.
//
// MakeNonce and MakeTimestamps read the clock once each; they are stateless.
// SystemClock is safe from any thread; a FixedClock may be read from several
// threads as long as no thread calls Set meanwhile.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune::request {

// A calendar instant in UTC. Requires year 0..9999, month 1..12, day 1..31,
// hour 0..23, minute 0..59, second 0..59 (a leap second may read 60) and
// millisecond 0..999.
struct UtcInstant {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual UtcInstant NowUtc() const = 0;
  // A value that differs between requests even within one millisecond, for the
  // nonce; 0 means "none" and leaves the nonce to the millisecond alone.
  virtual std::uint64_t NonceSalt() const { return 0; }
};

// Reads the system's UTC time. Its nonce salt is random per process and
// never repeats within it.
class SystemClock final : public Clock {
 public:
  SystemClock();
  UtcInstant NowUtc() const override;
  std::uint64_t NonceSalt() const override;

 private:
  std::uint64_t seed_;
  mutable std::atomic<std::uint64_t> counter_{0};
};

class FixedClock final : public Clock {
 public:
  explicit FixedClock(const UtcInstant& instant) : instant_(instant) {}
  UtcInstant NowUtc() const override { return instant_; }
  void Set(const UtcInstant& instant) { instant_ = instant; }

 private:
  UtcInstant instant_;
};

// Another clock's time moved by an offset: a local clock corrected by what the
// service's clock reads. The nonce salt is the base clock's.
class ShiftedClock final : public Clock {
 public:
  ShiftedClock(const Clock& base, std::chrono::seconds offset) : base_(base), offset_(offset) {}
  UtcInstant NowUtc() const override;
  std::uint64_t NonceSalt() const override { return base_.NonceSalt(); }

 private:
  const Clock& base_;
  std::chrono::seconds offset_;
};

// The instant as a point on the system clock's scale, and back.
std::chrono::sys_time<std::chrono::milliseconds> ToTimePoint(const UtcInstant& instant);
UtcInstant FromTimePoint(std::chrono::sys_time<std::chrono::milliseconds> point);

inline constexpr std::size_t kNonceLength = 7;
inline constexpr std::size_t kSignTimestampLength = 28;
inline constexpr std::size_t kUrlTimestampLength = 24;

// The millisecond of the current UTC time in decimal, without leading zeros,
// followed by "0"s up to kNonceLength characters (millisecond 45 gives
// "4500000", millisecond 0 gives "0000000"); then, when the clock gives a
// nonce salt, "-" and the salt as 16 lower-case hex digits. The millisecond
// alone has fewer than a thousand values, and the service refuses a nonce
// seen in the last 15 minutes, so without the salt a busy user would run out
// of nonces; clocks made for tests give none and keep the nonce reproducible.
std::string MakeNonce(const Clock& clock);
// The same from a time already read and the clock's salt.
std::string MakeNonce(const UtcInstant& now, std::uint64_t salt);
// The longest nonce: the millisecond part, "-" and the salt.
inline constexpr std::size_t kMaxNonceLength = kNonceLength + 1 + 16;

// The current UTC time in the two forms a request carries: the signed form
// "YYYY-MM-DDTHH%253Amm%253AssZ" (28 characters) and the sent form
// "YYYY-MM-DDTHH%3Amm%3AssZ" (24 characters), both from one reading.
struct Timestamps {
  std::string sign_form;
  std::string url_form;
};
Timestamps MakeTimestamps(const Clock& clock);
// The same from a time already read.
Timestamps MakeTimestamps(const UtcInstant& now);

// The nonce and both timestamps of one request from one reading, held in
// the object itself: for a caller that needs no strings of its own. They
// hold only digits, lower-case hex letters, "-", "T", "Z" and the colon's
// escaped forms, none of which a request's escaping changes.
class RequestStamps {
 public:
  RequestStamps(const UtcInstant& now, std::uint64_t salt);
  std::string_view nonce() const { return {nonce_.data(), nonce_size_}; }
  std::string_view sign_form() const { return {sign_form_.data(), sign_form_.size()}; }
  std::string_view url_form() const { return {url_form_.data(), url_form_.size()}; }

 private:
  std::array<char, kMaxNonceLength> nonce_{};
  std::size_t nonce_size_ = 0;
  std::array<char, kSignTimestampLength> sign_form_{};
  std::array<char, kUrlTimestampLength> url_form_{};
};

}  // namespace kestrune::request
