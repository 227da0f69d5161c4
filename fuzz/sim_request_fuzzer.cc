// The simulator's front door over arbitrary bytes: the incremental request
// parser, the gateway's checks (signature included) and the actions behind
// them, and the serialisation of whatever they answer.
//
// The first byte picks the mode:
//   even: the rest is raw bytes from a client, fed to the parser in pieces
//         whose sizes come from the second byte; a complete head goes to the
//         gateway, a refused one to its error answer;
//   odd:  the rest is lines of query text; each line's parameters are
//         completed with the common ones, signed with the demo key by the
//         test-side reference signer and sent, one after the other, to one
//         gateway, so the actions and the model behind the signature check
//         see arbitrary parameters and sequences.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/clock.h"
#include "sim/gateway.h"
#include "sim/http.h"
#include "sim/signature.h"
#include "tests/sim/reference_signer.h"

namespace {

namespace sim = kestrune::sim;

// 2026-01-01T00:00:00Z: requests are stamped with the gateway's own "now".
constexpr std::int64_t kNow = 1767225600000;
// Replies stay far below this; a larger one means a runaway answer.
constexpr std::size_t kMaxReply = 4 * 1024 * 1024;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "contract broken: %s\n", what);
  std::abort();
}

void CheckOutcome(const sim::Outcome& outcome) {
  if (outcome.disposition == sim::Disposition::kCloseWithoutReply) return;
  const sim::WireReply wire = sim::SerializeResponse(outcome.response, kNow);
  if (wire.bytes.size() > kMaxReply) Fail("a runaway reply");
  if (wire.bytes.rfind("HTTP/1.1 ", 0) != 0) Fail("a reply without a status line");
  std::size_t previous = 0;
  for (std::size_t at : wire.breaks) {
    if (at < previous || at > wire.bytes.size()) Fail("write breaks out of order");
    previous = at;
  }
}

void RawBytes(std::string_view bytes, std::size_t piece) {
  // Setting up the model costs far more than one request, and a raw request
  // cannot carry a valid signature, so it never reaches the model's state:
  // one gateway serves every raw input.
  static const sim::ManualClock clock(kNow);
  static sim::Gateway gateway(sim::GatewayOptions{}, clock);
  sim::RequestParser parser;
  sim::RequestParser::State state = sim::RequestParser::State::kIncomplete;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    state = parser.Feed(bytes.substr(at, piece));
  }
  if (state == sim::RequestParser::State::kComplete) {
    CheckOutcome(gateway.Handle(parser.request()));
  } else if (state == sim::RequestParser::State::kError) {
    if (parser.error_status() != 400 && parser.error_status() != 431) {
      Fail("a refusal with an unexpected status");
    }
    CheckOutcome(gateway.Malformed(parser.error_status(), parser.error_reason()));
  } else if (bytes.size() > sim::kMaxRequestHead + 4) {
    Fail("an endless head still waiting for more");
  }
}

void SignedLines(std::string_view text, unsigned char service_byte) {
  const sim::ManualClock clock(kNow);
  sim::Gateway gateway(sim::GatewayOptions{}, clock);
  const auto services = sim::AllServices();
  const sim::ServiceInfo& info = services[service_byte % services.size()];
  int nonce = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;

    auto extra = sim::ParseQuery(line);
    if (!extra.ok()) continue;
    sim::testing::Params params = sim::testing::CommonParams(
        std::string(sim::kDemoAccessKeyId), "", std::string(info.version),
        sim::FormatTimestamp(kNow), "fuzz-" + std::to_string(++nonce));
    for (const sim::QueryParam& p : extra.value()) {
      bool replaced = false;
      for (auto& [name, value] : params) {
        if (name == p.name && name != "SignatureNonce") {
          value = p.value;
          replaced = true;
        }
      }
      if (!replaced) params.emplace_back(p.name, p.value);
    }
    sim::HttpRequest request;
    request.method = "GET";
    request.target =
        "/?" + sim::testing::SignedQuery(params, std::string(sim::kDemoAccessKeySecret));
    request.version = "HTTP/1.1";
    request.headers = {{"Host", std::string(info.host)}, {"Connection", "close"}};
    CheckOutcome(gateway.Handle(request));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  if ((data[0] & 1) == 0) {
    RawBytes(rest, 1 + data[1] % 64 * (data[1] >= 128 ? 256 : 1));
  } else {
    SignedLines(rest, data[1]);
  }
  return 0;
}
