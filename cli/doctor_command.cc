// `kestrune doctor`: what a call needs, checked one step at a time, so that a
// failing call can be told apart as missing credentials, a name that does not
// resolve, a port nobody answers on, a certificate that is not trusted, a key
// the service refuses or a clock too far off. Each check is one line with a
// verdict; nothing secret is in any of them.
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/settings.h"
#include "engine/destination.h"
#include "engine/diagnosis.h"
#include "request/clock.h"
#include "request/endpoint.h"
#include "transport/proxy.h"
#include "transport/socket.h"
#include "transport/tls.h"

namespace kestrune::cli {
namespace {

enum class Verdict { kOk, kWarn, kFail };

struct CheckLine {
  std::string check;
  Verdict verdict = Verdict::kOk;
  std::string detail;
};

std::string_view VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kWarn:
      return "warn";
    case Verdict::kFail:
      break;
  }
  return "FAIL";
}

// The service refuses a time stamp further off than this.
constexpr std::chrono::seconds kRefusedOffset{15 * 60};
// Beyond this a clock is worth setting before it drifts into a refusal.
constexpr std::chrono::seconds kWarnedOffset{60};
constexpr std::size_t kShownIdCharacters = 4;

// Enough of the AccessKey id to tell which key it is, no more.
std::string MaskedId(std::string_view id) {
  if (id.size() <= kShownIdCharacters) return "****";
  return std::string(id.substr(0, kShownIdCharacters)) + "****";
}

// A host to connect to, as a call would.
struct Target {
  std::string label;  // "ecs.aliyuncs.com:443"
  std::string host;
  std::uint16_t port = request::kDefaultHttpsPort;
  bool tls = true;
};

// The host each service's requests go to under `options` (its region and
// endpoint type, or the host the user named), one line each; a region no
// host could hold fails them all.
std::vector<std::string> ServiceHosts(const engine::EngineOptions& options,
                                      std::vector<CheckLine>& lines) {
  std::vector<std::string> hosts;
  for (const catalogue::ServiceInfo& service : catalogue::Services()) {
    catalogue::ResolvedAction action;
    action.service = service.number;
    const std::string label = "host " + std::string(ServiceCommandName(service.number));
    const core::Result<engine::Destination> destination =
        engine::ResolveDestination(options, action, catalogue::ParameterValues());
    if (!destination.ok()) {
      lines.push_back({label, Verdict::kFail, destination.status().message()});
      continue;
    }
    // A host the published data lacks may not exist.
    lines.push_back({label, destination->listed ? Verdict::kOk : Verdict::kWarn,
                     engine::DescribeDestination(*destination, options.endpoint_type)});
    hosts.push_back(destination->endpoint.host);
  }
  return hosts;
}

std::vector<Target> TargetsOf(const request::EndpointOverride* override_to,
                              const std::vector<std::string>& hosts) {
  std::vector<Target> targets;
  if (override_to != nullptr) {
    targets.push_back(Target{transport::Authority(override_to->host, override_to->port),
                             override_to->host, override_to->port,
                             override_to->scheme == request::Scheme::kHttps});
    return targets;
  }
  for (const std::string& host : hosts) {
    targets.push_back(Target{transport::Authority(host, request::kDefaultHttpsPort), host,
                             request::kDefaultHttpsPort, true});
  }
  return targets;
}

std::string SocketFailure(const transport::SocketError& error) {
  if (error.timed_out) return "timed out";
  return error.detail.empty() ? std::string("failed") : error.detail;
}

