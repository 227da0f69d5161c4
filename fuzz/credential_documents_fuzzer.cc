// The readers of the documents that hand out credentials other than the
// token service: a credentials URI's reply and an external process's output.
//
// The first byte picks the reader (even: the URI's reply, odd: the process's
// output). Whatever the document, a reader must not crash; a key it returns
// must be whole (an id and a secret, and for the URI a token and an expiry);
// and a refusal must not depend on the text of a secret or a token: the same
// document with each such value masked (every byte but white space made "x")
// must be refused with the same message, so no refusal can quote one.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/json_depth.h"
#include "engine/credential_helpers.h"
#include "fuzz/secret_mask.h"

namespace {

namespace core = kestrune::core;
namespace engine = kestrune::engine;
namespace request = kestrune::request;

[[noreturn]] void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "contract broken: %s\n%.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

core::Result<request::IssuedCredentials> Read(bool process, std::string_view document) {
  return process ? engine::ReadProcessDocument(document, "the step")
                 : engine::ReadCredentialsDocument(document, "the step");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool process = (data[0] & 1) != 0;
  const std::string_view document(reinterpret_cast<const char*>(data) + 1, size - 1);
  const core::Result<request::IssuedCredentials> read = Read(process, document);
  if (read.ok()) {
    const request::Credentials& key = read->credentials;
    if (key.access_key_id.empty() || key.access_key_secret.empty()) Fail("a key without a part");
    if (!process && (key.security_token.empty() || !read->expiration)) {
      Fail("a URI's key without its token or expiry");
    }
    return 0;
  }
  if (read.status().message().rfind("the step failed:\n", 0) != 0) {
    Fail("a refusal that does not name its step", read.status().message());
  }
  if (core::JsonNestsDeeperThan(document)) return 0;
  nlohmann::json parsed = nlohmann::json::parse(document, nullptr, false);
  if (parsed.is_discarded()) return 0;
  kestrune::fuzz::MaskJson(parsed);
  const core::Result<request::IssuedCredentials> masked = Read(process, parsed.dump());
  if (masked.ok() || masked.status().message() != read.status().message()) {
    Fail("a refusal that depends on a secret's text", read.status().message());
  }
  return 0;
}
