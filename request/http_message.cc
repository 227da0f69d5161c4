#include "request/http_message.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/ascii.h"

namespace kestrune::request {

std::string_view TrimHttpBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

namespace {

// Both number readers stop at values that do not fit a size_t (on 32-bit
// builds too), so a hostile header cannot wrap a length around.
bool ParseNumber(std::string_view text, unsigned base, std::size_t max_digits, std::size_t& value) {
  if (text.empty() || text.size() > max_digits) return false;
  std::uint64_t parsed = 0;
  for (const char c : text) {
    const char lower = core::LowerAscii(c);
    unsigned digit = base;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (lower >= 'a' && lower <= 'f') {
      digit = static_cast<unsigned>(lower - 'a' + 10);
    }
    if (digit >= base) return false;
    parsed = parsed * base + digit;
  }
  if (parsed > std::numeric_limits<std::size_t>::max()) return false;
  value = static_cast<std::size_t>(parsed);
  return true;
}

// Calls `each` with every item of a comma-separated field value, trimmed.
template <typename Each>
void ForEachItem(std::string_view list, const Each& each) {
  while (!list.empty()) {
    const std::size_t comma = std::min(list.find(','), list.size());
    each(TrimHttpBlanks(list.substr(0, comma)));
    list.remove_prefix(std::min(comma + 1, list.size()));
  }
}

void ReadField(std::string_view name, std::string_view value, HttpHead& head, bool& close) {
  if (core::EqualsIgnoreCase(name, "Transfer-Encoding")) {
    // The last coding applied is the one framing the body.
    const std::size_t comma = value.rfind(',');
    const std::string_view last =
        TrimHttpBlanks(comma == std::string_view::npos ? value : value.substr(comma + 1));
    head.chunked = core::EqualsIgnoreCase(last, "chunked");
  } else if (core::EqualsIgnoreCase(name, "Content-Length")) {
    // "Content-Length: 5, 5" repeats one value; each item counts alike.
    ForEachItem(value, [&head](std::string_view item) {
      std::size_t length = 0;
      if (!ParseNumber(item, 10, 18, length)) return;
      if (head.content_length && *head.content_length != length) {
        head.conflicting_length = length;
      } else {
        head.content_length = length;
      }
    });
  } else if (core::EqualsIgnoreCase(name, "Connection")) {
    ForEachItem(value, [&head, &close](std::string_view option) {
      close = close || core::EqualsIgnoreCase(option, "close");
      head.keep_alive = head.keep_alive || core::EqualsIgnoreCase(option, "keep-alive");
    });
  }
}

}  // namespace

namespace {

constexpr std::string_view kVersion = " HTTP/1.1\r\n";
constexpr std::string_view kKeepAlive = "Connection: keep-alive\r\n\r\n";
constexpr std::string_view kClose = "Connection: close\r\n\r\n";
constexpr std::string_view kFormType = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr std::string_view kLengthName = "Content-Length: ";

// A GET carries its form in its target; other methods, as the body.
bool FormInTarget(const HttpRequest& request) { return request.method == "GET"; }

}  // namespace

std::size_t RequestLineSize(const HttpRequest& request) {
  const std::size_t query =
      FormInTarget(request) && !request.form.empty() ? 1 + request.form.size() : 0;
  return request.method.size() + 1 + request.target.size() + query + kVersion.size() - 2;
}

std::size_t WireSize(const HttpRequest& request) {
  std::size_t size =
      RequestLineSize(request) + 2 + (request.keep_alive ? kKeepAlive : kClose).size();
  for (const HttpField& field : request.fields) size += field.name.size() + field.value.size() + 4;
  if (!FormInTarget(request) && !request.form.empty()) {
    size += kFormType.size() + kLengthName.size() + std::to_string(request.form.size()).size() + 2 +
            request.form.size();
  }
  return size;
}

std::string WriteHttpRequest(const HttpRequest& request) {
  const bool in_target = FormInTarget(request);
  std::string text;
  text.reserve(WireSize(request));
  text += request.method;
  text += ' ';
  text += request.target;
  if (in_target && !request.form.empty()) {
    text += '?';
    text += request.form;
  }
  text += kVersion;
  for (const HttpField& field : request.fields) {
    text += field.name;
    text += ": ";
    text += field.value;
    text += "\r\n";
  }
  if (!in_target && !request.form.empty()) {
    text += kFormType;
    text += kLengthName;
    text += std::to_string(request.form.size());
    text += "\r\n";
  }
  text += request.keep_alive ? kKeepAlive : kClose;
  if (!in_target) text += request.form;
  return text;
}

HttpField FieldOfLine(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  const std::size_t colon = std::min(line.find(':'), line.size());
  return {std::string(TrimHttpBlanks(line.substr(0, colon))),
          std::string(TrimHttpBlanks(line.substr(std::min(colon + 1, line.size()))))};
}

std::optional<std::string_view> HttpHead::Find(std::string_view name) const {
  for (const HttpField& field : fields) {
    if (core::EqualsIgnoreCase(field.name, name)) return std::string_view(field.value);
  }
  return std::nullopt;
}

std::string_view NextHttpLine(std::string_view text, std::size_t& pos) {
  const std::size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) {
    pos = std::string_view::npos;
    return {};
  }
  std::string_view line = text.substr(pos, end - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos = end + 1;
  return line;
}

int StatusCodeOf(std::string_view status_line) {
  const std::size_t space = status_line.find(' ');
  std::size_t code = 0;
  if (space != std::string_view::npos &&
      ParseNumber(status_line.substr(space + 1, 3), 10, 3, code) && code >= 100 &&
      (status_line.size() == space + 4 || status_line[space + 4] == ' ')) {
    return static_cast<int>(code);
  }
  return 0;
}

bool ParseChunkSize(std::string_view size_line, std::size_t& size) {
  return ParseNumber(
      TrimHttpBlanks(size_line.substr(0, std::min(size_line.find(';'), size_line.size()))), 16, 15,
      size);
}

std::optional<HttpHead> ParseHttpHead(std::string_view text) {
  HttpHead head;
  std::size_t pos = 0;
  head.start_line = std::string(NextHttpLine(text, pos));
  if (pos == std::string_view::npos) return std::nullopt;
  const std::string_view start = head.start_line;
  if (start.starts_with("HTTP/")) {
    head.version = std::string(start.substr(0, std::min(start.find(' '), start.size())));
    head.status = StatusCodeOf(start);
    if (head.status != 0)
      head.reason =
          std::string(TrimHttpBlanks(start.substr(std::min(start.size(), start.find(' ') + 4))));
  } else {
    head.version = std::string(start.substr(std::min(start.rfind(' ') + 1, start.size())));
  }
  bool close = false;
  for (;;) {
    const std::string_view line = NextHttpLine(text, pos);
    if (pos == std::string_view::npos) return std::nullopt;
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = TrimHttpBlanks(line.substr(0, colon));
    const std::string_view value = TrimHttpBlanks(line.substr(colon + 1));
    ReadField(name, value, head, close);
    head.fields.push_back({std::string(name), std::string(value)});
  }
  if (close) head.keep_alive = false;
  head.closes = close || (head.version == "HTTP/1.0" && !head.keep_alive);
  head.size = pos;
  return head;
}

}  // namespace kestrune::request
