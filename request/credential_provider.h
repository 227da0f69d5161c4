// Where credentials come from when they are not a fixed pair, and the cache
// that keeps temporary ones for as long as they are valid.
//
// A CredentialProvider fetches a pair from somewhere (a token service, an
// instance's metadata, a helper process) and says until when it is valid.
// RenewingCredentials asks its provider once, hands out the same pair to
// every request of the process, and asks again only when less than
// kRenewalMargin of validity remain: a fan-out over many regions or a long
// page walk costs one fetch, not one per request. Nothing is written to disk.
//
// A provider's Describe names the source for --debug and doctor; neither it
// nor any error here ever holds the secret or the token.
// RenewingCredentials is safe from any thread; a provider is called by one
// thread at a time.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/clock.h"
#include "request/credentials.h"

namespace kestrune::request {

using CredentialTime = std::chrono::sys_time<std::chrono::seconds>;

struct IssuedCredentials {
  Credentials credentials;
  // nullopt for a pair that does not expire.
  std::optional<CredentialTime> expiration = std::nullopt;
};

class CredentialProvider {
 public:
  virtual ~CredentialProvider() = default;
  virtual core::Result<IssuedCredentials> Fetch() = 0;
  virtual std::string Describe() const = 0;
};

inline constexpr std::chrono::minutes kRenewalMargin{3};

// "YYYY-MM-DDTHH:MM:SSZ", the form token services give an expiry in; nullopt
// for any other text or an impossible date.
std::optional<CredentialTime> ParseExpiration(std::string_view text);

// The same instant back in that form (for --debug and doctor).
std::string FormatExpiration(CredentialTime when);

class RenewingCredentials {
 public:
  RenewingCredentials(std::unique_ptr<CredentialProvider> provider, const Clock& clock);

  // The cached pair, or a fresh one when there is none yet or less than
  // kRenewalMargin remain. A provider that hands out a pair already inside the
  // margin (an expiry in the past, or a clock far off) is an error naming the
  // source, so that no request is sent with a key about to be refused.
  core::Result<IssuedCredentials> Get();

  std::string Describe() const { return provider_->Describe(); }

 private:
  std::unique_ptr<CredentialProvider> provider_;
  const Clock& clock_;
  std::mutex mutex_;
  std::optional<IssuedCredentials> cached_;
};

}  // namespace kestrune::request
