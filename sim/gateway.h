// The simulator's front door: takes one parsed HTTP request and answers it as
// the service would — method, common parameters, AccessKey, timestamp,
// signature, nonce, version, action and action parameters, in that order —
// then runs the action against the World. Also decides the fault (if any)
// that the server should play on the connection.
//
// Thread-safe: Handle() serialises on an internal mutex.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sim/catalog.h"
#include "sim/clock.h"
#include "sim/http.h"
#include "sim/world.h"

namespace kestrune::sim {

class MetadataService;

// The documented key pair used when no key is given.
inline constexpr std::string_view kDemoAccessKeyId = "kestrune-demo-id";
inline constexpr std::string_view kDemoAccessKeySecret = "kestrune-demo-secret";

struct AccessKey {
  std::string id;
  std::string secret;
  // Set for a temporary (STS) key: a request signed with it must carry this
  // SecurityToken.
  std::optional<std::string> security_token{};
  // A key the simulator's token service issued: refused from this instant on
  // (milliseconds since the epoch; 0 for a key that does not expire).
  std::int64_t expires_ms = 0;
};

// Fault modes for tests. Counts say how many requests get the fault; each is
// used up in arrival order. Every value is bounded by the command line.
struct FaultPlan {
  int nonce_used = 0;   // answer SignatureNonceUsed to the first N good requests
  int delay_ms = 0;     // hold every reply this long
  int close = 0;        // close the first N connections without a reply
  int half = 0;         // send half of the first N replies, then reset
  int bad_gateway = 0;  // answer the first N requests with 502 and an HTML page
  int big_mib = 0;      // pad every good reply to this many MiB
  int page = 0;         // answer the Nth good request for a later page with 500
  // Answer the first N requests 503 ServiceUnavailable with x-acs-retry-after:
  // the service did not act.
  int unavailable = 0;
  // Carry out the first N requests that would be answered well, then reset
  // the connection instead of replying: the client cannot know it was done.
  int reset = 0;
  // Answer UnsupportedSignatureVersion to the first N requests signed in
  // version 1, as an action that takes only version 3 does.
  int unsupported_v1 = 0;
  // Verify every signature over a string to sign in which this parameter's
  // value was altered, as a proxy that rewrote it would make the service do
  // (empty: none).
  std::string alter{};
};

// What the alter fault appends to the parameter's value.
inline constexpr std::string_view kAlteredSuffix = "-altered";

struct GatewayOptions {
  std::vector<AccessKey> keys{};             // empty: the demo key pair
  std::optional<Service> default_service{};  // for hosts that name no service; else ECS
  std::int64_t timestamp_window_ms = 15 * 60 * 1000;
  // A nonce is kept this long, however many come meanwhile (0 disables the
  // replay check); memory is bounded by the rate requests pass the checks.
  std::int64_t nonce_window_ms = 15 * 60 * 1000;
  FaultPlan faults{};
  SeedPlan seed{};  // the instances the account starts with
  // Replies to requests whose RegionId is the key wait this much longer,
  // so that callers can see replies arrive out of the order they were sent.
  std::map<std::string, int, std::less<>> region_latency_ms{};
  // Past this many requests in any one second (of the clock) from one
  // AccessKey, answer Throttling.User with the rate-limit headers; 0: no
  // limit.
  int throttle_rate = 0;
  // The RAM role of the instance whose metadata service the simulator plays.
  std::string instance_role = "kestrune-sim-role";
  // When set, each temporary key issued is appended to this file, so that a
  // test can check its secret and token appear nowhere they should not.
  std::string issued_keys_file{};
  // How long a started or stopped instance stays Starting or Stopping.
  std::int64_t transition_ms = 0;
};

// The most temporary keys the token service keeps valid at once; past it the
// oldest is forgotten.
inline constexpr std::size_t kIssuedKeyLimit = 10000;

// The span --throttle counts requests over.
inline constexpr std::int64_t kThrottleWindowMs = 1000;

// The wait a 503 fault asks for, in x-acs-retry-after (milliseconds).
inline constexpr int kUnavailableRetryAfterMs = 300;

// What the server does with the connection.
enum class Disposition { kReply, kCloseWithoutReply, kHalfThenReset, kResetWithoutReply };

struct Outcome {
  HttpResponse response;
  Disposition disposition = Disposition::kReply;
  int delay_ms = 0;
  // For the request log: service, action (as sent, may be empty) and outcome
  // ("ok" or the error code).
  std::string service;
  std::string action;
  std::string outcome;
  // The request's SignatureNonce and ClientToken as sent (empty when absent),
  // for a log that shows what a client sent again.
  std::string nonce;
  std::string client_token;
};

class Gateway {
 public:
  Gateway(GatewayOptions options, const Clock& clock);
  ~Gateway();

  Outcome Handle(const HttpRequest& request);
  // The answer to a request the HTTP parser refused (status 400, 408 or 431).
  Outcome Malformed(int status, std::string_view reason);

 private:
  struct ErrorReply {
    int status;
    std::string code;
    std::string message;
  };
  Outcome HandleLocked(const HttpRequest& request, std::int64_t now);
  HttpResponse ErrorResponse(const ErrorReply& error, std::string_view host,
                             std::string_view request_id, bool json) const;
  std::string NewRequestId();
  // Adds a key the token service issued, forgetting expired ones first.
  void RememberIssuedKey(AccessKey key, std::int64_t now);
  // Records the nonce; false when it was seen from this key inside the window.
  bool RecordNonce(std::string_view key_id, std::string_view nonce, std::int64_t now);

  GatewayOptions options_;
  const Clock& clock_;
  std::mutex mutex_;
  World world_;
  std::mt19937_64 random_;
  struct NonceEntry {
    std::string key;  // key id + '\n' + nonce
    std::int64_t seen_ms;
  };
  std::deque<NonceEntry> nonce_order_;
  std::unordered_map<std::string, std::int64_t> nonces_;
  FaultPlan remaining_;
  std::unique_ptr<MetadataService> metadata_;
  // Per AccessKey id: when each request of the last second (of the clock)
  // was accepted, oldest first; at most throttle_rate of them.
  std::unordered_map<std::string, std::deque<std::int64_t>> throttle_;
};

}  // namespace kestrune::sim
