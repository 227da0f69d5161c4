// A reply as it arrives: where it ends (ReplyFraming, receive by receive)
// and what it holds once it has ended (ParseReply: head, body with the
// transfer coding removed). Content-Length, chunked and close-delimited
// bodies; interim replies (1xx) read past; two different lengths refused.
//
// Stateless functions; a ReplyFraming belongs to one exchange.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/http_message.h"

namespace kestrune::transport {

// When each phase of one exchange ended, counted from its start; a phase not
// reached (or not taken: no TLS on plain HTTP) stays unset.
struct PhaseTimes {
  std::optional<std::chrono::microseconds> resolved;    // the host's addresses known
  std::optional<std::chrono::microseconds> connected;   // the TCP connection up
  std::optional<std::chrono::microseconds> secured;     // the TLS handshake done
  std::optional<std::chrono::microseconds> sent;        // the whole request sent
  std::optional<std::chrono::microseconds> first_byte;  // the reply's first byte in
  std::optional<std::chrono::microseconds> complete;    // the whole reply in
};

// How far a failed exchange got: what a caller deciding whether to send the
// request again must know.
enum class FailureStage {
  kNone,           // no failure
  kBeforeSending,  // nothing of the request was written: the server cannot have acted on it
  kAfterSending,   // the request was written (perhaps in part): the server may have acted on it
  kFinal,          // sending again cannot mend it (a proxy's refusal of its credentials, a reply
                   // over the limit)
};

// Every byte received goes to `raw`; ParseReply then moves the body out of
// it, so that a large reply is held once: `raw` keeps the status line and
// header (up to and including the empty line that ends it) and `body` the
// rest, transfer coding removed. A reply whose header never ended stays whole
// in `raw`; one without an HTTP header is all body.
struct HttpReply {
  std::string raw;           // the head as received, or every byte before parsing
  std::size_t received = 0;  // every byte received, headers included
  // The real reply's head once it was whole; before that only its status
  // line (start_line, status: empty and 0 when there is none).
  request::HttpHead head;
  std::string body;  // after the header, transfer coding removed
  PhaseTimes times;
  // Set by a failed exchange; kNone after a good one.
  FailureStage failure = FailureStage::kNone;
};

// Splits `raw` into status line, code, head and body, decoding a chunked body
// in place, and leaves the head in `raw` (see HttpReply); sets `received`.
// Fails when the status line or header is cut off, the header gives two
// different lengths, or the body ends before its length or its last chunk
// (or its chunks are malformed); the fields parsed so far are still set.
core::Status ParseReply(HttpReply& reply);

// Decides, receive by receive, whether the bytes so far already hold a whole
// reply by its own framing, so a server that keeps the connection open despite
// "Connection: close" costs no time-out. Replies framed by the close alone
// are never complete early. The header is read once, when its end has come,
// and a chunked body is followed chunk by chunk: each call looks only at the
// bytes received since the one before.
class ReplyFraming {
 public:
  // `raw` holds every byte received so far: what the last call saw, and more.
  bool Complete(std::string_view raw);
  // Once Complete: where the reply ends. Bytes beyond it are no part of it.
  std::size_t end() const { return stage_ == Stage::kLength ? body_start_ + length_ : pos_; }
  // Where a reply with a Content-Length will end, once its header has come.
  std::optional<std::size_t> expected_end() const {
    if (stage_ != Stage::kLength) return std::nullopt;
    return body_start_ + length_;
  }

 private:
  enum class Stage {
    kStatusLine,  // waiting for the end of the status line
    kHeader,      // waiting for the empty line that ends the header
    kChunkSize,   // at the size line of a chunk
    kChunkData,   // inside the data of a chunk
    kChunkEnd,    // at the line end after the data of a chunk
    kLastChunk,   // after the last chunk's size line: trailers up to an empty line
    kLength,      // a body of Content-Length bytes
    kUntilClose,  // framed by the close alone, or malformed: never early
  };

  // The line that starts at pos_, without its "\n" or "\r\n", moving pos_
  // past it; nullopt while its end has not come. Bytes already searched in
  // an earlier call are not searched again.
  std::optional<std::string_view> TakeLine(std::string_view raw);

  Stage stage_ = Stage::kStatusLine;
  std::size_t pos_ = 0;      // the first byte the current stage has not read
  std::size_t scanned_ = 0;  // how far the current line was searched for its end
  std::size_t status_start_ = 0;
  std::size_t body_start_ = 0;
  std::size_t length_ = 0;  // the Content-Length, or what is left of a chunk
};

}  // namespace kestrune::transport
