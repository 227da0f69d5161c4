// `kestrune demo`: starts the local simulator with the demo AccessKey pair on
// a free loopback port, takes a short tour of real requests against it and
// stops it again.
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/process.h"
#include "cli/settings.h"
#include "request/clock.h"

namespace kestrune::cli {
namespace {

// The simulator's built-in demo key pair; it signs nothing outside the demo.
constexpr std::string_view kDemoAccessKeyId = "kestrune-demo-id";
constexpr std::string_view kDemoAccessKeySecret = "kestrune-demo-secret";
constexpr std::string_view kDefaultRegion = "cn-hangzhou";
constexpr std::string_view kListeningPrefix = "listening on ";
constexpr std::chrono::milliseconds kStartTimeout{10000};

// A directory of the demo's own for the simulator's TLS files, removed when
// the demo ends.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return;
    path_ = base / ("kestrune-demo-tls-" + std::to_string(std::random_device{}()));
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  // Empty when the system names no temporary directory.
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string Directory(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// KESTRUNE_SIM, else kestrune-sim beside this program or in the build tree's
// sim directory next to ours.
core::Result<std::string> FindSimulator(const Console& console) {
  if (std::optional<std::string> configured = console.Env("KESTRUNE_SIM");
      configured && !configured->empty()) {
    if (!IsExecutableFile(*configured)) {
      return core::Status::Error("KESTRUNE_SIM names \"" + *configured +
                                 "\", which is not a program");
    }
    return *configured;
  }
  const std::string program = console.ProgramPath();
  if (!program.empty()) {
    const std::string directory = Directory(program);
    for (const std::string& candidate :
         {directory + "/kestrune-sim", directory + "/../sim/kestrune-sim"}) {
      if (IsExecutableFile(candidate)) return candidate;
    }
  }
  return core::Status::Error(
      "cannot find kestrune-sim beside this program; build it or set KESTRUNE_SIM to its path, "
      "or give the address of a running simulator with --endpoint HOST:PORT");
}

// "127.0.0.1:PORT" from the simulator's first line "listening on 127.0.0.1:PORT".
core::Result<std::string> AddressFromBanner(const std::string& banner) {
  if (banner.rfind(kListeningPrefix, 0) != 0) {
    return core::Status::Error("the simulator did not say where it listens (it said \"" +
                               EscapeLine(banner) + "\")");
  }
  std::string address = banner.substr(kListeningPrefix.size());
  core::Status checked = CheckEndpoint(address);
  if (!checked.ok()) return core::Status::Error("the simulator's address: " + checked.message());
  return address;
}

// The first instance of a status reply that is running, else the first one.
std::string PickInstance(const std::vector<report::Row>& rows) {
  std::string first;
  std::string id;
  std::string status;
  auto consider = [&]() -> bool {
    if (id.empty()) return false;
    if (first.empty()) first = id;
    return status == "Running";
  };
  for (const report::Row& row : rows) {
    if (row.record_break) {
      if (consider()) return id;
      id.clear();
      status.clear();
    } else if (row.field == "InstanceId") {
      id = row.info;
    } else if (row.field == "Status") {
      status = row.info;
    }
  }
  if (consider()) return id;
  return first;
}

struct Step {
  std::string_view action;
  std::vector<std::string> assignments;
};

}  // namespace

int RunDemo(const CommandLine& line, Console& console) {
  if (!line.operands.empty()) {
    return UsageError(console,
                      "demo takes no arguments (got \"" + EscapeLine(line.operands[0]) + "\")");
  }
  const bool tracing = TraceWanted(line, console) || line.debug;
  std::optional<ChildProcess> simulator;
  std::string address;
  std::string ca_file;
  TemporaryDirectory tls_directory;
  // Ctrl-C must not leave the simulator's private key behind.
  std::optional<InterruptAction> remove_key;
  if (line.tls) {
    remove_key.emplace([&tls_directory] {
      std::error_code ignored;
      std::filesystem::remove_all(tls_directory.path(), ignored);
    });
  }
  if (line.endpoint) {
    address = *line.endpoint;
  } else {
    core::Result<std::string> program = FindSimulator(console);
    if (!program.ok()) return UsageError(console, program.status().message());
    std::vector<std::string> arguments = {
        "--port", "0", "--access-key",
        std::string(kDemoAccessKeyId) + ":" + std::string(kDemoAccessKeySecret)};
    if (line.tls) {
      if (tls_directory.path().empty()) {
        return UsageError(console, "demo --tls needs a temporary directory for its certificates");
      }
      arguments.insert(arguments.end(), {"--tls-self-signed", tls_directory.path().string()});
    }
    core::Result<ChildProcess> started = ChildProcess::Start(*program, arguments, tracing);
    if (!started.ok()) {
      return UsageError(console, started.status().message() +
                                     "; start kestrune-sim yourself and run kestrune demo "
                                     "--endpoint HOST:PORT");
    }
    simulator.emplace(std::move(started).value());
    core::Result<std::string> banner = simulator->ReadOutputLine(kStartTimeout);
    if (!banner.ok()) {
      console.Err("kestrune: the simulator did not start: " + banner.status().message() + "\n");
      return kExitConnection;
    }
    core::Result<std::string> parsed = AddressFromBanner(*banner);
    if (!parsed.ok()) {
      console.Err("kestrune: " + parsed.status().message() + "\n");
      return kExitConnection;
    }
    address = *parsed;
    if (line.tls) {
      // The second line names the CA that signed the simulator's certificate,
      // which is made for the name localhost.
      core::Result<std::string> ca = simulator->ReadOutputLine(kStartTimeout);
      if (!ca.ok() || ca->empty()) {
        console.Err("kestrune: the simulator did not name its CA file\n");
        return kExitConnection;
      }
      ca_file = *ca;
      address = "https://localhost" + address.substr(address.rfind(':'));
    }
  }
  console.Err("kestrune: demo against the simulator at " + address + "\n");

  engine::EngineOptions options;
  options.endpoint_override = address;
  options.ca_file = ca_file;
  ApplyTimeouts(line, options);
  const request::Credentials credentials{std::string(kDemoAccessKeyId),
                                         std::string(kDemoAccessKeySecret)};
  const request::SystemClock clock;
  report::NullTraceSink no_trace;
  report::TraceSink& trace = TraceWanted(line, console) ? console.Trace() : no_trace;
  report::RecordingResultList list;
  const OutputFormat format = ResolveFormat(line.format, console.OutputIsTerminal());
  if (format == OutputFormat::kJson) options.reply_format = request::ReplyFormat::kJson;
  engine::Engine engine(clock, list, trace, options);
  ExchangePrinter printer(console);
  if (line.debug) engine.set_exchange_observer(&printer);
  JsonDocument json;
  const std::string region_item =
      "RegionId=" + (line.region ? *line.region : std::string(kDefaultRegion));

  std::vector<Step> steps = {
      {"DescribeRegions", {}},
      {"DescribeZones", {region_item}},
      {"DescribeInstanceStatus", {region_item}},
      {"StopInstance", {}},
      {"DescribeInstanceStatus", {region_item}},
  };
  int status = kExitOk;
  std::vector<report::Row> last_rows;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    Step& step = steps[i];
    if (step.action == "StopInstance") {
      const std::string instance = PickInstance(last_rows);
      if (instance.empty()) {
        console.Err("kestrune: the simulator showed no instance to stop; the tour ends here\n");
        status = kExitErrorReply;
        break;
      }
      step.assignments.push_back("InstanceId=" + instance);
    }
    const std::optional<catalogue::ResolvedAction> action =
        catalogue::ResolveActionName(catalogue::kEcsService, step.action);
    if (!action) {
      console.Err("kestrune: the catalogue has no " + std::string(step.action) + "\n");
      status = kExitNotSupported;
      break;
    }
    core::Result<catalogue::ParameterValues> values =
        BindParameters(*action, step.assignments, std::nullopt);
    if (!values.ok()) return UsageError(console, values.status().message());

    std::string heading = (i > 0 ? "\n== " : "== ") + std::string(step.action);
    for (const std::string& assignment : step.assignments) heading += " " + assignment;
    heading += " ==\n";
    if (format == OutputFormat::kJson) {
      console.Err(heading.substr(i > 0 ? 1 : 0));
    } else {
      console.Out(heading);
    }
    const CallOutcome outcome =
        SendAndCollect(engine, list, credentials, *action, *values, std::nullopt);
    const int step_status = PrintOutcome(console, format, outcome, false, json);
    last_rows =
        format == OutputFormat::kJson ? JsonLeafRows(outcome.result.reply.body) : outcome.rows;
    if (step_status != kExitOk) {
      status = step_status;
      break;
    }
  }
  if (simulator) simulator->Stop();
  // The tour's replies, in order, as one document.
  if (format == OutputFormat::kJson) console.Out(json.Render(true));
  return status;
}

}  // namespace kestrune::cli
