// HTTP/1.1 messages as structures. A request is built as an HttpRequest
// (the signers return one: its signed parameters as a form) and written out
// by WriteHttpRequest alone, as a GET or a POST, so that nobody edits request
// text to change it. ParseHttpHead reads the head of a
// message (a reply's at the client, a request's at the simulator) once into
// the fields every caller asks about, so that no caller scans header text
// again; NextHttpLine and ParseChunkSize are the pieces a body's framing
// shares with it.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::request {

struct HttpField {
  std::string name;
  std::string value;
};

struct HttpRequest {
  std::string method = "GET";
  // The path ("/"), or an absolute URL towards a plain proxy; a GET's form
  // follows it behind "?".
  std::string target = "/";
  // In the order they go out, Host first. The fields of a POST's form and
  // the Connection field are not among them: WriteHttpRequest writes those.
  std::vector<HttpField> fields;
  // The request's parameters, escaped and joined ("name=value&..."), sent
  // as they are: a GET carries them in its target, any other method as its
  // body. Empty: none.
  std::string form;
  // Whether the connection is to stay open after the reply, for a next
  // request to the same host ("Connection: keep-alive", else "close").
  bool keep_alive = false;
};

// The wire form: "METHOD TARGET[?FORM] HTTP/1.1", each field as "Name:
// value", for a POST's form its Content-Type and Content-Length, the
// Connection field, an empty line, a POST's form; every line ends with CR LF.
std::string WriteHttpRequest(const HttpRequest& request);
// The size of that wire form, and of its request line without the line end.
std::size_t WireSize(const HttpRequest& request);
std::size_t RequestLineSize(const HttpRequest& request);

// The field of a "Name: value\r\n" line (a service endpoint's Host line),
// blanks around both parts trimmed.
HttpField FieldOfLine(std::string_view line);

struct HttpHead {
  std::string start_line;         // "HTTP/1.1 200 OK" or "GET / HTTP/1.1", without its line end
  std::string version;            // "HTTP/1.1": a reply's first word, a request's last
  int status = 0;                 // a reply's three-digit code; 0 when its line has none
  std::string reason;             // what follows a reply's code
  std::vector<HttpField> fields;  // in the order they came, blanks around both parts trimmed
  std::optional<std::size_t> content_length;
  // A Content-Length that differs from the first one (in a second field or
  // in one list): which one frames the body cannot be known.
  std::optional<std::size_t> conflicting_length;
  bool chunked = false;     // the last transfer coding applied is chunked
  bool keep_alive = false;  // a "keep-alive" connection option and no "close"
  // The connection ends after this message: a "close" option, or HTTP/1.0
  // without "keep-alive".
  bool closes = false;
  std::size_t size = 0;  // the head's bytes, the empty line that ends it included

  // The value of the first field called `name` (in any case).
  std::optional<std::string_view> Find(std::string_view name) const;
};

// `text` without the blanks (and a line's "\r") around it.
std::string_view TrimHttpBlanks(std::string_view text);

// The next line of `text` from `pos`, without its "\n" or "\r\n", moving
// `pos` past it; npos in `pos` when no line end follows.
std::string_view NextHttpLine(std::string_view text, std::size_t& pos);

// The code of a status line ("HTTP/1.1 200 OK"), or 0 when it has none that
// reads as three digits.
int StatusCodeOf(std::string_view status_line);

// The size in a chunk's size line (hexadecimal, before any extension); false
// when it does not read as one or does not fit a size_t.
bool ParseChunkSize(std::string_view size_line, std::size_t& size);

// Reads the head at the start of `text`, which ends at its first empty line
// ("\r\n" or a bare "\n"); nullopt while that line has not come. Lines
// without a colon are skipped; a Content-Length that does not read as a
// number is ignored.
std::optional<HttpHead> ParseHttpHead(std::string_view text);

}  // namespace kestrune::request
