// Helpers shared by the simulator's tests: signed requests from the reference
// signer, and plain-text lookups in replies.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "sim/clock.h"
#include "sim/http.h"
#include "tests/sim/reference_signer.h"

namespace kestrune::sim::testing {

// Text between the first <name> and the following </name>, or "<absent>".
inline std::string Element(std::string_view body, std::string_view name) {
  const std::string open = "<" + std::string(name) + ">";
  const std::string close = "</" + std::string(name) + ">";
  const std::size_t start = body.find(open);
  if (start == std::string_view::npos) return "<absent>";
  const std::size_t end = body.find(close, start + open.size());
  if (end == std::string_view::npos) return "<absent>";
  return std::string(body.substr(start + open.size(), end - start - open.size()));
}

inline std::size_t Count(std::string_view body, std::string_view text) {
  std::size_t n = 0;
  for (std::size_t at = body.find(text); at != std::string_view::npos;
       at = body.find(text, at + text.size())) {
    ++n;
  }
  return n;
}

inline HttpRequest MakeRequest(const std::string& query, const std::string& host,
                               const std::string& method = "GET") {
  HttpRequest request;
  request.method = method;
  request.target = "/?" + query;
  request.version = "HTTP/1.1";
  request.headers = {{"Host", host}, {"Connection", "close"}};
  return request;
}

// A signing client with a fresh nonce per call.
struct Signer {
  std::string key_id = "kestrune-demo-id";
  std::string secret = "kestrune-demo-secret";
  std::string version = "2014-05-26";
  int nonce = 0;

  Params Build(const std::string& action, const Params& extra, std::int64_t now_ms) {
    Params params = CommonParams(key_id, action, version, FormatTimestamp(now_ms),
                                 "nonce-" + std::to_string(++nonce) + "-" + std::to_string(now_ms));
    for (const auto& [name, value] : extra) {
      auto same = std::find_if(params.begin(), params.begin() + 8,
                               [&](const auto& p) { return p.first == name; });
      if (same != params.begin() + 8) {
        same->second = value;  // e.g. Format=JSON replaces Format=XML
      } else {
        params.emplace_back(name, value);
      }
    }
    return params;
  }
  std::string Query(const std::string& action, const Params& extra, std::int64_t now_ms) {
    return SignedQuery(Build(action, extra, now_ms), secret);
  }
};

}  // namespace kestrune::sim::testing
