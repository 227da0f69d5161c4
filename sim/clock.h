// Time for the simulator: a clock interface (so tests can pin "now"), the
// service's ISO 8601 timestamp parser and formatter.
//
// SystemClock and ManualClock are safe to read from any thread; ManualClock
// may be set from one thread while the server reads it from another.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune::sim {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since 1970-01-01T00:00:00Z.
  virtual std::int64_t NowMillis() const = 0;
};

class SystemClock final : public Clock {
 public:
  std::int64_t NowMillis() const override;
};

class ManualClock final : public Clock {
 public:
  explicit ManualClock(std::int64_t millis = 0) : millis_(millis) {}
  std::int64_t NowMillis() const override { return millis_.load(); }
  void SetMillis(std::int64_t millis) { millis_.store(millis); }
  void AdvanceMillis(std::int64_t delta) { millis_.fetch_add(delta); }

 private:
  std::atomic<std::int64_t> millis_;
};

// Another clock shifted by a fixed amount: a server whose clock is off, so
// that a client's handling of clock skew can be tried against it.
class OffsetClock final : public Clock {
 public:
  OffsetClock(const Clock& base, std::int64_t offset_millis)
      : base_(base), offset_millis_(offset_millis) {}
  std::int64_t NowMillis() const override { return base_.NowMillis() + offset_millis_; }

 private:
  const Clock& base_;
  std::int64_t offset_millis_;
};

// Parses "YYYY-MM-DDThh:mm:ssZ" (optionally with ".fff" fractions before the
// "Z") into milliseconds since the epoch. Anything else gives nullopt.
std::optional<std::int64_t> ParseTimestamp(std::string_view text);

// "YYYY-MM-DDThh:mm:ssZ" for the given instant (second precision).
std::string FormatTimestamp(std::int64_t millis);
// "YYYY-MM-DDThh:mmZ", the form ECS uses for creation and expiry times.
std::string FormatMinuteTimestamp(std::int64_t millis);
// RFC 7231 date for the Date header, e.g. "Tue, 23 Feb 2016 12:46:24 GMT".
std::string FormatHttpDate(std::int64_t millis);

}  // namespace kestrune::sim
