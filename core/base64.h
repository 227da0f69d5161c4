// Base64 encoding (RFC 4648, standard alphabet, "=" padding, no line breaks).
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune::core {

std::string Base64Encode(const std::uint8_t* data, std::size_t length);
inline std::string Base64Encode(std::string_view data) {
  return Base64Encode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

}  // namespace kestrune::core
