// --debug: every exchange on the error stream, in the manner of `curl -v`.
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>

#include "cli/commands.h"
#include "cli/output.h"
#include "core/ascii.h"
#include "request/credentials.h"

namespace kestrune::cli {
namespace {

// Names whose values are credentials in their own right. The AccessKey id
// and the signature are not: the signature proves nothing without the
// request it signs, and both are printed by --dry-run as well.
constexpr std::string_view kMaskedParameters[] = {"SecurityToken"};
constexpr std::string_view kMaskedHeaders[] = {"Proxy-Authorization", "Authorization",
                                               "x-acs-security-token"};
constexpr std::string_view kMask = "***";

// Masks the value of `name` in a query or form ("name=value&") and in the
// string to sign, where the canonical query is escaped once more
// ("name%3Dvalue%26").
std::string MaskParameters(std::string text) {
  for (std::string_view name : kMaskedParameters) {
    for (const auto& [equals, amp] :
         {std::pair<std::string_view, std::string_view>{"=", "&"},
          std::pair<std::string_view, std::string_view>{"%3D", "%26"}}) {
      const std::string key = std::string(name) + std::string(equals);
      for (std::size_t at = text.find(key); at != std::string::npos;
           at = text.find(key, at + key.size())) {
        const std::size_t start = at + key.size();
        std::size_t end = text.find(amp, start);
        const std::size_t line_end = text.find_first_of(" \r\n", start);
        if (end == std::string::npos || (line_end != std::string::npos && line_end < end)) {
          end = line_end == std::string::npos ? text.size() : line_end;
        }
        text.replace(start, end - start, kMask);
      }
    }
  }
  return text;
}

std::string MaskHeader(std::string_view line) {
  for (std::string_view name : kMaskedHeaders) {
    if (line.size() > name.size() && line[name.size()] == ':' &&
        core::EqualsIgnoreCase(line.substr(0, name.size()), name)) {
      return std::string(line.substr(0, name.size() + 1)) + " " + std::string(kMask);
    }
  }
  return std::string(line);
}

// The head of an HTTP message (up to its empty line) as prefixed lines; the
// size of what follows it.
std::string HeadLines(std::string_view message, std::string_view prefix, std::size_t& rest) {
  std::string out;
  std::size_t pos = 0;
  rest = 0;
  while (pos < message.size()) {
    std::size_t end = message.find('\n', pos);
    if (end == std::string_view::npos) end = message.size();
    std::string_view line = message.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end + 1;
    out += prefix;
    if (line.empty()) {
      out += "\n";
      rest = pos < message.size() ? message.size() - pos : 0;
      return out;
    }
    out += " ";
    out += EscapeLine(MaskHeader(line));
    out += "\n";
  }
  return out;
}

std::string Milliseconds(std::chrono::microseconds time) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(time.count()) / 1000.0);
  return text;
}

std::string PhaseLine(const transport::PhaseTimes& times) {
  std::string line;
  auto add = [&line](std::string_view name, const std::optional<std::chrono::microseconds>& at) {
    if (!at) return;
    line += line.empty() ? "" : ", ";
    line += std::string(name) + " " + Milliseconds(*at);
  };
  add("resolved", times.resolved);
  add("connected", times.connected);
  if (times.connected && !times.secured) {
    line += ", no TLS";
  } else {
    add("TLS done", times.secured);
  }
  add("first byte", times.first_byte);
  add("whole", times.complete);
  return line.empty() ? std::string() : "* times from the start: " + line + "\n";
}

}  // namespace

void ExchangePrinter::OnExchange(const engine::ExchangeRecord& record) {
  std::string out;
  if (record.attempt > 1) out += "* attempt " + std::to_string(record.attempt) + "\n";
  // By name, and the token itself in whatever form the signer wrote it
  // (a version 3 header, the canonical request).
  const auto hidden = [&record](const std::string& text) {
    return request::HideSecurityToken(MaskParameters(text), record.security_token);
  };
  out += "* string to sign: " + EscapeLine(hidden(record.request.string_to_sign)) + "\n";
  std::size_t hidden_body = 0;
  const std::string sent = record.request.text();
  out += HeadLines(hidden(sent), ">", hidden_body);
  // The size of the body as sent, not as shown.
  const std::size_t request_body =
      record.request.http.method == "GET" ? 0 : record.request.http.form.size();
  const engine::TransportReply& reply = record.reply;
  // A refused handshake or a failed connection sends nothing of the request.
  out += reply.times.sent ? "* sent " : "* not sent (or not whole): the request of ";
  out += std::to_string(sent.size()) + " bytes";
  if (request_body > 0) out += " (a form body of " + std::to_string(request_body) + " bytes)";
  out += "\n";
  if (!reply.raw.empty()) {
    std::size_t reply_body = 0;
    out += HeadLines(reply.raw, "<", reply_body);
    out += "* received " + std::to_string(reply.received) + " bytes (a body of " +
           std::to_string(reply.body.size()) + " bytes)\n";
  }
  if (!reply.status.ok()) out += "* failed: " + EscapeLine(reply.status.message()) + "\n";
  out += PhaseLine(reply.times);
  console_.Err(out);
}

void ExchangePrinter::OnRetry(const engine::RetryRecord& record) {
  console_.Err("* attempt " + std::to_string(record.next_attempt) + " of " +
               std::to_string(record.max_attempts) + " after " +
               std::to_string(record.wait.count()) + " ms, as the last came to " +
               EscapeLine(record.reason) + "\n");
}

}  // namespace kestrune::cli
