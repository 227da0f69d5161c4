#include "sim/http.h"

#include <algorithm>
#include <cstdio>

#include "core/ascii.h"
#include "request/http_message.h"
#include "sim/clock.h"

namespace kestrune::sim {
namespace {

bool IsTokenChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u <= 0x20 || u >= 0x7F) return false;
  switch (c) {
    case '(':
    case ')':
    case ',':
    case '/':
    case ':':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '{':
    case '}':
    case '"':
      return false;
    default:
      return true;
  }
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string_view HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (core::EqualsIgnoreCase(key, name)) return value;
  }
  return {};
}

bool HttpRequest::HasHeader(std::string_view name) const {
  for (const auto& header : headers) {
    if (core::EqualsIgnoreCase(header.first, name)) return true;
  }
  return false;
}

RequestParser::State RequestParser::Fail(int status, std::string reason) {
  state_ = State::kError;
  error_status_ = status;
  error_reason_ = std::move(reason);
  buffer_.clear();
  return state_;
}

RequestParser::State RequestParser::Feed(std::string_view data) {
  if (state_ != State::kIncomplete) return state_;
  if (in_body_) {
    const std::size_t wanted = body_length_ - std::min(buffer_.size(), body_length_);
    buffer_.append(data.substr(0, wanted));
    if (data.size() > wanted) surplus_ = data.substr(wanted);
    return TakeBody();
  }
  const std::size_t old_size = buffer_.size();
  buffer_.append(data.substr(0, kMaxRequestHead + 4 - std::min(old_size, kMaxRequestHead + 4)));
  // Look for the blank line, also in its bare-LF form, starting a little
  // before the new bytes so a terminator split across reads is found.
  const std::size_t from = old_size >= 3 ? old_size - 3 : 0;
  std::size_t end = buffer_.find("\r\n\r\n", from);
  std::size_t head_length = end == std::string::npos ? std::string::npos : end + 2;
  const std::size_t lf_end = buffer_.find("\n\n", from);
  if (lf_end != std::string::npos &&
      (head_length == std::string::npos || lf_end + 1 < head_length)) {
    head_length = lf_end + 1;
  }
  if (head_length == std::string::npos) {
    if (buffer_.size() > kMaxRequestHead) return Fail(431, "request header fields too large");
    return state_;
  }
  if (head_length > kMaxRequestHead) return Fail(431, "request header fields too large");
  const std::string head = buffer_.substr(0, head_length);
  // What followed the head in the same read is the start of the body; the
  // head's search window may have cut it, so take it from the data again.
  const std::size_t blank_line =
      head_length + (buffer_.compare(head_length, 2, "\r\n") == 0 ? 2 : 1);
  const std::size_t consumed_here = blank_line > old_size ? blank_line - old_size : 0;
  const std::string_view rest = data.substr(std::min(consumed_here, data.size()));
  buffer_.clear();
  if (ParseHead(head) != State::kComplete) return state_;
  if (StartBody() == State::kError) return state_;
  if (!in_body_) {
    surplus_ = rest;
    return state_;
  }
  buffer_.append(rest.substr(0, body_length_));
  if (rest.size() > body_length_) surplus_ = rest.substr(body_length_);
  return TakeBody();
}

RequestParser::State RequestParser::StartBody() {
  if (request_.HasHeader("Transfer-Encoding")) {
    return Fail(411, "a request body must come with Content-Length");
  }
  const std::string_view length = request_.Header("Content-Length");
  if (length.empty()) return state_;  // no body
  // Two lengths that differ leave the end of the body unknown (a request
  // smuggled behind another); refused as curl and the servers it meets do.
  for (const auto& [key, value] : request_.headers) {
    if (core::EqualsIgnoreCase(key, "Content-Length") && value != length) {
      return Fail(400, "conflicting Content-Length headers");
    }
  }
  std::size_t value = 0;
  for (char c : length) {
    if (c < '0' || c > '9') return Fail(400, "malformed Content-Length");
    value = value * 10 + static_cast<std::size_t>(c - '0');
    if (value > kMaxRequestBody) return Fail(413, "request body too large");
  }
  if (value == 0) return state_;
  body_length_ = value;
  in_body_ = true;
  state_ = State::kIncomplete;
  return state_;
}

RequestParser::State RequestParser::TakeBody() {
  if (buffer_.size() < body_length_) return state_;
  request_.body = std::move(buffer_);
  buffer_.clear();
  in_body_ = false;
  state_ = State::kComplete;
  return state_;
}

