// Helpers shared by the simulator's tests: signed requests from the reference
// signer, plain-text lookups in replies, and the secret audit of what the
// simulator says.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "sim/clock.h"
#include "sim/gateway.h"
#include "sim/http.h"
#include "tests/sim/reference_signer.h"
#include "tests/support/secret_audit.h"

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

// The secret audit as these tests use it. It starts capturing the standard
// streams (this process's and the simulator program's) when constructed; the
// helpers that sign requests or configure keys name their secrets, and the
// helpers that receive replies hand them in, so a test needs no lines of its
// own. Each secret is registered once however often a test signs with it.
class SimAudit {
 public:
  SimAudit() : audit_(std::vector<std::string>{}) {}

  void Secret(const std::string& secret) {
    if (std::find(known_.begin(), known_.end(), secret) != known_.end()) return;
    known_.push_back(secret);
    audit_.AddSecret(secret);
  }
  // The secrets a gateway holds: the given keys, else the demo pair.
  void Keys(const std::vector<AccessKey>& keys) {
    if (keys.empty()) Secret(std::string(kDemoAccessKeySecret));
    for (const AccessKey& key : keys) Secret(key.secret);
  }

  void CheckText(std::string_view where, std::string_view text) const {
    audit_.CheckText(where, text);
  }
  void CheckLines(std::string_view where, const std::vector<std::string>& lines) const {
    audit_.CheckLines(where, lines);
  }
  void CheckFilesUnder(const std::filesystem::path& directory) const {
    audit_.CheckFilesUnder(directory);
  }
  // A gateway's answer: the reply as it would go on the wire, and what the
  // request log takes from it.
  void CheckOutcome(const Outcome& outcome) const {
    audit_.CheckText("the reply", SerializeResponse(outcome.response, 0).bytes);
    audit_.CheckText("the request log's fields",
                     outcome.service + " " + outcome.action + " " + outcome.outcome);
  }
  void Finish() { audit_.Finish(); }

 private:
  std::vector<std::string> known_;
  testsupport::SecretAudit audit_;
};

// A directory of the test's own under the temporary directory, empty at
// first and removed afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("kestrune-sim-" + std::string(test != nullptr ? test->name() : "test") + "-" +
             std::to_string(::getpid()));
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // A subdirectory, created.
  std::filesystem::path Sub(const std::string& name) const {
    std::filesystem::create_directories(path_ / name);
    return path_ / name;
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace kestrune::sim::testing
