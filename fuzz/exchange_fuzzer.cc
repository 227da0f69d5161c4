// The reply side of the HTTP exchange over arbitrary received bytes: status
// line, header, Content-Length and chunked framing, and replies cut short.
//
// The input is the whole byte stream a server sent. It is parsed as received,
// and a prefix of it (cut where the first two bytes say) is parsed as the
// stream a connection lost on the way would have left. Besides the
// sanitizers' checks:
//   - a body is never longer than what was received;
//   - when both parse, the cut stream's body is a prefix of the whole one's,
//     and equal to it for a chunked reply (a cut that loses a chunk must be an
//     error, never a shorter body reported as whole);
//   - the endpoint override parser, given the same bytes as text, returns
//     only a non-empty host and a port from 1 to 65535, and plain HTTP unless
//     the text names a scheme.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "request/endpoint.h"
#include "transport/http.h"

namespace {

namespace request = kestrune::request;
namespace transport = kestrune::transport;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "contract broken: %s\n", what);
  std::abort();
}

void CheckOne(const transport::HttpReply& reply, std::string_view stream) {
  if (reply.received != stream.size()) Fail("a count of received bytes that is not the reply's");
  if (reply.body.size() > reply.received) Fail("a body longer than the reply");
  if (reply.raw.size() + reply.body.size() > reply.received)
    Fail("a head and body longer than the reply");
  // The head kept is the final reply's: at the start of the stream, or after
  // the interim (1xx) replies read past, which then begin the stream.
  if (!stream.starts_with(reply.raw) &&
      (!stream.starts_with("HTTP/") || stream.find(reply.raw) == std::string_view::npos)) {
    Fail("a head that is not one the reply holds");
  }
  if (reply.head.status != 0 && (reply.head.status < 100 || reply.head.status > 999)) {
    Fail("a status code that is not three digits");
  }
  if (reply.head.start_line.size() > reply.received) Fail("a status line longer than the reply");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t cut_wanted = static_cast<std::size_t>(data[0]) << 8 | data[1];
  const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

  transport::HttpReply whole;
  whole.raw = std::string(stream);
  const bool whole_ok = transport::ParseReply(whole).ok();
  CheckOne(whole, stream);

  transport::HttpReply cut;
  const std::string_view cut_stream = stream.substr(0, cut_wanted % (stream.size() + 1));
  cut.raw = std::string(cut_stream);
  const bool cut_ok = transport::ParseReply(cut).ok();
  CheckOne(cut, cut_stream);

  // (A cut inside "HTTP/" leaves bytes that are read as a reply without a
  // header, whose body is the bytes themselves.)
  if (whole_ok && cut_ok && cut_stream.size() < stream.size() && cut_stream.starts_with("HTTP/")) {
    if (whole.body.compare(0, cut.body.size(), cut.body) != 0 ||
        cut.body.size() > whole.body.size()) {
      Fail("a cut reply's body is not a prefix of the whole body");
    }
    if (whole.head.chunked && cut.body != whole.body) {
      Fail("a chunked reply cut before its end parsed as a shorter whole");
    }
  }

  // The same bytes as an endpoint override.
  const auto endpoint = request::ParseEndpointOverride(stream);
  if (endpoint.ok() && (endpoint->host.empty() || endpoint->port == 0)) {
    Fail("an endpoint without host or port");
  }
  // Only a scheme the user wrote may turn TLS on or off.
  if (endpoint.ok() && stream.find("://") == std::string_view::npos &&
      endpoint->scheme != request::Scheme::kHttp) {
    Fail("an endpoint without a scheme that is not plain HTTP");
  }
  return 0;
}