RequestParser::State RequestParser::ParseHead(std::string_view head) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < head.size()) {
    std::size_t nl = head.find('\n', start);
    if (nl == std::string_view::npos) nl = head.size();
    std::string_view line = head.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = nl + 1;
  }
  // Leading empty lines before the request line are tolerated (RFC 9112 2.2).
  std::size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  if (first >= lines.size()) return Fail(400, "empty request");

  const std::string_view request_line = lines[first];
  for (char c : request_line) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return Fail(400, "control byte in request line");
    if (u >= 0x80) return Fail(400, "non-ASCII byte in request line");
  }
  const std::size_t sp1 = request_line.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : request_line.find(' ', sp1 + 1);
  if (sp1 == std::string_view::npos || sp2 == std::string_view::npos ||
      request_line.find(' ', sp2 + 1) != std::string_view::npos) {
    return Fail(400, "malformed request line");
  }
  const std::string_view method = request_line.substr(0, sp1);
  const std::string_view target = request_line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = request_line.substr(sp2 + 1);
  if (method.empty()) return Fail(400, "malformed request line");
  for (char c : method) {
    if (!IsTokenChar(c)) return Fail(400, "malformed method");
  }
  if (target.empty() ||
      (target[0] != '/' && target != "*" && target.find("://") == std::string_view::npos)) {
    return Fail(400, "malformed request target");
  }
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return Fail(400, "unsupported HTTP version");
  request_.method = method;
  request_.target = target;
  request_.version = version;

  for (std::size_t i = first + 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) break;
    if (line[0] == ' ' || line[0] == '\t') return Fail(400, "folded header line");
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return Fail(400, "malformed header line");
    const std::string_view name = line.substr(0, colon);
    for (char c : name) {
      if (!IsTokenChar(c)) return Fail(400, "malformed header name");
    }
    const std::string_view value = Trim(line.substr(colon + 1));
    for (char c : value) {
      const auto u = static_cast<unsigned char>(c);
      if ((u < 0x20 && c != '\t') || u == 0x7F) return Fail(400, "control byte in header value");
    }
    if (request_.headers.size() >= kMaxHeaderCount) return Fail(431, "too many header fields");
    request_.headers.emplace_back(std::string(name), std::string(value));
  }
  // The head read once more by the parser the client uses, for what it says
  // of the connection; the checks above have refused anything it would skip.
  // It comes here without the empty line that ended it.
  std::string whole(head.substr(static_cast<std::size_t>(request_line.data() - head.data())));
  whole += "\r\n";
  const std::optional<request::HttpHead> parsed = request::ParseHttpHead(whole);
  request_.keep_alive = parsed && !parsed->closes;
  state_ = State::kComplete;
  return state_;
}

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 411:
      return "Length Required";
    case 413:
      return "Content Too Large";
    case 408:
      return "Request Timeout";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Unknown";
  }
}

WireReply SerializeResponse(const HttpResponse& response, std::int64_t now_millis,
                            bool keep_alive) {
  const std::string_view connection =
      keep_alive ? "\r\nConnection: keep-alive\r\n\r\n" : "\r\nConnection: close\r\n\r\n";
  WireReply wire;
  std::string& out = wire.bytes;
  out.reserve(response.body.size() + 256 + response.body.size() / 64);
  out += "HTTP/1.1 ";
  out += std::to_string(response.status);
  out.push_back(' ');
  out += ReasonPhrase(response.status);
  out += "\r\nDate: ";
  out += FormatHttpDate(now_millis);
  out += "\r\nContent-Type: ";
  out += response.content_type;
  out += "\r\n";
  for (const auto& [name, value] : response.headers) {
    out += name;
    out += ": ";
    out += value;
    out += "\r\n";
  }
  if (response.chunk_size == 0) {
    out += "Content-Length: ";
    out += std::to_string(response.body.size());
    out += connection;
    out += response.body;
    return wire;
  }
  out += "Transfer-Encoding: chunked";
  out += connection;
  wire.breaks.push_back(out.size());
  char size_line[24];
  for (std::size_t pos = 0; pos < response.body.size(); pos += response.chunk_size) {
    const std::size_t n = std::min(response.chunk_size, response.body.size() - pos);
    std::snprintf(size_line, sizeof size_line, "%zx\r\n", n);
    out += size_line;
    out.append(response.body, pos, n);
    out += "\r\n";
    wire.breaks.push_back(out.size());
  }
  out += "0\r\n\r\n";
  return wire;
}

}  // namespace kestrune::sim