// Resolution, connection and, for TLS, the handshake with `target`: the lines
// "resolve", "connect" and "tls", each step tried only after the one before
// it passed.
void CheckTarget(const Target& target, const transport::ProxySettings& proxies,
                 const engine::EngineOptions& options, std::vector<CheckLine>& lines) {
  const transport::ProxyServer* proxy = transport::ProxyFor(proxies, target.host, target.tls);
  // Through a proxy the proxy resolves the service's name; ours is the
  // proxy's.
  const std::string& host = proxy != nullptr ? proxy->host : target.host;
  const std::uint16_t port = proxy != nullptr ? proxy->port : target.port;
  const std::string via =
      proxy != nullptr ? "through the proxy " + transport::Authority(proxy->host, proxy->port)
                       : std::string("directly (no proxy)");
  const std::string resolve_label = "resolve " + (proxy != nullptr ? host : target.host);
  const std::string connect_label = "connect " + target.label;
  const std::string tls_label = "tls " + target.label;
  const auto deadline = std::chrono::steady_clock::now() + options.exchange_timeout;

  transport::Connection connection;
  const transport::SocketStatus opened = connection.Open(host, port, options.connect_timeout);
  if (opened && opened->step == transport::SocketStep::kResolve) {
    lines.push_back({resolve_label, Verdict::kFail, SocketFailure(*opened)});
    lines.push_back({connect_label, Verdict::kFail, "not tried: the name did not resolve"});
    if (target.tls) lines.push_back({tls_label, Verdict::kFail, "not tried"});
    return;
  }
  lines.push_back(
      {resolve_label, Verdict::kOk, proxy != nullptr ? "the proxy's name resolves" : "resolves"});
  if (opened) {
    lines.push_back({connect_label, Verdict::kFail, SocketFailure(*opened) + " (" + via + ")"});
    if (target.tls) lines.push_back({tls_label, Verdict::kFail, "not tried: no connection"});
    return;
  }
  if (proxy != nullptr && target.tls) {
    const core::Status tunnel = transport::OpenTunnel(connection, target.host, target.port, *proxy,
                                                      options.idle_timeout, deadline);
    if (!tunnel.ok()) {
      lines.push_back({connect_label, Verdict::kFail, tunnel.message() + " (" + via + ")"});
      lines.push_back({tls_label, Verdict::kFail, "not tried: no tunnel"});
      return;
    }
  }
  lines.push_back({connect_label, Verdict::kOk, "connected " + via});
  if (!target.tls) return;
  transport::TlsChannel channel;
  transport::TlsOptions tls;
  tls.ca_file = options.ca_file;
  const core::Status shaken = channel.Handshake(
      connection, target.host, tls, transport::WaitWithin(options.idle_timeout, deadline));
  const std::string trusted = options.ca_file.empty() ? std::string("system trust store")
                                                      : "CA file " + EscapeLine(options.ca_file);
  if (!shaken.ok()) {
    lines.push_back({tls_label, Verdict::kFail, shaken.message() + "; " + trusted});
    return;
  }
  lines.push_back({tls_label, Verdict::kOk, "TLS verified; " + trusted});
  channel.Shutdown(transport::WaitWithin(options.idle_timeout, deadline));
}

// The signed DescribeRegions and, from its reply's Date, the clock.
// With `printer` (--debug) its exchange is shown as `call` shows it.
void CheckCall(const FoundCredentials& found, const engine::EngineOptions& options,
               report::TraceSink& trace, ExchangePrinter* printer, std::vector<CheckLine>& lines) {
  const std::string label = "call ecs DescribeRegions";
  const std::optional<catalogue::ResolvedAction> action =
      catalogue::ResolveActionName(catalogue::kEcsService, "DescribeRegions");
  const request::SystemClock clock;
  report::RecordingResultList list;
  engine::Engine engine(clock, list, trace, options);
  engine.set_exchange_observer(printer);
  const engine::RequestResult result =
      engine.Send(found.credentials, action, catalogue::ParameterValues());
  const auto received = std::chrono::system_clock::now();

  std::string detail;
  Verdict verdict = Verdict::kFail;
  switch (result.outcome) {
    case engine::Outcome::kGoodReply: {
      verdict = Verdict::kOk;
      detail = "a good reply";
      const std::optional<std::string> request_id =
          engine::ErrorElement(result.reply.body, "RequestId");
      if (request_id && !request_id->empty()) detail += " (RequestId " + *request_id + ")";
      break;
    }
    case engine::Outcome::kErrorReply: {
      // The string to sign the service quotes is long; the notes say what
      // its comparison with ours shows.
      detail = OutcomeText(result);
      std::size_t end = std::min(detail.find(engine::kServerStringToSignMarker), detail.size());
      while (end > 0 &&
             (detail[end - 1] == ' ' || detail[end - 1] == '.' || detail[end - 1] == ':')) {
        --end;
      }
      detail.resize(end);
      break;
    }
    case engine::Outcome::kHttpError:
    case engine::Outcome::kConnectionFailed:
    case engine::Outcome::kNotSupported:
    case engine::Outcome::kRefused:
      detail = OutcomeText(result);
      break;
  }
  for (const std::string& note : result.notes) detail += "; " + note;
  lines.push_back({label, verdict, detail});

  const std::optional<std::chrono::seconds> offset =
      engine::ClockOffset(result.reply.head, received);
  if (!offset) {
    lines.push_back({"clock", Verdict::kWarn, "not measured: no reply with a Date header"});
    return;
  }
  const std::chrono::seconds size = offset->count() < 0 ? -*offset : *offset;
  const std::string local =
      "the local clock is " + engine::DescribeOffset(*offset) + " by the service's Date header";
  if (size > kRefusedOffset) {
    lines.push_back(
        {"clock", Verdict::kFail, local + "; the service refuses time stamps over 15 minutes off"});
  } else if (size > kWarnedOffset) {
    lines.push_back({"clock", Verdict::kWarn, local});
  } else {
    std::string clock_detail =
        "within " + std::to_string(kWarnedOffset.count()) + " s of the service's Date header";
    if (offset->count() != 0) clock_detail += " (" + engine::DescribeOffset(*offset) + ")";
    lines.push_back({"clock", Verdict::kOk, std::move(clock_detail)});
  }
}

