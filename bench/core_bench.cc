// SHA-1 throughput on 64 KiB buffers and one HMAC-SHA1 over a 400-byte
// message (the size of a typical string to sign), ours beside OpenSSL's on
// the same inputs in the same run.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/params.h>
#include <openssl/sha.h>

#include <string>

#include "core/hmac_sha1.h"
#include "core/sha1.h"

namespace {

std::string Filled(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 131 + 7);
  return s;
}

const std::string kBuffer = Filled(64 * 1024);
const std::string kMessage = Filled(400);
const std::string kKey = "kestrune-demo-secret&";

void BM_Sha1_64KiB_Kestrune(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kestrune::core::Sha1(kBuffer));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBuffer.size()));
}
BENCHMARK(BM_Sha1_64KiB_Kestrune);

void BM_Sha1_64KiB_OpenSsl(benchmark::State& state) {
  unsigned char out[SHA_DIGEST_LENGTH];
  for (auto _ : state) {
    SHA1(reinterpret_cast<const unsigned char*>(kBuffer.data()), kBuffer.size(), out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBuffer.size()));
}
BENCHMARK(BM_Sha1_64KiB_OpenSsl);

void BM_Hmac_400B_Kestrune(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kestrune::core::HmacSha1(kKey, kMessage));
}
BENCHMARK(BM_Hmac_400B_Kestrune);

void BM_Hmac_400B_OpenSsl(benchmark::State& state) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  for (auto _ : state) {
    HMAC(EVP_sha1(), kKey.data(), static_cast<int>(kKey.size()),
         reinterpret_cast<const unsigned char*>(kMessage.data()), kMessage.size(), out, &length);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Hmac_400B_OpenSsl);

// OpenSSL at its fastest: the MAC fetched once and its context reused, so
// only the keying and the digest itself are timed.
void BM_Hmac_400B_OpenSslReusedContext(benchmark::State& state) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* context = EVP_MAC_CTX_new(mac);
  char digest_name[] = "SHA1";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest_name, 0),
                         OSSL_PARAM_construct_end()};
  unsigned char out[EVP_MAX_MD_SIZE];
  std::size_t length = 0;
  for (auto _ : state) {
    EVP_MAC_init(context, reinterpret_cast<const unsigned char*>(kKey.data()), kKey.size(), params);
    EVP_MAC_update(context, reinterpret_cast<const unsigned char*>(kMessage.data()),
                   kMessage.size());
    EVP_MAC_final(context, out, &length, sizeof out);
    benchmark::DoNotOptimize(out);
  }
  EVP_MAC_CTX_free(context);
  EVP_MAC_free(mac);
}
BENCHMARK(BM_Hmac_400B_OpenSslReusedContext);

}  // namespace

BENCHMARK_MAIN();
