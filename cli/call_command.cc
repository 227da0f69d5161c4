// `kestrune call SERVICE ACTION [Name=Value ...]`: checks everything the user
// typed before anything is sent, then signs, sends and prints the rows.
#include <map>
#include <string>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "core/ascii.h"
#include "request/clock.h"

namespace kestrune::cli {
namespace {

std::string AcceptedNames(const core::StringListView& names) {
  std::string accepted;
  for (std::size_t i = 1; i <= names.Count(); ++i) {
    const std::string_view name = names.Entry(i);
    // A name that occurs twice in a template is one parameter to the user.
    bool seen = false;
    for (std::size_t j = 1; j < i; ++j) seen = seen || names.Entry(j) == name;
    if (seen) continue;
    if (!accepted.empty()) accepted += ", ";
    accepted += name;
  }
  return accepted;
}

// The template's spelling of a parameter the user named: exact, else the one
// name equal without regard to case.
std::optional<std::string> MatchParameter(const core::StringListView& names,
                                          std::string_view given) {
  std::optional<std::string> folded;
  for (std::size_t i = 1; i <= names.Count(); ++i) {
    const std::string_view name = names.Entry(i);
    if (name == given) return std::string(name);
    if (!folded && core::EqualsIgnoreCase(name, given)) folded = std::string(name);
  }
  return folded;
}

}  // namespace

core::Result<catalogue::ParameterValueSlots> BindParameters(
    const catalogue::ResolvedAction& action, std::span<const std::string> assignments,
    const std::optional<std::string>& region) {
  const catalogue::RequestTemplate& request_template = *action.request_template;
  const core::StringListView names = request_template.parameter_names();
  const std::string action_name(request_template.action());
  struct GivenValue {
    std::string text;
    bool reached = false;  // bound to a position the form can hold
  };
  std::map<std::string, GivenValue, std::less<>> given;
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
      return core::Status::InvalidInput("malformed parameter \"" + EscapeLine(assignment) +
                                        "\": expected Name=Value");
    }
    const std::string_view name = std::string_view(assignment).substr(0, equals);
    std::optional<std::string> matched = MatchParameter(names, name);
    if (!matched) {
      const std::string accepted = AcceptedNames(names);
      return core::Status::InvalidInput(
          action_name + " has no parameter \"" + EscapeLine(name) + "\"" +
          (accepted.empty() ? " (it takes none)" : " (accepted: " + accepted + ")"));
    }
    if (given.contains(*matched)) {
      return core::Status::InvalidInput("parameter " + *matched + " is given twice");
    }
    given.emplace(*matched, GivenValue{assignment.substr(equals + 1)});
  }
  if (region) {
    if (!MatchParameter(names, "RegionId")) {
      return core::Status::InvalidInput("--region: " + action_name + " has no RegionId parameter");
    }
    given.try_emplace("RegionId", GivenValue{*region});
  }
  catalogue::ParameterValueSlots values;
  const std::size_t count = names.Count();
  for (std::size_t i = 1; i <= count && i <= catalogue::ParameterValueSlots::kCount; ++i) {
    auto found = given.find(names.Entry(i));
    core::Status set = values.Set(i, found != given.end() ? found->second.text : std::string());
    if (!set.ok()) return set;
    if (found != given.end()) found->second.reached = true;
  }
  for (const auto& [name, value] : given) {
    if (!value.reached) {
      return core::Status::InvalidInput(name + " is beyond the eighth parameter of " + action_name +
                                        "; only the first eight can be given (the rest keep their "
                                        "stored values)");
    }
  }
  return values;
}

int RunCall(const CommandLine& line, Console& console) {
  if (line.operands.size() < 2) {
    return UsageError(console,
                      "call needs a service and an action: kestrune call SERVICE ACTION "
                      "[Name=Value ...]");
  }
  core::Result<unsigned> service = ParseServiceName(line.operands[0]);
  if (!service.ok()) return UsageError(console, service.status().message());
  const std::string& action_name = line.operands[1];
  const std::string_view service_name = ServiceCommandName(*service);
  const std::optional<catalogue::ResolvedAction> action =
      catalogue::ResolveActionName(*service, action_name);
  if (!action) {
    if (FindBrowsingEntry(*service, action_name)) {
      // Listed in the catalogue but without a request: the dialog's answer,
      // and nothing is sent.
      if (ResolveFormat(line.format, console.OutputIsTerminal()) == OutputFormat::kTable &&
          !line.raw && !line.dry_run) {
        console.Out(std::string(engine::kNotSupportedText) + "\n");
      }
      console.Err("kestrune: " + std::string(engine::kNotSupportedText) + ": " +
                  EscapeLine(action_name) + " has no request template; nothing was sent\n");
      return kExitNotSupported;
    }
    return UsageError(console, std::string(service_name) + " has no action \"" +
                                   EscapeLine(action_name) + "\" (see kestrune list " +
                                   std::string(service_name) + ")");
  }
  core::Result<catalogue::ParameterValueSlots> values =
      BindParameters(*action, std::span<const std::string>(line.operands).subspan(2), line.region);
  if (!values.ok()) return UsageError(console, values.status().message());

  core::Result<engine::EngineOptions> options = EngineOptionsFor(line, console);
  if (!options.ok()) return UsageError(console, options.status().message());
  core::Result<FoundCredentials> credentials = FindCredentials(console);
  if (!credentials.ok()) return UsageError(console, credentials.status().message());

  const bool tracing = TracingWanted(line, console);
  report::NullTraceSink no_trace;
  report::TraceSink& trace = tracing ? console.Trace() : no_trace;
  if (tracing) {
    console.Err("kestrune: credentials from " + credentials->source + "\n");
    console.Err("kestrune: sending to " +
                (options->endpoint_override.empty()
                     ? std::string(catalogue::FindService(*service)->host) + ":80"
                     : options->endpoint_override) +
                "\n");
  }

  const request::SystemClock clock;
  report::RecordingResultList list;
  engine::Engine engine(clock, list, trace, *options);
  if (line.dry_run) {
    core::Result<request::SignedRequest> prepared =
        engine.Prepare(credentials->credentials, *action, *values);
    if (!prepared.ok()) {
      if (prepared.status().IsNotSupported()) {
        console.Err("kestrune: " + std::string(engine::kNotSupportedText) + "\n");
        return kExitNotSupported;
      }
      return UsageError(console, prepared.status().message());
    }
    console.Out(prepared->text);
    return kExitOk;
  }
  const CallOutcome outcome =
      SendAndCollect(engine, list, credentials->credentials, *action, *values);
  return PrintOutcome(console, ResolveFormat(line.format, console.OutputIsTerminal()), outcome,
                      line.raw);
}

}  // namespace kestrune::cli
