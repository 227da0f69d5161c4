#include "engine/retry.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/ascii.h"

namespace kestrune::engine {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// A decimal count of milliseconds, at most a day (more is taken as a day).
std::optional<std::chrono::milliseconds> ParseMillis(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return std::chrono::milliseconds(std::min<std::int64_t>(value, 24LL * 3600 * 1000));
}

// The TimeLeft of "Limit:…,Remain:…,TimeLeft:…,Reset:…".
std::optional<std::chrono::milliseconds> TimeLeft(std::string_view value) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    const std::string_view item = Trim(value.substr(0, comma));
    const std::size_t colon = item.find(':');
    if (colon != std::string_view::npos &&
        core::EqualsIgnoreCase(Trim(item.substr(0, colon)), "TimeLeft")) {
      return ParseMillis(item.substr(colon + 1));
    }
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return std::nullopt;
}

}  // namespace

Verdict DecideRetry(Failure failure, catalogue::ActionKind kind) {
  switch (failure) {
    case Failure::kServiceRefused:
    case Failure::kNotSent:
      return Verdict::kRetry;
    case Failure::kOutcomeUnknown:
      return kind == catalogue::ActionKind::kMutating ? Verdict::kStopOutcomeUnknown
                                                      : Verdict::kRetry;
    case Failure::kFinal:
      break;
  }
  return Verdict::kStop;
}

Failure ClassifyErrorReply(int http_status, std::optional<std::string_view> code, bool asks_retry) {
  if (asks_retry) return Failure::kServiceRefused;
  if (code && (*code == "Throttling" || code->starts_with("Throttling.") ||
               *code == "ServiceUnavailable" || *code == "SignatureNonceUsed")) {
    return Failure::kServiceRefused;
  }
  if (http_status >= 500 && http_status <= 599) return Failure::kOutcomeUnknown;
  return Failure::kFinal;
}

Failure ClassifyExchangeFailure(transport::FailureStage stage) {
  switch (stage) {
    case transport::FailureStage::kBeforeSending:
      return Failure::kNotSent;
    case transport::FailureStage::kAfterSending:
      return Failure::kOutcomeUnknown;
    case transport::FailureStage::kNone:
    case transport::FailureStage::kFinal:
      break;
  }
  return Failure::kFinal;
}

std::optional<std::chrono::milliseconds> RequestedWait(const request::HttpHead& head) {
  std::optional<std::chrono::milliseconds> retry_after;
  std::optional<std::chrono::milliseconds> time_left;
  for (const request::HttpField& field : head.fields) {
    const std::string_view name = field.name;
    if (core::EqualsIgnoreCase(name, "x-acs-retry-after")) {
      if (!retry_after) retry_after = ParseMillis(field.value);
    } else if (name.size() > 12 && core::EqualsIgnoreCase(name.substr(0, 12), "x-ratelimit-")) {
      if (const std::optional<std::chrono::milliseconds> left = TimeLeft(field.value)) {
        time_left = std::max(time_left.value_or(*left), *left);
      }
    }
  }
  return retry_after ? retry_after : time_left;
}

bool AsksToRetry(const request::HttpHead& head) {
  return head.Find("x-acs-retry-after").has_value();
}

std::chrono::milliseconds BackoffWait(int retry, double unit) {
  std::chrono::milliseconds ceiling = kFirstBackoff;
  for (int k = 1; k < retry && ceiling < kLongestBackoff; ++k) ceiling *= 2;
  ceiling = std::min(ceiling, kLongestBackoff);
  unit = std::clamp(unit, 0.0, 1.0);
  return std::chrono::milliseconds(
      static_cast<std::int64_t>(static_cast<double>(ceiling.count()) * unit));
}

}  // namespace kestrune::engine
