// When the engine sends a request again, and after how long.
//
// A request goes again (signed afresh, over a new connection) only when the
// service cannot have acted on it, or when acting twice does no harm:
//   - the service said so: an error reply whose Code (the element or field,
//     never other text of the body) is Throttling or Throttling.*,
//     ServiceUnavailable or SignatureNonceUsed, or any reply that carries
//     x-acs-retry-after;
//   - nothing of it was written: no connection, a proxy or TLS failure;
//   - its outcome is unknown (written, then lost, timed out or reset, or a
//     5xx reply) and the action only reads or carries a ClientToken.
// A mutating action whose outcome is unknown is never sent again: the error
// says it may have been carried out.
//
// Stateless; safe from any thread.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

#include "catalogue/action_kind.h"
#include "request/http_message.h"
#include "transport/http.h"

namespace kestrune::engine {

// What an attempt that did not end the request came to.
enum class Failure {
  kFinal,           // a failure sending again cannot mend (an error reply, say)
  kServiceRefused,  // the service refused without acting (throttled, unavailable, nonce used)
  kNotSent,         // nothing of the request was written
  kOutcomeUnknown,  // written, then no full answer, or a 5xx: the service may have acted
};

enum class Verdict {
  kStop,                // report the failure as it is
  kRetry,               // send again
  kStopOutcomeUnknown,  // report it, saying the request may have been carried out
};

Verdict DecideRetry(Failure failure, catalogue::ActionKind kind);

// The failure an error reply (or a non-2xx reply without an error document)
// stands for. `code` is the reply's Code element or field, if it has one;
// `asks_retry` whether it carries x-acs-retry-after.
Failure ClassifyErrorReply(int http_status, std::optional<std::string_view> code, bool asks_retry);

// The failure of an exchange that ended without a reply.
Failure ClassifyExchangeFailure(transport::FailureStage stage);

// The wait a reply's head asks for: x-acs-retry-after (milliseconds), or
// else the longest TimeLeft of its x-ratelimit-* headers
// ("Limit:…,Remain:…,TimeLeft:…,Reset:…", milliseconds). nullopt: none.
std::optional<std::chrono::milliseconds> RequestedWait(const request::HttpHead& head);
// Whether the head carries x-acs-retry-after at all.
bool AsksToRetry(const request::HttpHead& head);

inline constexpr std::chrono::milliseconds kFirstBackoff{200};
inline constexpr std::chrono::milliseconds kLongestBackoff{20000};

// The wait before retry `retry` (1 for the first): exponential with full
// jitter, `unit` (in [0, 1)) of min(kLongestBackoff, kFirstBackoff·2^(retry−1)).
std::chrono::milliseconds BackoffWait(int retry, double unit);

}  // namespace kestrune::engine