std::string RenderLines(OutputFormat format, const std::vector<CheckLine>& lines) {
  if (format == OutputFormat::kJson) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const CheckLine& line : lines) {
      array.push_back({{"check", line.check},
                       {"verdict", std::string(VerdictName(line.verdict))},
                       {"detail", line.detail}});
    }
    return array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  }
  std::string text;
  if (format == OutputFormat::kTsv) {
    for (const CheckLine& line : lines) {
      text += EscapeLine(line.check) + "\t" + std::string(VerdictName(line.verdict)) + "\t" +
              EscapeLine(line.detail) + "\n";
    }
    return text;
  }
  std::size_t check_width = DisplayWidth("Check");
  for (const CheckLine& line : lines) {
    check_width = std::max(check_width, DisplayWidth(EscapeLine(line.check)));
  }
  const std::size_t verdict_width = DisplayWidth("Verdict");
  auto row = [&](std::string_view check, std::string_view verdict, std::string_view detail) {
    text += check;
    text.append(check_width - DisplayWidth(check) + 2, ' ');
    text += verdict;
    text.append(verdict_width - DisplayWidth(verdict) + 2, ' ');
    text += detail;
    text += '\n';
  };
  row("Check", "Verdict", "Detail");
  text += std::string(check_width, '-') + "  " + std::string(verdict_width, '-') + "  ------\n";
  for (const CheckLine& line : lines) {
    row(EscapeLine(line.check), VerdictName(line.verdict), EscapeLine(line.detail));
  }
  return text;
}

}  // namespace

int RunDoctor(const CommandLine& line, Console& console) {
  if (!line.operands.empty()) {
    return UsageError(console,
                      "doctor takes no arguments, only options (see kestrune doctor --help)");
  }
  core::Result<Settings> resolved = ResolveSettings(line, console);
  if (!resolved.ok()) return UsageError(console, resolved.status().message());
  Settings& setup = resolved.value();
  engine::EngineOptions* const options = &setup.engine;
  // The call's reply is read for its verdict and Date, not shown.
  options->reply_format = request::ReplyFormat::kXml;

  std::vector<CheckLine> lines;
  core::Result<FoundCredentials> found = FindCredentials(line, setup, console);
  if (found.ok()) {
    std::string detail =
        found->source + "; AccessKey id " + MaskedId(found->credentials.access_key_id);
    // The source names a token already; said once whatever the source.
    if (!found->credentials.security_token.empty() &&
        detail.find("security token") == std::string::npos) {
      detail += "; a security token is in use";
    }
    lines.push_back({"credentials", Verdict::kOk, std::move(detail)});
  } else {
    // A token service's failure is the step, then the service's error.
    std::string why = found.status().message();
    for (std::size_t at = why.find('\n'); at != std::string::npos; at = why.find('\n', at)) {
      why.replace(at, 1, " ");
    }
    lines.push_back({"credentials", Verdict::kFail, std::move(why)});
  }

  // The region (the profile's too) chooses the hosts, as it would for a call.
  if (found.ok()) {
    if (core::Status chosen = ApplyProfile(line, *found, setup); !chosen.ok()) {
      lines.push_back({"credentials", Verdict::kFail, chosen.message()});
    }
  }
  const std::vector<std::string> hosts = ServiceHosts(*options, lines);

  transport::NetworkScope network;
  if (network.status()) {
    lines.push_back({"network", Verdict::kFail, SocketFailure(*network.status())});
  } else {
    const engine::Route route = options->route.value_or(engine::Route{});
    for (const Target& target : TargetsOf(route.endpoint ? &*route.endpoint : nullptr, hosts)) {
      CheckTarget(target, route.proxy, *options, lines);
    }
  }

  if (found.ok()) {
    report::NullTraceSink no_trace;
    ExchangePrinter printer(console);
    CheckCall(*found, *options, TraceWanted(line, console) ? console.Trace() : no_trace,
              line.debug ? &printer : nullptr, lines);
  } else {
    lines.push_back({"call ecs DescribeRegions", Verdict::kFail, "not sent: no credentials"});
    lines.push_back({"clock", Verdict::kWarn, "not measured: no reply"});
  }

  const OutputFormat format = ResolveFormat(line.format, console.OutputIsTerminal());
  console.Out(ForDisplay(console, format, RenderLines(format, lines)));
  const bool failed = std::any_of(lines.begin(), lines.end(), [](const CheckLine& checked) {
    return checked.verdict == Verdict::kFail;
  });
  return failed ? kExitErrorReply : kExitOk;
}

}  // namespace kestrune::cli
