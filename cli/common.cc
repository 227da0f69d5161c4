// What the subcommands share: names, endpoint, printing.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <utility>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "core/ascii.h"
#include "core/closest.h"
#include "engine/destination.h"
#include "report/display_text.h"
#include "report/extractor.h"
#include "request/endpoint.h"
#include "request/small_file.h"
#include "transport/proxy.h"
#include "transport/tls.h"

namespace kestrune::cli {
namespace {

struct ServiceName {
  std::string_view name;
  unsigned number;
};

constexpr std::array<ServiceName, 3> kServiceNames = {{
    {"ecs", catalogue::kEcsService},
    {"iot", catalogue::kIotService},
    {"apigateway", catalogue::kApiGatewayService},
}};

// The vendor's tools' variable for an endpoint of their own choosing.
constexpr std::string_view kVendorEndpointVariable = "ALIBABA_CLOUD_ENDPOINT";

std::optional<std::string> NonEmptyEnv(const Console& console, std::string_view name) {
  std::optional<std::string> value = console.Env(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

}  // namespace

int UsageError(Console& console, std::string_view message) {
  std::string text = "kestrune: ";
  // Whatever the user typed, the message stays one line.
  for (char ch : message) {
    if (static_cast<unsigned char>(ch) < 0x20) {
      text += EscapeLine(std::string_view(&ch, 1));
    } else {
      text += ch;
    }
  }
  text += '\n';
  console.Err(text);
  return kExitUsage;
}

core::Result<unsigned> ParseServiceName(std::string_view name) {
  for (const ServiceName& service : kServiceNames) {
    if (core::EqualsIgnoreCase(service.name, name)) return service.number;
  }
  std::vector<std::string_view> accepted;
  accepted.reserve(std::size(kServiceNames));
  for (const ServiceName& service : kServiceNames) accepted.push_back(service.name);
  return core::Status::InvalidInput(UnknownWord("service", name, accepted));
}

std::string_view ServiceCommandName(unsigned service_number) {
  for (const ServiceName& service : kServiceNames) {
    if (service.number == service_number) return service.name;
  }
  return {};
}

std::optional<BrowsingPlace> FindBrowsingEntry(unsigned service_number, std::string_view name) {
  const std::size_t service_position = catalogue::ServicePosition(service_number);
  const std::size_t categories = catalogue::CategoryList(service_position).Count();
  for (std::size_t category = 0; category < categories; ++category) {
    core::StringListView actions = catalogue::ActionList(service_position, category);
    const std::size_t count = actions.Count();
    for (std::size_t entry = 0; entry < count; ++entry) {
      std::string_view listed = actions.Entry(entry + 1);
      const bool same = service_number == catalogue::kEcsService
                            ? core::EqualsIgnoreCase(listed, name)
                            : listed == name;
      if (same) return BrowsingPlace{category, entry};
    }
  }
  return std::nullopt;
}

std::string UnknownWord(std::string_view what, std::string_view given,
                        std::span<const std::string_view> accepted) {
  std::string text = "unknown " + std::string(what) + " \"" + EscapeLine(given) + "\" (accepted: ";
  for (std::size_t i = 0; i < accepted.size(); ++i) {
    text += (i > 0 ? ", " : "") + std::string(accepted[i]);
  }
  text += ")";
  const std::vector<std::string> closest = core::ClosestWords(given, accepted);
  if (!closest.empty()) text += "; did you mean " + core::JoinAlternatives(closest) + "?";
  return text;
}

bool TraceWanted(const CommandLine& line, const Console& console) {
  if (line.trace) return true;
  std::optional<std::string> trace = console.Env("KESTRUNE_TRACE");
  return trace && *trace == "1";
}

std::string ForDisplay(const Console& console, OutputFormat format, std::string text) {
  if (format == OutputFormat::kJson || console.OutputEncoding() == report::DisplayEncoding::kUtf8) {
    return text;
  }
  return report::DisplayText(console.OutputEncoding()).Convert(text);
}

CallOutcome SendAndCollect(engine::Engine& engine, report::RecordingResultList& list,
                           const request::Credentials& credentials,
                           const catalogue::ResolvedAction& action,
                           const catalogue::ParameterValueSlots& values,
                           const std::optional<catalogue::PagingInfo>& paging,
                           const std::function<void(std::vector<report::Row>)>& page_rows,
                           engine::JsonWalk* json_walk) {
  CallOutcome outcome;
  list.Clear();
  outcome.result =
      paging ? engine.SendAllPages(credentials, action, values, *paging, page_rows, json_walk)
             : engine.Send(credentials, action, values);
  if (paging) outcome.json_walk = json_walk;
  outcome.leaves_shown = outcome.result.leaves_shown;
  outcome.rows = list.TakeProduced();
  return outcome;
}

core::Result<engine::EngineOptions> EngineOptionsFor(const CommandLine& line,
                                                     const Console& console) {
  engine::EngineOptions options;
  engine::EndpointTexts endpoints;
  endpoints.given = line.endpoint;
  endpoints.vendor = NonEmptyEnv(console, kVendorEndpointVariable);
  endpoints.send_to = NonEmptyEnv(console, request::kEndpointVariable);
  if (core::Status chosen = engine::ChooseEndpoint(endpoints, options); !chosen.ok()) {
    return chosen;
  }
  options.endpoint_type = line.endpoint_type.value_or(catalogue::EndpointType::kPublic);
  options.signature_version = line.signature.value_or(request::SignatureVersion::kV1);
  const transport::ProxyTexts proxy = transport::ChooseProxyTexts(
      [&console](std::string_view name) { return console.Env(name); }, line.proxy);
  // Refused here as a usage error, naming the variable; the engine would
  // only fail the exchange.
  core::Result<transport::ProxySettings> parsed = transport::ParseProxySettings(proxy);
  if (!parsed.ok()) return parsed.status();
  options.http_proxy = proxy.http;
  options.https_proxy = proxy.https;
  options.no_proxy = proxy.no_proxy;
  if (line.ca_file) {
    options.ca_file = *line.ca_file;
  } else if (std::optional<std::string> from_env = NonEmptyEnv(console, request::kCaFileVariable)) {
    options.ca_file = *from_env;
  }
  if (!options.ca_file.empty()) {
    // Checked here so that a CA file that is not a readable regular file of
    // a sensible size is a usage error naming it; the connection reads it
    // again (the same way) when it trusts it.
    core::Result<std::string> ca = request::ReadSmallFile(options.ca_file, transport::kCaFileLimit);
    if (!ca.ok()) return core::Status::Error("the CA file: " + ca.status().message());
  }
  if (line.timeout) {
    // One time-out bounds each step and the whole exchange.
    options.connect_timeout = *line.timeout;
    options.idle_timeout = *line.timeout;
    options.exchange_timeout = *line.timeout;
    options.overall_timeout = *line.timeout;
  }
  if (line.connect_timeout) options.connect_timeout = *line.connect_timeout;
  if (line.read_timeout) options.idle_timeout = *line.read_timeout;
  options.max_attempts = 1 + line.retries.value_or(kDefaultRetries);
  if (line.max_bytes) {
    options.max_join_bytes = static_cast<std::size_t>(
        std::min<std::uint64_t>(*line.max_bytes, std::numeric_limits<std::size_t>::max()));
  }
  if (ResolveFormat(line.format, console.OutputIsTerminal()) == OutputFormat::kJson) {
    options.reply_format = request::ReplyFormat::kJson;
  }
  return options;
}

core::Status ApplyProfileChoices(const CommandLine& line, const FoundCredentials& found,
                                 engine::EngineOptions& options) {
  if (!line.endpoint_type && !found.endpoint_type.empty()) {
    const std::optional<catalogue::EndpointType> type =
        catalogue::ParseEndpointType(found.endpoint_type);
    if (!type) {
      return core::Status::Error("the profile's endpoint_type \"" +
                                 EscapeLine(found.endpoint_type) + "\" is neither public nor vpc");
    }
    options.endpoint_type = *type;
  }
  if (!line.signature && !found.signature_version.empty()) {
    const std::optional<request::SignatureVersion> version =
        request::ParseSignatureVersion(found.signature_version);
    if (!version) {
      return core::Status::Error("the profile's signature_version \"" +
                                 EscapeLine(found.signature_version) + "\" is neither v1 nor v3");
    }
    options.signature_version = *version;
  }
  return core::Status::Ok();
}

int ExitStatusOf(engine::Outcome outcome) {
  switch (outcome) {
    case engine::Outcome::kGoodReply:
      return kExitOk;
    case engine::Outcome::kErrorReply:
    case engine::Outcome::kHttpError:
      return kExitErrorReply;
    case engine::Outcome::kConnectionFailed:
      return kExitConnection;
    case engine::Outcome::kNotSupported:
      return kExitNotSupported;
    case engine::Outcome::kRefused:
      break;
  }
  return kExitUsage;
}

namespace {

// The lines that explain an error reply.
std::string ErrorReplyLines(const engine::RequestResult& result) {
  const ServiceErrorText error = ReadServiceError(result.error_body);
  std::string line = error.code.empty() ? "the service answered with an error" : error.code;
  if (!error.message.empty()) line += ": " + error.message;
  if (!error.request_id.empty()) line += " (RequestId " + error.request_id + ")";
  std::string text = "kestrune: " + EscapeLine(line) + "\n";
  if (!result.detail.empty()) text += "kestrune: " + EscapeLine(result.detail) + "\n";
  if (!error.recommend.empty()) text += "kestrune: see " + EscapeLine(error.recommend) + "\n";
  return text;
}

}  // namespace

int PrintOutcome(Console& console, OutputFormat format, const CallOutcome& outcome, bool raw,
                 JsonDocument& json) {
  const engine::RequestResult& result = outcome.result;
  const bool replied = result.outcome == engine::Outcome::kGoodReply ||
                       result.outcome == engine::Outcome::kErrorReply ||
                       result.outcome == engine::Outcome::kHttpError;
  const std::string note = outcome.leaves_shown ? "(no formatter for " + result.action_line +
                                                      ": every element of the reply is shown)"
                                                : std::string();
  // A failed request whose rows were shown all the same (a walk that failed
  // after some pages, a reply cut off) keeps them in every format.
  const bool rows_expected = result.outcome == engine::Outcome::kGoodReply ||
                             result.outcome == engine::Outcome::kErrorReply || result.partial;
  int status = ExitStatusOf(result.outcome);
  if (raw) {
    if (replied) console.Out(result.body);
  } else if (format == OutputFormat::kJson) {
    if (!rows_expected) {
      json.AddNothing();
    } else if (outcome.json_walk != nullptr && outcome.json_walk->joined()) {
      const auto partial = result.failed_page > 0
                               ? std::optional<engine::WalkBreak>(engine::WalkBreak{
                                     result.failed_page, result.records_before_failure})
                               : std::nullopt;
      if (!outcome.json_walk->Write(result.notes, partial,
                                    [&console](std::string_view piece) { console.Out(piece); })) {
        console.Err(
            "kestrune: the records set aside during the walk could not be read back whole\n");
        if (status == kExitOk) status = kExitErrorReply;
      }
    } else if (std::optional<std::string> complaint = json.AddReply(
                   result.body, result.notes,
                   result.failed_page > 0 ? std::optional<PartialWalk>(PartialWalk{
                                                result.failed_page, result.records_before_failure})
                                          : std::nullopt)) {
      console.Err("kestrune: " + EscapeLine(*complaint) + "\n");
      if (status == kExitOk) status = kExitErrorReply;
    }
  } else if (rows_expected || format == OutputFormat::kTable) {
    std::string text = RenderRows(format, outcome.rows, result.result_text,
                                  format == OutputFormat::kTable ? note : std::string());
    if (!text.empty()) console.Out(ForDisplay(console, format, std::move(text)));
  }
  if (outcome.leaves_shown && !raw && format != OutputFormat::kTable) {
    console.Err("kestrune: note: " + note.substr(1, note.size() - 2) + "\n");
  }
  std::string explanation;
  switch (result.outcome) {
    case engine::Outcome::kGoodReply:
      // A walk over pages that stopped at its bound says where to go on.
      if (!result.detail.empty())
        console.Err("kestrune: note: " + EscapeLine(result.detail) + "\n");
      break;
    case engine::Outcome::kErrorReply:
      console.Err(ErrorReplyLines(result));
      break;
    case engine::Outcome::kHttpError:
      explanation = "the service answered " + result.result_text;
      break;
    case engine::Outcome::kConnectionFailed:
      explanation = "connection failed" + (result.detail.empty() ? "" : ": " + result.detail);
      break;
    case engine::Outcome::kNotSupported:
      explanation = std::string(engine::kNotSupportedText) +
                    (result.detail.empty() ? "" : ": " + result.detail);
      break;
    case engine::Outcome::kRefused:
      explanation =
          result.detail.empty() ? "the request was refused; nothing was sent" : result.detail;
      break;
  }
  if (!explanation.empty()) console.Err("kestrune: " + EscapeLine(explanation) + "\n");
  // What the engine found out about a refused signature or time stamp.
  for (const std::string& engine_note : result.notes) {
    console.Err("kestrune: note: " + EscapeLine(engine_note) + "\n");
  }
  return status;
}

}  // namespace kestrune::cli
