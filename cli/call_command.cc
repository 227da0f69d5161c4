// `kestrune call SERVICE ACTION [Name=Value ...]`: checks everything the user
// typed before anything is sent, then signs, sends and prints the rows.
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>

#include "catalogue/action_kind.h"
#include "catalogue/paging.h"
#include "catalogue/parameters.h"
#include "cli/app.h"
#include "cli/commands.h"
#include "cli/fan_out.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/settings.h"
#include "cli/wait.h"
#include "core/ascii.h"
#include "core/closest.h"
#include "engine/destination.h"
#include "report/extractor.h"
#include "request/clock.h"
#include "request/endpoint.h"
#include "transport/proxy.h"

namespace kestrune::cli {
namespace {

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

core::Result<catalogue::ParameterValues> BindParameters(const catalogue::ResolvedAction& action,
                                                        std::span<const std::string> assignments,
                                                        const std::optional<std::string>& region) {
  const core::StringListView names = action.request_template != nullptr
                                         ? action.request_template->parameter_names()
                                         : core::StringListView{};
  catalogue::ParameterValues values;
  std::set<std::string, std::less<>> given;
  auto give = [&](std::string_view name, std::string_view value) -> core::Status {
    std::optional<std::string> matched = MatchParameter(names, name);
    const std::string spelled = matched ? *matched : std::string(name);
    if (!given.insert(spelled).second) {
      return core::Status::InvalidInput("parameter " + EscapeLine(spelled) + " is given twice");
    }
    if (!matched) {
      if (core::Status status = catalogue::CheckParameterName(name); !status.ok()) return status;
    }
    values.Set(spelled, value);
    return core::Status::Ok();
  };
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
      return core::Status::InvalidInput("malformed parameter \"" + EscapeLine(assignment) +
                                        "\": expected Name=Value");
    }
    const std::string_view name = std::string_view(assignment).substr(0, equals);
    if (core::Status status = give(name, std::string_view(assignment).substr(equals + 1));
        !status.ok()) {
      return status;
    }
  }
  if (region && !given.contains(MatchParameter(names, "RegionId").value_or("RegionId"))) {
    if (core::Status status = give("RegionId", *region); !status.ok()) return status;
  }
  return values;
}

