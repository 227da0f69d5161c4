#include "transport/reply_framing.h"

#include <string>
#include <utility>

namespace kestrune::transport {

namespace {

using request::NextHttpLine;

constexpr std::string_view kHttpPrefix = "HTTP/";

// Decodes the chunked body that starts at `pos` of `text` in place: the
// decoded bytes go to the front of `text`, which ends up holding the body
// alone. Every chunk's data follows its own size line, so the bytes written
// never reach the ones still to be read. On failure `text` holds what was
// decoded before the fault.
core::Status DecodeChunked(std::string& text, std::size_t pos) {
  std::size_t written = 0;
  auto keep = [&text, &written](std::size_t from, std::size_t size) {
    if (from != written)
      std::char_traits<char>::move(text.data() + written, text.data() + from, size);
    written += size;
  };
  core::Status status = core::Status::Ok();
  for (;;) {
    const std::string_view rest = text;
    const std::string_view size_line = NextHttpLine(rest, pos);
    if (pos == std::string_view::npos) {
      status = core::Status::Error("the reply ended before the last chunk of its body");
      break;
    }
    std::size_t size = 0;
    if (!request::ParseChunkSize(size_line, size)) {
      const std::string_view shown = request::TrimHttpBlanks(
          size_line.substr(0, std::min(size_line.find(';'), size_line.size())));
      status = core::Status::Error("the reply's chunked body is malformed (bad chunk size \"" +
                                   std::string(shown.substr(0, 20)) + "\")");
      break;
    }
    if (size == 0) break;  // trailers, if any, are not needed
    if (text.size() - pos < size) {
      keep(pos, text.size() - pos);
      status = core::Status::Error("the reply ended inside a chunk of its body");
      break;
    }
    keep(pos, size);
    pos += size;
    // Each chunk's data ends with a line end of its own.
    const std::string_view after = std::string_view(text).substr(pos);
    if (after.starts_with("\r\n")) {
      pos += 2;
    } else if (after.starts_with("\n")) {
      pos += 1;
    } else if (after.empty()) {
      status = core::Status::Error("the reply ended before the last chunk of its body");
      break;
    } else {
      status =
          core::Status::Error("the reply's chunked body is malformed (no line end after a chunk)");
      break;
    }
  }
  text.resize(written);
  return status;
}

// An interim reply (100 Continue, 102, 103 Early Hints) comes before the
// real one on the same connection; 101 switches protocols and is final.
bool IsInterim(int code) { return code >= 100 && code <= 199 && code != 101; }

}  // namespace

std::optional<std::string_view> ReplyFraming::TakeLine(std::string_view raw) {
  const std::size_t end = raw.find('\n', std::max(pos_, scanned_));
  if (end == std::string_view::npos) {
    scanned_ = raw.size();
    return std::nullopt;
  }
  std::string_view line = raw.substr(pos_, end - pos_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos_ = end + 1;
  return line;
}

bool ReplyFraming::Complete(std::string_view raw) {
  for (;;) {
    switch (stage_) {
      case Stage::kStatusLine: {
        // At the start, or after an interim reply.
        const std::string_view rest = raw.substr(pos_);
        if (rest.size() < kHttpPrefix.size()) return false;
        if (!rest.starts_with(kHttpPrefix)) {
          stage_ = Stage::kUntilClose;
          return false;
        }
        status_start_ = pos_;
        if (!TakeLine(raw)) return false;
        stage_ = Stage::kHeader;
        break;
      }
      case Stage::kHeader: {
        const std::optional<std::string_view> line = TakeLine(raw);
        if (!line) return false;
        if (!line->empty()) break;
        // The header is whole: what it says of the body is read once.
        const std::optional<request::HttpHead> head =
            request::ParseHttpHead(raw.substr(status_start_, pos_ - status_start_));
        if (!head) {  // cannot be: its empty line has come
          stage_ = Stage::kUntilClose;
          return false;
        }
        if (IsInterim(head->status)) {
          stage_ = Stage::kStatusLine;  // no body; the real reply follows
          break;
        }
        body_start_ = pos_;
        // Conflicting lengths frame nothing; the reply is refused once received.
        const bool framed = !head->conflicting_length;
        if (framed && head->chunked) {
          stage_ = Stage::kChunkSize;
        } else if (framed && head->content_length) {
          length_ = *head->content_length;
          stage_ = Stage::kLength;
        } else {
          stage_ = Stage::kUntilClose;
        }
        break;
      }
      case Stage::kChunkSize: {
        const std::optional<std::string_view> line = TakeLine(raw);
        if (!line) return false;
        if (!request::ParseChunkSize(*line, length_)) {
          stage_ = Stage::kUntilClose;
          return false;
        }
        stage_ = length_ == 0 ? Stage::kLastChunk : Stage::kChunkData;
        break;
      }
      case Stage::kChunkData:
        if (raw.size() - pos_ < length_) return false;
        pos_ += length_;
        stage_ = Stage::kChunkEnd;
        break;
      case Stage::kChunkEnd: {
        // Each chunk's data ends with a line end of its own; a lone "\r" may
        // still become one.
        const std::string_view rest = raw.substr(pos_);
        if (rest.empty() || rest == "\r") return false;
        if (rest.starts_with("\r\n")) {
          pos_ += 2;
        } else if (rest.starts_with("\n")) {
          pos_ += 1;
        } else {
          stage_ = Stage::kUntilClose;
          return false;
        }
        stage_ = Stage::kChunkSize;
        break;
      }
      case Stage::kLastChunk: {
        // Trailer lines, if any, until the empty line that ends the reply.
        const std::optional<std::string_view> line = TakeLine(raw);
        if (!line) return false;
        if (line->empty()) return true;
        break;
      }
      case Stage::kLength:
        return raw.size() - body_start_ >= length_;
      case Stage::kUntilClose:
        return false;
    }
  }
}

core::Status ParseReply(HttpReply& reply) {
  reply.head = request::HttpHead();
  reply.body.clear();
  reply.received = reply.raw.size();
  const std::string_view raw = reply.raw;
  if (!raw.starts_with(kHttpPrefix)) {
    // No HTTP header at all: the reply is its own body.
    reply.body = std::move(reply.raw);
    reply.raw.clear();
    return core::Status::Ok();
  }
  // Interim replies are read past: the head kept is the real reply's.
  std::size_t start = 0;
  for (;;) {
    std::size_t pos = start;
    const std::string_view line = NextHttpLine(raw, pos);
    if (pos == std::string_view::npos) {
      reply.head.start_line = std::string(request::TrimHttpBlanks(raw.substr(start)));
      return core::Status::Error("the reply ended inside its status line");
    }
    std::optional<request::HttpHead> head = request::ParseHttpHead(raw.substr(start));
    if (!head) {
      reply.head = request::HttpHead();
      reply.head.start_line = std::string(line);
      reply.head.status = request::StatusCodeOf(line);
      return core::Status::Error("the reply ended inside its header");
    }
    reply.head = std::move(*head);
    if (!IsInterim(reply.head.status)) break;
    start += reply.head.size;
    if (!raw.substr(start).starts_with(kHttpPrefix)) {
      return core::Status::Error("the reply ended after an interim " + reply.head.start_line);
    }
  }
  const request::HttpHead& head = reply.head;
  if (head.conflicting_length) {
    return core::Status::Error("the reply's header gives two different lengths (Content-Length " +
                               std::to_string(*head.content_length) + " and " +
                               std::to_string(*head.conflicting_length) +
                               "); refusing a reply whose end cannot be known");
  }
  // The body is cut out of the received bytes where they lie (a large reply
  // is never held twice); `raw` keeps the head alone.
  const std::size_t body_start = start + head.size;
  std::string head_text(raw.substr(start, head.size));
  reply.body = std::move(reply.raw);
  reply.raw = std::move(head_text);
  if (head.chunked) return DecodeChunked(reply.body, body_start);
  reply.body.erase(0, body_start);
  if (head.content_length) {
    if (reply.body.size() < *head.content_length) {
      return core::Status::Error("the reply ended after " + std::to_string(reply.body.size()) +
                                 " of the " + std::to_string(*head.content_length) +
                                 " bytes its header announced");
    }
    reply.body.resize(*head.content_length);
  }
  return core::Status::Ok();
}

}  // namespace kestrune::transport
