// The AccessKey pair a request is signed with.
//
// A plain value. The secret is key material: no function of this module puts
// it into an error text, a trace or any output other than the HMAC key.
#pragma once

#include <string>

namespace kestrune::request {

struct Credentials {
  std::string access_key_id;
  std::string access_key_secret;
};

}  // namespace kestrune::request
