// Explanations of the two refusals users of this API meet most, read from
// what the service sends back with them.
//
// A refused signature: the service's SignatureDoesNotMatch message ends with
// the string to sign it computed. Compared with the one this request was
// signed over, it tells a secret that does not belong to the AccessKey id
// (the strings agree) from a request changed on the way (they differ, and the
// first parameter that differs says where).
//
// A refused time stamp: every reply carries the service's Date header, so the
// local clock's offset can be measured and a request stamped again.
//
// Plain functions over text; nothing here ever sees the secret.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "request/http_message.h"

namespace kestrune::engine {

inline constexpr std::string_view kServerStringToSignMarker = "server string to sign is:";

// The string to sign the service quotes at the end of `message`, trimmed;
// nullopt when the message carries none.
std::optional<std::string_view> ServerStringToSign(std::string_view message);

struct SignatureDiagnosis {
  enum class Kind {
    kNotPossible,    // no string to sign in the message, or one that is not one
    kSameString,     // the strings agree: the secret is not this id's
    kMethodDiffers,  // the service saw another HTTP method
    kValueDiffers,   // a parameter arrived with another value or encoding
    kDropped,        // a parameter of ours did not arrive
    kAdded,          // the service saw a parameter we did not send
  };
  Kind kind = Kind::kNotPossible;
  std::string parameter;  // the first parameter that differs
  std::string ours;       // its encoded item as we signed it ("Name%3DValue")
  std::string theirs;     // as the service signed it
  // Lines a person can read, in order; the first says what happened.
  std::vector<std::string> notes;
};

// Compares `ours` (the string this request was signed over) with the string
// to sign quoted in the service's `message`.
SignatureDiagnosis DiagnoseSignature(std::string_view ours, std::string_view message);

// The instant an HTTP Date header names (IMF-fixdate, "Sun, 06 Nov 1994
// 08:49:37 GMT"), as seconds since 1970; nullopt for anything else.
std::optional<std::int64_t> ParseHttpDate(std::string_view value);

// The text of element `name` of an error document (XML, or JSON as the
// service sends it with Format=JSON), CDATA unwrapped; nullopt when absent.
std::optional<std::string> ErrorElement(std::string_view body, std::string_view name);

// Whether `code` is one of the service's refusals of a request's time stamp.
bool IsTimestampRefusal(std::string_view code);

// How far the service's clock is ahead of ours (negative: behind), from the
// Date header of `head` and the local time the reply arrived; nullopt without
// a readable Date.
std::optional<std::chrono::seconds> ClockOffset(const request::HttpHead& head,
                                                std::chrono::system_clock::time_point received);

// How far the local clock is off, given the service's offset: "20 min 3 s
// behind" when the service's clock is ahead of ours, "5 s ahead" when behind.
std::string DescribeOffset(std::chrono::seconds offset);

}  // namespace kestrune::engine
