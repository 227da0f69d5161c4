// HMAC-SHA1 (RFC 2104) over the SHA-1 of sha1.h.
// Stateless; safe from any thread.
#pragma once

#include <string_view>

#include "core/sha1.h"

namespace kestrune::core {

// The 20-byte code of `message` under `key`. Keys longer than the 64-byte
// block are replaced by their SHA-1 digest; the empty key is allowed.
Sha1Digest HmacSha1(std::string_view key, std::string_view message);

}  // namespace kestrune::core