namespace {

// " through the proxy HOST:PORT" when a proxy applies to `host` over TLS or
// plain HTTP, else nothing; never the proxy's credentials.
std::string ProxyNote(const transport::ProxySettings& proxies, const std::string& host,
                      bool https) {
  const transport::ProxyServer* proxy = transport::ProxyFor(proxies, host, https);
  if (proxy == nullptr) return {};
  return " through the proxy " + transport::Authority(proxy->host, proxy->port);
}

// The choice the user named: a listed action (with its template, if any), or
// with --force any name that looks like an action. A name neither listed nor
// forced is a usage error that suggests the closest listed names.
core::Result<catalogue::ResolvedAction> ChooseAction(unsigned service, std::string_view name,
                                                     bool force) {
  if (std::optional<catalogue::ResolvedAction> action =
          catalogue::ResolveActionName(service, name)) {
    return *action;
  }
  if (force) {
    core::Result<catalogue::ResolvedAction> forced = catalogue::ForcedAction(service, name);
    if (!forced.ok()) {
      return core::Status::InvalidInput("--force: \"" + EscapeLine(name) +
                                        "\" is not an action name: " + forced.status().message());
    }
    return forced;
  }
  const std::string service_name(ServiceCommandName(service));
  std::string message = service_name + " has no action \"" + EscapeLine(name) +
                        "\" (see kestrune list " + service_name;
  message += "; --force sends an action no list holds)";
  const std::vector<std::string> closest = catalogue::ClosestActionNames(service, name);
  if (!closest.empty()) message += "; did you mean " + core::JoinAlternatives(closest) + "?";
  return core::Status::InvalidInput(std::move(message));
}

// A parameter name one slip (a letter added, dropped, changed or two swapped)
// away from one of the action's own is almost surely that one mistyped: the
// service would ignore it or miss the one meant. Refused, unless forced, with
// the name meant. Short names are left alone: between them one letter is
// often all that differs.
core::Status CheckParameterSlips(const catalogue::ResolvedAction& action,
                                 std::span<const std::string> assignments) {
  if (action.request_template == nullptr) return core::Status::Ok();
  constexpr std::size_t kShortestChecked = 5;
  const core::StringListView names = action.request_template->parameter_names();
  std::vector<std::string_view> own;
  for (std::size_t i = 1; i <= names.Count(); ++i) own.push_back(names.Entry(i));
  for (const std::string& assignment : assignments) {
    const std::string_view name = std::string_view(assignment).substr(0, assignment.find('='));
    if (name.size() < kShortestChecked || MatchParameter(names, name)) continue;
    for (std::string_view candidate : own) {
      if (core::EditDistanceIgnoringCase(name, candidate) != 1) continue;
      return core::Status::InvalidInput(action.action_name + " has no parameter \"" +
                                        EscapeLine(name) + "\"; did you mean " +
                                        std::string(candidate) + "? (--force sends it as typed)");
    }
  }
  return core::Status::Ok();
}

// Whether the action's template has a RegionId parameter.
bool TakesRegionId(const catalogue::ResolvedAction& action) {
  return action.request_template != nullptr && action.request_template->holds_parameter("RegionId");
}

// Gives every RegionId parameter of the action's template that the user left
// out the profile's default region. Returns whether it gave one: an action
// without RegionId, or a region the user chose, is left as it is.
bool DefaultRegionId(const catalogue::ResolvedAction& action, const std::string& region_id,
                     catalogue::ParameterValues& values) {
  if (region_id.empty() || !TakesRegionId(action) || values.Get("RegionId")) return false;
  values.Set("RegionId", region_id);
  return true;
}

// The regions of the account, from an ECS DescribeRegions call (always
// XML: only the ids are read). A failure is explained on the error stream
// and its exit status returned.
std::variant<std::vector<std::string>, int> ListRegions(Console& console, const CommandLine& line,
                                                        const request::Clock& clock,
                                                        const request::Credentials& credentials,
                                                        engine::EngineOptions options,
                                                        report::TraceSink& trace) {
  options.reply_format = request::ReplyFormat::kXml;
  report::RecordingResultList list;
  engine::Engine engine(clock, list, trace, options);
  ExchangePrinter printer(console);
  if (line.debug) engine.set_exchange_observer(&printer);
  const std::optional<catalogue::ResolvedAction> describe =
      catalogue::ResolveActionName(catalogue::kEcsService, "DescribeRegions");
  if (!describe) return kExitNotSupported;
  const CallOutcome outcome =
      SendAndCollect(engine, list, credentials, *describe, {}, std::nullopt);
  RegionList regions = RegionIdsOf(outcome.result.reply.body);
  if (outcome.result.outcome == engine::Outcome::kGoodReply && !regions.ids.empty()) {
    for (const std::string& note : regions.notes) {
      console.Err("kestrune: note: --regions: " + note + "\n");
    }
    return std::move(regions.ids);
  }
  CapturingConsole capture(console);
  JsonDocument unused;
  int status = PrintOutcome(capture, OutputFormat::kTsv, outcome, false, unused);
  if (status == kExitOk) status = kExitErrorReply;  // a reply without regions
  console.Err("kestrune: --regions: the region list (ECS DescribeRegions) could not be read\n");
  console.Err(capture.err());
  return status;
}

// Prints the calls' results, in the list's order whatever order the replies
// came in; returns the worst exit status.
int PrintRegionCalls(const CommandLine& line, Console& console,
                     const catalogue::ResolvedAction& action, const engine::EngineOptions& options,
                     std::span<const RegionCall> calls) {
  const OutputFormat format = ResolveFormat(line.format, console.OutputIsTerminal());
  JsonDocument json;
  std::vector<report::Row> rows;
  std::string action_line;
  std::string note;
  int status = kExitOk;
  for (const RegionCall& call : calls) {
    const engine::RequestResult& result = call.outcome.result;
    if (line.debug) {
      const core::Result<engine::Destination> resolved =
          engine::ResolveDestination(options, action, call.values);
      if (resolved.ok()) {
        console.Err(PrefixRegion(
            call.region,
            "kestrune: " + engine::DescribeDestination(*resolved, options.endpoint_type)));
      }
    }
    if (!call.exchanges.empty()) console.Err(PrefixRegion(call.region, call.exchanges));
    for (const std::string& trace_line : call.trace_lines) {
      console.Trace().Line(call.region + ": " + trace_line);
    }
    CapturingConsole capture(console);
    JsonDocument reply;
    status = WorseExitStatus(status, PrintOutcome(capture, format, call.outcome, false, reply));
    if (!capture.err().empty()) console.Err(PrefixRegion(call.region, capture.err()));
    if (format == OutputFormat::kJson) {
      json.AddRegionReply(call.region, reply, OutcomeCode(result.outcome), OutcomeText(result));
      continue;
    }
    // Regions are records apart, as records are within one reply.
    if (!rows.empty() && !rows.back().record_break) {
      rows.push_back(report::Row::Break());
    }
    rows.push_back({"Region", call.region});
    rows.insert(rows.end(), call.outcome.rows.begin(), call.outcome.rows.end());
    // A call without rows (no connection, a proxy's page) still says so under
    // its region.
    if (call.outcome.rows.empty() && result.outcome != engine::Outcome::kGoodReply) {
      rows.push_back({"Result", ResultTextOf(result)});
    }
    if (action_line.empty()) action_line = result.action_line;
    if (call.outcome.leaves_shown && note.empty()) {
      note = "(no formatter for " + result.action_line + ": every element of the reply is shown)";
    }
  }
  if (format == OutputFormat::kJson) {
    console.Out(json.Render(true));
  } else {
    std::string text = RenderRows(format, rows, action_line,
                                  format == OutputFormat::kTable ? note : std::string());
    if (!text.empty()) console.Out(ForDisplay(console, format, std::move(text)));
  }
  return status;
}

// The call once per region of `choice`: see cli/fan_out.h.
int CallRegions(const CommandLine& line, Console& console, const RegionChoice& choice,
                const catalogue::ResolvedAction& action, std::span<const std::string> assignments,
                const std::optional<catalogue::PagingInfo>& paging,
                const engine::EngineOptions& options, const FoundCredentials& credentials,
                report::TraceSink& trace) {
  const request::SystemClock clock;
  // Ids that all name published regions go at once: asking the account's
  // list first would cost every such call a whole round trip. Any other id
  // may be a region added since this build, or a typing slip, and only the
  // account's list tells which, before anything else is sent.
  const bool published =
      !choice.all && std::all_of(choice.ids.begin(), choice.ids.end(), [](const std::string& id) {
        return catalogue::IsPublishedRegion(id);
      });
  std::variant<std::vector<std::string>, int> known = choice.ids;
  if (!published) {
    known = ListRegions(console, line, clock, credentials.credentials, options, trace);
  }
  if (const int* failed = std::get_if<int>(&known)) return *failed;
  const std::vector<std::string>& regions = std::get<std::vector<std::string>>(known);
  std::vector<RegionCall> calls;
  for (const std::string& id : choice.all ? regions : choice.ids) {
    if (std::find(regions.begin(), regions.end(), id) == regions.end()) {
      return UsageError(console, "--regions: unknown region " + EscapeLine(id) +
                                     " (not among the " + std::to_string(regions.size()) +
                                     " regions DescribeRegions lists); nothing was sent");
    }
    core::Result<catalogue::ParameterValues> values = BindParameters(action, assignments, id);
    if (!values.ok()) return UsageError(console, values.status().message());
    calls.push_back(RegionCall{id, std::move(values.value()), {}, {}, {}});
  }

  FanOutSettings settings;
  settings.console = &console;
  settings.clock = &clock;
  settings.credentials = &credentials.credentials;
  settings.action = &action;
  settings.paging = paging;
  settings.options = options;
  settings.parallel = line.parallel.value_or(kDefaultParallel);
  settings.debug = line.debug;
  settings.trace = TraceWanted(line, console);
  FanOutProgress progress(calls.size());
  settings.progress = &progress;
  {
    // Ctrl-C shows what has come so far: the calls in flight cannot be
    // stopped, so the process ends without them.
    const InterruptAction on_interrupt([&] {
      const std::vector<bool> done = progress.Done();
      std::vector<RegionCall> finished;
      for (std::size_t i = 0; i < calls.size(); ++i) {
        if (done[i]) finished.push_back(calls[i]);
      }
      PrintRegionCalls(line, console, action, options, finished);
      console.Err("kestrune: interrupted: " + std::to_string(finished.size()) + " of " +
                  std::to_string(calls.size()) +
                  " regions had answered; the others are not shown\n");
      console.FinishOutput();
      EndProcessNow(kExitInterrupted);
    });
    SendToRegions(settings, calls);
  }
  return PrintRegionCalls(line, console, action, options, calls);
}

request::HttpMethod MethodOf(const CommandLine& line) {
  if (line.method == "GET") return request::HttpMethod::kGet;
  if (line.method == "POST") return request::HttpMethod::kPost;
  return request::HttpMethod::kAuto;
}

}  // namespace

