// The HTTP/1.1 subset the simulator speaks: an incremental, size-capped parser
// for one request head, and the serialisation of one reply (plain or chunked).
//
// Value types; each parser belongs to one connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrune::sim {

// A request head larger than this is refused with 431.
inline constexpr std::size_t kMaxRequestHead = 16 * 1024;
inline constexpr std::size_t kMaxHeaderCount = 100;
// A request body (the parameters of a form POST) larger than this is refused
// with 413.
inline constexpr std::size_t kMaxRequestBody = 2 * 1024 * 1024;

struct HttpRequest {
  std::string method;
  std::string target;   // e.g. "/?Action=..."
  std::string version;  // "HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // as many bytes as Content-Length announced; none without it

  // Value of the first header with this name (case-insensitive), or "" .
  std::string_view Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
  // Whether the connection stays open after the reply: HTTP/1.1 unless
  // Connection lists "close", HTTP/1.0 only when it lists "keep-alive".
  bool KeepAlive() const { return keep_alive; }
  bool keep_alive = false;
};

class RequestParser {
 public:
  enum class State { kIncomplete, kComplete, kError };

  // Adds received bytes. Once kComplete or kError, further bytes are ignored.
  State Feed(std::string_view data);
  State state() const { return state_; }
  const HttpRequest& request() const { return request_; }
  // For kError: the HTTP status to answer (400, 411, 413 or 431) and a
  // readable reason.
  int error_status() const { return error_status_; }
  const std::string& error_reason() const { return error_reason_; }
  // Once kComplete: the bytes of the last Feed that came after the request,
  // the start of the next one on a persistent connection. Moves them out.
  std::string TakeSurplus() { return std::move(surplus_); }

 private:
  State Fail(int status, std::string reason);
  State ParseHead(std::string_view head);
  // After the head: how much body follows, from Content-Length.
  State StartBody();
  State TakeBody();

  State state_ = State::kIncomplete;
  bool in_body_ = false;
  std::size_t body_length_ = 0;
  std::string buffer_;
  std::string surplus_;
  HttpRequest request_;
  int error_status_ = 0;
  std::string error_reason_;
};

struct HttpResponse {
  int status = 200;
  std::string content_type = "text/xml;charset=UTF-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra headers
  // Send the body with Transfer-Encoding: chunked in chunks of this many
  // bytes (0: Content-Length, one piece).
  std::size_t chunk_size = 0;
};

// The bytes of a reply, with the offsets at which the server should hand the
// bytes to the socket in separate writes (so small chunks travel as such).
struct WireReply {
  std::string bytes;
  std::vector<std::size_t> breaks;  // ascending offsets inside bytes
};

std::string_view ReasonPhrase(int status);
// Every reply carries Date, Content-Type, Connection (close, or keep-alive
// when the connection stays open) and either Content-Length or
// Transfer-Encoding: chunked.
WireReply SerializeResponse(const HttpResponse& response, std::int64_t now_millis,
                            bool keep_alive = false);

}  // namespace kestrune::sim
