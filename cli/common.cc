// What the subcommands share: names, outcomes, printing.
#include <algorithm>
#include <array>
#include <utility>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "core/ascii.h"
#include "core/closest.h"
#include "report/display_text.h"
#include "report/extractor.h"

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
                           const catalogue::ParameterValues& values,
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

std::string OutcomeText(const engine::RequestResult& result) {
  switch (result.outcome) {
    case engine::Outcome::kGoodReply:
      return {};
    case engine::Outcome::kErrorReply: {
      const ServiceErrorText error = ReadServiceError(result.reply.error_body);
      std::string text = error.code.empty() ? "the service answered with an error" : error.code;
      if (!error.message.empty()) text += ": " + error.message;
      return text;
    }
    case engine::Outcome::kHttpError:
      return "the service answered " + result.result_text;
    case engine::Outcome::kConnectionFailed:
      return "connection failed" + (result.detail.empty() ? "" : ": " + result.detail);
    case engine::Outcome::kNotSupported:
      return std::string(engine::kNotSupportedText) +
             (result.detail.empty() ? "" : ": " + result.detail);
    case engine::Outcome::kRefused:
      break;
  }
  return result.detail.empty() ? "the request was refused; nothing was sent" : result.detail;
}

std::string_view OutcomeCode(engine::Outcome outcome) {
  switch (outcome) {
    case engine::Outcome::kGoodReply:
      return "GoodReply";
    case engine::Outcome::kErrorReply:
      return "ErrorReply";
    case engine::Outcome::kHttpError:
      return "HttpError";
    case engine::Outcome::kConnectionFailed:
      return "ConnectionFailed";
    case engine::Outcome::kNotSupported:
      return "NotSupported";
    case engine::Outcome::kRefused:
      break;
  }
  return "Refused";
}

std::string ResultTextOf(const engine::RequestResult& result) {
  // The engine gives a failed connection no words: these are the command line's.
  return result.outcome == engine::Outcome::kConnectionFailed ? OutcomeText(result)
                                                              : result.result_text;
}

namespace {

// The lines that explain an error reply.
std::string ErrorReplyLines(const engine::RequestResult& result) {
  const ServiceErrorText error = ReadServiceError(result.reply.error_body);
  std::string line = OutcomeText(result);
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
    if (replied) console.Out(result.reply.body);
  } else if (format == OutputFormat::kJson) {
    if (!rows_expected) {
      json.AddNothing();
    } else if (outcome.json_walk != nullptr && outcome.json_walk->joined()) {
      const auto partial = result.walk.failed_page > 0
                               ? std::optional<engine::WalkBreak>(engine::WalkBreak{
                                     result.walk.failed_page, result.walk.records_before_failure})
                               : std::nullopt;
      if (!outcome.json_walk->Write(result.notes, partial,
                                    [&console](std::string_view piece) { console.Out(piece); })) {
        console.Err(
            "kestrune: the records set aside during the walk could not be read back whole\n");
        if (status == kExitOk) status = kExitErrorReply;
      }
    } else if (std::optional<std::string> complaint = json.AddReply(
                   result.reply.body, result.notes,
                   result.walk.failed_page > 0
                       ? std::optional<PartialWalk>(PartialWalk{result.walk.failed_page,
                                                                result.walk.records_before_failure})
                       : std::nullopt)) {
      console.Err("kestrune: " + EscapeLine(*complaint) + "\n");
      if (status == kExitOk) status = kExitErrorReply;
    }
  } else if (rows_expected || format == OutputFormat::kTable) {
    std::string text = RenderRows(format, outcome.rows, ResultTextOf(result),
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
    case engine::Outcome::kConnectionFailed:
    case engine::Outcome::kNotSupported:
    case engine::Outcome::kRefused:
      explanation = OutcomeText(result);
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