int RunCall(const CommandLine& line, Console& console) {
  if (line.operands.size() < 2) {
    return UsageError(console,
                      "call needs a service and an action: kestrune call SERVICE ACTION "
                      "[Name=Value ...]");
  }
  core::Result<unsigned> service = ParseServiceName(line.operands[0]);
  if (!service.ok()) return UsageError(console, service.status().message());
  const std::string& action_name = line.operands[1];
  core::Result<catalogue::ResolvedAction> action = ChooseAction(*service, action_name, line.force);
  if (!action.ok()) return UsageError(console, action.status().message());
  std::optional<catalogue::PagingInfo> paging;
  if (line.all_pages) {
    paging = catalogue::PagingOf(*service, action->action_name);
    if (!paging) {
      return UsageError(console, "--all-pages: " + action->action_name + " has no pages");
    }
  }
  const std::span<const std::string> assignments =
      std::span<const std::string>(line.operands).subspan(2);
  if (!line.force) {
    if (core::Status slips = CheckParameterSlips(*action, assignments); !slips.ok()) {
      return UsageError(console, slips.message());
    }
  }
  if (std::optional<std::string> note = catalogue::UnlistedNamesNote(*action, assignments)) {
    console.Err("kestrune: note: " + EscapeLine(*note) + "\n");
  }
  std::optional<RegionChoice> regions;
  if (line.regions) {
    core::Result<RegionChoice> choice = ParseRegionChoice(*line.regions);
    if (!choice.ok()) return UsageError(console, choice.status().message());
    if (!TakesRegionId(*action)) {
      return UsageError(console, "--regions: " + action->action_name + " takes no RegionId");
    }
    for (const std::string& assignment : assignments) {
      const std::string_view name = std::string_view(assignment).substr(0, assignment.find('='));
      if (core::EqualsIgnoreCase(name, "RegionId")) {
        return UsageError(console,
                          "--regions gives each call its RegionId; RegionId= cannot be "
                          "given as well");
      }
    }
    regions = std::move(choice.value());
  }
  core::Result<catalogue::ParameterValues> values =
      BindParameters(*action, assignments, line.region);
  if (!values.ok()) return UsageError(console, values.status().message());

  core::Result<Settings> chosen_settings = ResolveSettings(line, console);
  if (!chosen_settings.ok()) return UsageError(console, chosen_settings.status().message());
  Settings& setup = chosen_settings.value();
  engine::EngineOptions* const options = &setup.engine;
  options->method = MethodOf(line);
  options->accept_unknown_parameters = line.force;
  options->all_fields = line.all_fields;
  core::Result<FoundCredentials> credentials = FindCredentials(line, setup, console);
  if (!credentials.ok()) return CredentialsFailure(console, credentials.status());
  if (core::Status chosen = ApplyProfile(line, *credentials, setup); !chosen.ok()) {
    return UsageError(console, chosen.message());
  }
  // A request that names no region of its own still goes to the default
  // region's host (setup.engine.region).
  // Checked before every request, so a long walk, wait or fan-out renews
  // them as they near their end.
  options->renewing = credentials->renewing;
  const bool region_defaulted =
      !line.region && !regions && DefaultRegionId(*action, setup.region, values.value());

  report::NullTraceSink no_trace;
  report::TraceSink& trace = TraceWanted(line, console) ? console.Trace() : no_trace;
  if (line.debug) {
    console.Err("kestrune: credentials from " + EscapeLine(credentials->source) + "\n");
    if (region_defaulted) {
      console.Err("kestrune: RegionId " + EscapeLine(setup.region) + " from " +
                  setup.region_source + " (no RegionId or --region given)\n");
    }
    // A fan-out names each region's host with its exchanges.
    const core::Result<engine::Destination> resolved =
        engine::ResolveDestination(*options, *action, *values);
    if (!regions && resolved.ok()) {
      console.Err("kestrune: " + engine::DescribeDestination(*resolved, options->endpoint_type) +
                  "\n");
    }
    const transport::ProxySettings proxies =
        options->route ? options->route->proxy : transport::ProxySettings{};
    if (!options->endpoint_override.empty()) {
      // The override as the user wrote it, with the proxy of the host it names.
      const std::optional<request::EndpointOverride> target =
          options->route ? options->route->endpoint : std::nullopt;
      const std::string note =
          target ? ProxyNote(proxies, target->host, target->scheme == request::Scheme::kHttps)
                 : std::string();
      console.Err("kestrune: sending to " + options->endpoint_override + note + "\n");
    } else if (!regions && resolved.ok()) {
      console.Err("kestrune: sending to https://" + resolved->endpoint.host +
                  ProxyNote(proxies, resolved->endpoint.host, true) + "\n");
    }
    if (!options->ca_file.empty()) {
      console.Err("kestrune: trusting only the certificates of " + options->ca_file + "\n");
    }
  }

  if (regions) {
    return CallRegions(line, console, *regions, *action, assignments, paging, *options,
                       *credentials, trace);
  }

  const request::SystemClock clock;
  report::RecordingResultList list;
  engine::Engine engine(clock, list, trace, *options);
  ExchangePrinter printer(console);
  if (line.debug) engine.set_exchange_observer(&printer);
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
    const std::string_view token = credentials->credentials.security_token;
    console.Out(request::HideSecurityToken(prepared->text(), token));
    if (!token.empty()) {
      console.Err("kestrune: note: the SecurityToken value is shown as " +
                  std::string(request::kHiddenToken) +
                  "; the printed request cannot be sent as it stands\n");
    }
    return kExitOk;
  }
  const OutputFormat format = ResolveFormat(line.format, console.OutputIsTerminal());
  if (line.wait_for) {
    core::Result<WaitCondition> condition = ParseWaitCondition(*line.wait_for, line.wait_fail);
    if (!condition.ok()) return UsageError(console, condition.status().message());
    // Waiting sends the call again and again: a change would be made anew
    // with every call.
    if (catalogue::KindOfAction(action->service, action->action_name) !=
        catalogue::ActionKind::kReadOnly) {
      return UsageError(console,
                        "--wait-for repeats the call, so it takes an action that only "
                        "reads; " +
                            action->action_name +
                            " changes resources (wait with a Describe... action after it)");
    }
    const WaitSettings settings{std::move(condition.value()),
                                line.wait_interval.value_or(kDefaultWaitInterval),
                                line.wait_timeout.value_or(kDefaultWaitTimeout),
                                format,
                                line.raw,
                                line.debug};
    return CallUntil(console, settings, engine, list, credentials->credentials, *action, *values);
  }
  // A walk's rows are printed as each page comes, so it never holds them all.
  RowChunks chunks(format);
  const auto print_page = [&](const std::vector<report::Row>& rows) {
    if (std::string text = chunks.Render(rows); !text.empty()) {
      console.Out(ForDisplay(console, format, std::move(text)));
    }
  };
  // A JSON walk is written once it has ended (its head takes values only the
  // end knows); meanwhile its records wait in a scratch file, not in memory.
  std::optional<engine::JsonWalk> walk;
  if (paging && !line.raw && format == OutputFormat::kJson) walk.emplace(paging->list_element);
  CallOutcome outcome = SendAndCollect(
      engine, list, credentials->credentials, *action, *values, paging,
      line.raw || format == OutputFormat::kJson ? std::function<void(std::vector<report::Row>)>()
                                                : print_page,
      walk ? &*walk : nullptr);
  // Only --raw and JSON print the body; rows are made from it already, so a
  // large reply is let go before its rows are rendered.
  if (!line.raw && format != OutputFormat::kJson) std::string().swap(outcome.result.reply.body);
  JsonDocument json;
  const int status = PrintOutcome(console, format, outcome, line.raw, json);
  // The document holds what it prints of the body now.
  std::string().swap(outcome.result.reply.body);
  // One call, one reply: the document is that reply itself. (A call over
  // several regions prints an array: see CallRegions.)
  if (json.size() > 0) console.Out(json.Render(false));
  return status;
}

}  // namespace kestrune::cli
