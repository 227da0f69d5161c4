// What the subcommands share: names, endpoint, printing.
#include <array>
#include <utility>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "core/ascii.h"
#include "report/display_text.h"
#include "report/extractor.h"
#include "request/endpoint.h"

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
  return core::Status::InvalidInput("unknown service \"" + EscapeLine(name) +
                                    "\" (accepted: ecs, iot, apigateway)");
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

bool TracingWanted(const CommandLine& line, const Console& console) {
  if (line.debug) return true;
  std::optional<std::string> trace = console.Env("KESTRUNE_TRACE");
  return trace && *trace == "1";
}

core::Result<std::string> EndpointOverride(const CommandLine& line, const Console& console) {
  if (line.endpoint) return *line.endpoint;
  std::optional<std::string> from_env = NonEmptyEnv(console, request::kEndpointVariable);
  if (!from_env) return std::string();
  core::Status checked = CheckEndpoint(*from_env);
  if (!checked.ok()) {
    return core::Status::InvalidInput(std::string(request::kEndpointVariable) + ": " +
                                      checked.message());
  }
  return *from_env;
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
                           const std::optional<catalogue::PagingInfo>& paging) {
  CallOutcome outcome;
  list.Clear();
  outcome.result = paging ? engine.SendAllPages(credentials, action, values, *paging)
                          : engine.Send(credentials, action, values);
  outcome.leaves_shown = outcome.result.leaves_shown;
  outcome.rows = list.produced();
  return outcome;
}

core::Result<engine::EngineOptions> EngineOptionsFor(const CommandLine& line,
                                                     const Console& console) {
  engine::EngineOptions options;
  core::Result<std::string> endpoint = EndpointOverride(line, console);
  if (!endpoint.ok()) return endpoint.status();
  options.endpoint_override = *endpoint;
  if (line.timeout) {
    options.connect_timeout = *line.timeout;
    options.idle_timeout = *line.timeout;
  }
  return options;
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

int PrintOutcome(Console& console, OutputFormat format, const CallOutcome& outcome, bool raw) {
  const engine::RequestResult& result = outcome.result;
  const bool replied = result.outcome == engine::Outcome::kGoodReply ||
                       result.outcome == engine::Outcome::kErrorReply ||
                       result.outcome == engine::Outcome::kHttpError;
  const std::string note = outcome.leaves_shown ? "(no formatter for " + result.action_line +
                                                      ": every element of the reply is shown)"
                                                : std::string();
  const bool rows_expected = result.outcome == engine::Outcome::kGoodReply ||
                             result.outcome == engine::Outcome::kErrorReply;
  if (raw) {
    if (replied) console.Out(result.body);
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
    case engine::Outcome::kErrorReply: {
      std::string code;
      for (const report::Row& row : outcome.rows) {
        if (row.field == "Code") code = row.info;
      }
      explanation = "the service answered with an error" + (code.empty() ? "" : ": " + code) +
                    (result.detail.empty() ? "" : " (" + result.detail + ")");
      break;
    }
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
  return ExitStatusOf(result.outcome);
}

}  // namespace kestrune::cli
