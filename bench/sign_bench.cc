// Time to build one complete signed DescribeInstances request: fresh nonce and
// timestamps from the system clock, both passes, escaping, HMAC-SHA1 and
// Base64. items_per_second is requests per second on one core.
#include <benchmark/benchmark.h>

#include "core/base64.h"
#include "core/hmac_sha1.h"
#include "request/signer.h"
#include "request/signer_v3.h"

namespace {

using namespace kestrune::request;

const ServiceEndpoint kEcs{"ecs.aliyuncs.com", "Host: ecs.aliyuncs.com\r\n", "Version=2014-05-26"};

ActionParameterList DescribeInstances() {
  ActionParameterList parameters;
  (void)parameters.Append("Action=DescribeInstances");
  (void)parameters.Append("RegionId=cn-shanghai");
  return parameters;
}

void BM_SignDescribeInstances(benchmark::State& state) {
  const Credentials key{"testid", "testsecret"};
  const ActionParameterList parameters = DescribeInstances();
  const SystemClock clock;
  for (auto _ : state) {
    auto request = BuildSignedRequest(key, kEcs, parameters, clock);
    if (!request.ok()) state.SkipWithError(request.status().message().c_str());
    benchmark::DoNotOptimize(request);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignDescribeInstances);

// The same request signed with ACS3-HMAC-SHA256: canonical request, two
// SHA-256 digests and the HMAC-SHA256, beside the HMAC-SHA1 one above
// (bench/sign_v3_report.sh runs the two side by side several times).
void BM_SignDescribeInstancesV3(benchmark::State& state) {
  const Credentials key{"testid", "testsecret"};
  const ActionParameterList parameters = DescribeInstances();
  const SystemClock clock;
  for (auto _ : state) {
    auto request = BuildSignedRequestAs(SignatureVersion::kV3, key, kEcs, parameters, clock);
    if (!request.ok()) state.SkipWithError(request.status().message().c_str());
    benchmark::DoNotOptimize(request);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignDescribeInstancesV3);

// The same with a value that needs the service's own encoding (Chinese text
// and spaces), to show what the extra encoding costs.
void BM_SignWithEncodedValue(benchmark::State& state) {
  const Credentials key{"testid", "testsecret"};
  ActionParameterList parameters = DescribeInstances();
  (void)parameters.Append("InstanceName=\xE6\xB5\x8B\xE8\xAF\x95 web 01");
  const SystemClock clock;
  for (auto _ : state) {
    auto request = BuildSignedRequest(key, kEcs, parameters, clock);
    benchmark::DoNotOptimize(request);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignWithEncodedValue);

void BM_SystemClockStamps(benchmark::State& state) {
  const SystemClock clock;
  for (auto _ : state) {
    std::string nonce = MakeNonce(clock);
    Timestamps stamps = MakeTimestamps(clock);
    benchmark::DoNotOptimize(nonce);
    benchmark::DoNotOptimize(stamps);
  }
}
BENCHMARK(BM_SystemClockStamps);

// The HMAC and Base64 of one string to sign alone, the floor of the above.
void BM_SignatureOnly(benchmark::State& state) {
  const Credentials key{"testid", "testsecret"};
  const FixedClock clock(UtcInstant{2024, 3, 5, 14, 7, 9, 45});
  const auto request = BuildSignedRequest(key, kEcs, DescribeInstances(), clock);
  std::string signing_key(key.access_key_secret.view());
  signing_key += '&';
  for (auto _ : state) {
    const kestrune::core::Sha1Digest digest =
        kestrune::core::HmacSha1(signing_key, request->string_to_sign);
    std::string signature = kestrune::core::Base64Encode(digest.data(), digest.size());
    benchmark::DoNotOptimize(signature);
  }
}
BENCHMARK(BM_SignatureOnly);

}  // namespace

BENCHMARK_MAIN();
