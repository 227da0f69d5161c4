#include <functional>
// The subcommands of `kestrune` and what they share: resolving a service or
// an action named on the command line, finding the credentials, and printing
// one-line errors. Internal to the cli module; each command runs on the
// caller's thread with the caller's Console.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/paging.h"
#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/json_output.h"
#include "core/status.h"
#include "engine/credential_chain.h"
#include "engine/engine.h"
#include "report/result_list.h"
#include "request/credential_provider.h"
#include "request/credentials.h"

namespace kestrune::cli {

int RunList(const CommandLine& line, Console& console);
int RunCall(const CommandLine& line, Console& console);
int RunSample(const CommandLine& line, Console& console);
int RunCredentials(const CommandLine& line, Console& console);
int RunDemo(const CommandLine& line, Console& console);
int RunDoctor(const CommandLine& line, Console& console);
int RunConfigure(const CommandLine& line, Console& console);

// Prints "kestrune: <message>" on one line of the error stream and returns
// kExitUsage.
int UsageError(Console& console, std::string_view message);

// "ecs", "iot" or "apigateway" (any case) -> ServiceNumber; an error naming
// the accepted ones otherwise.
core::Result<unsigned> ParseServiceName(std::string_view name);
// The command-line name of a service ("ecs").
std::string_view ServiceCommandName(unsigned service_number);

// Where a browsing entry stands: 0-based positions as the selectors count.
struct Settings;  // cli/settings.h

struct BrowsingPlace {
  std::size_t category_position = 0;
  std::size_t entry_position = 0;
};
// The first browsing entry of a service named `name` (ECS: action names
// without regard to case; IoT and API Gateway: display names, exactly).
std::optional<BrowsingPlace> FindBrowsingEntry(unsigned service_number, std::string_view name);

// The user's values from "Name=Value" assignments, each name at most once.
// A name of the action's template (exact, or without regard to case) gives
// that parameter's value, at each of its positions when it occurs twice; any
// other name is a further parameter, sent after the template's in the order
// given. A parameter not named is not sent; "Name=" sends an empty value.
// `region`, when given, is the RegionId value unless the assignments name it.
// An error message for anything malformed or repeated, or a name that cannot
// be a parameter.
core::Result<catalogue::ParameterValues> BindParameters(const catalogue::ResolvedAction& action,
                                                        std::span<const std::string> assignments,
                                                        const std::optional<std::string>& region);

using FoundCredentials = engine::FoundCredentials;
// The engine's credential chain (engine/credential_chain.h) with --profile,
// the trust and the proxy of `line`, and the environment of `console`.
core::Result<FoundCredentials> FindCredentials(const CommandLine& line, const Settings& settings,
                                               const Console& console);

// Shows why no credentials were found, a line at a time, and gives the exit
// status: kExitConnection when a token service failed or could not be
// reached (it names the step, then the service's error), else kExitUsage.
int CredentialsFailure(Console& console, const core::Status& status);

// The engine's internal trace lines are wanted with --trace or
// KESTRUNE_TRACE=1.
bool TraceWanted(const CommandLine& line, const Console& console);

// Shows every exchange on the error stream as `curl -v` does: the string to
// sign, the request line and headers ("> "), the reply's status line and
// headers ("< "), the sizes and the time of each phase ("* "). No secret is in
// any of it; a SecurityToken or a proxy's credentials would be masked.
class ExchangePrinter final : public engine::ExchangeObserver {
 public:
  explicit ExchangePrinter(Console& console) : console_(console) {}
  void OnExchange(const engine::ExchangeRecord& record) override;
  void OnRetry(const engine::RetryRecord& record) override;

 private:
  Console& console_;
};

// "unknown service "ecz" (accepted: …); did you mean ecs?" and the like:
// the message for a word outside `accepted`, with the closest accepted words.
std::string UnknownWord(std::string_view what, std::string_view given,
                        std::span<const std::string_view> accepted);

// Output text in the console's display encoding (tables and tab-separated
// lines; JSON stays UTF-8).
std::string ForDisplay(const Console& console, OutputFormat format, std::string text);

// One request through the engine with its rows and what to print.
struct CallOutcome {
  engine::RequestResult result;
  std::vector<report::Row> rows;  // in production order
  bool leaves_shown = false;      // no formatter: every leaf of the reply
  // A JSON walk over pages written as it went: PrintOutcome writes its
  // document instead of the body's.
  engine::JsonWalk* json_walk = nullptr;
};

// Sends `action` with `values` (every page of it, with `paging`) and collects
// its rows; for a good reply that no formatter knows, every leaf element of
// the body becomes a row. With `page_rows`, a walk's rows go there page by
// page instead (Engine::SendAllPages), and with `json_walk` its JSON pages.
CallOutcome SendAndCollect(engine::Engine& engine, report::RecordingResultList& list,
                           const request::Credentials& credentials,
                           const catalogue::ResolvedAction& action,
                           const catalogue::ParameterValues& values,
                           const std::optional<catalogue::PagingInfo>& paging,
                           const std::function<void(std::vector<report::Row>)>& page_rows = {},
                           engine::JsonWalk* json_walk = nullptr);

// An outcome in the command line's words: "connection failed: no reply
// within 2 s from 127.0.0.1:8300", "the service answered HTTP/1.1 502 Bad
// Gateway", "Code: Message" of an error reply, a refusal's reason; "" for a
// good reply.
std::string OutcomeText(const engine::RequestResult& result);
// The outcome as a word for programs ("ConnectionFailed").
std::string_view OutcomeCode(engine::Outcome outcome);
// The result line under a reply's rows: the engine's, but a failed
// connection in the command line's words.
std::string ResultTextOf(const engine::RequestResult& result);

// The exit status of an engine outcome.
int ExitStatusOf(engine::Outcome outcome);

// Prints the rows of `outcome` (table: also its ResultText and a note when
// every leaf is shown), or with `raw` the reply body as received; with JSON
// the reply goes into `json` (a null for a call without one), which the
// caller prints. Anything but a good reply is explained on the error stream;
// an error reply as "kestrune: Code: Message (RequestId …)" and the service's
// Recommend address on a line of its own. Returns the exit status.
int PrintOutcome(Console& console, OutputFormat format, const CallOutcome& outcome, bool raw,
                 JsonDocument& json);

}  // namespace kestrune::cli
