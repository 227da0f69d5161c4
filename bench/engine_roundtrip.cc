// Round trip of one DescribeRegions through the whole engine (bind, sign,
// connect, send, receive, parse, format) against a simulator given as
// host:port, beside the bare exchange of the same kind of request (signed
// ahead of the timer, sent with the exchange alone). The difference is the
// engine's own overhead; the simulator's time is in both.
//
//   engine_roundtrip HOST:PORT [REQUESTS]
// Prints medians and 99th percentiles in microseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "report/result_list.h"
#include "report/trace_sink.h"
#include "request/clock.h"
#include "request/endpoint.h"
#include "transport/http.h"

namespace {

using Clock = std::chrono::steady_clock;
using kestrune::engine::Engine;
using kestrune::engine::EngineOptions;
using kestrune::engine::Outcome;

struct Figures {
  double median_us;
  double p99_us;
};

Figures Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: engine_roundtrip HOST:PORT [REQUESTS]\n");
    return 2;
  }
  const int requests = argc > 2 ? std::atoi(argv[2]) : 2000;
  const kestrune::request::Credentials credentials{"kestrune-demo-id", "kestrune-demo-secret"};
  kestrune::request::SystemClock clock;
  kestrune::report::RecordingResultList rows;
  kestrune::report::NullTraceSink trace;
  EngineOptions options;
  options.endpoint_override = argv[1];
  options.max_attempts = 1;  // a retry would hide a fault in the figures
  Engine engine(clock, rows, trace, options);
  const auto action =
      kestrune::catalogue::ResolveActionName(kestrune::catalogue::kEcsService, "DescribeRegions");

  std::vector<double> engine_us;
  for (int i = 0; i < requests; ++i) {
    rows.Clear();
    auto start = Clock::now();
    auto result = engine.Send(credentials, action, {});
    auto stop = Clock::now();
    if (result.outcome != Outcome::kGoodReply || rows.produced().empty()) {
      std::fprintf(stderr, "request %d failed: %s %s\n", i, result.detail.c_str(),
                   result.reply.body.substr(0, 300).c_str());
      return 1;
    }
    engine_us.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
  }

  // The bare exchange: requests signed before the timer starts.
  auto override_to = kestrune::request::ParseEndpointOverride(argv[1]);
  auto endpoint = kestrune::catalogue::EndpointFor(kestrune::catalogue::kEcsService);
  kestrune::request::ActionParameterList parameters;
  (void)parameters.Append("Action=DescribeRegions");
  std::vector<kestrune::request::HttpRequest> signed_requests;
  for (int i = 0; i < requests; ++i) {
    auto built = kestrune::request::BuildSignedRequest(credentials, *endpoint, parameters, clock);
    signed_requests.push_back(built.value().http);
  }
  std::vector<double> bare_us;
  for (const kestrune::request::HttpRequest& text : signed_requests) {
    kestrune::transport::HttpReply reply;
    auto start = Clock::now();
    auto status =
        kestrune::transport::HttpExchange(*endpoint, text, override_to.value(), {}, reply);
    auto stop = Clock::now();
    if (!status.ok() || reply.head.status != 200) {
      std::fprintf(stderr, "bare exchange failed: %s %d %s\n", status.message().c_str(),
                   reply.head.status, reply.body.substr(0, 400).c_str());
      return 1;
    }
    bare_us.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
  }

  Figures whole = Summarise(engine_us);
  Figures bare = Summarise(bare_us);
  std::printf("engine_median_us %.1f\nengine_p99_us %.1f\n", whole.median_us, whole.p99_us);
  std::printf("bare_median_us %.1f\nbare_p99_us %.1f\n", bare.median_us, bare.p99_us);
  std::printf("overhead_median_us %.1f\n", whole.median_us - bare.median_us);
  return 0;
}
