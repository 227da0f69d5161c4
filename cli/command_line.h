// The command line of `kestrune`: which subcommand, its operands, and the
// options, checked for form (a known option, a value where one is needed, a
// well-formed endpoint and time-out) but not yet for meaning (whether a
// service or action exists is the commands' business).
//
// Options may stand anywhere after the program name, as "--name value" or
// "--name=value"; "--" makes every later argument an operand.
//
// Plain values and stateless functions; safe from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/endpoints.h"
#include "cli/options.h"
#include "core/status.h"
#include "request/signer_v3.h"

namespace kestrune::cli {

// The most calls of one --regions run in flight at once.
inline constexpr int kMaxParallel = 64;
// The largest --max-bytes: 64 GiB.
inline constexpr std::uint64_t kMaxMaxBytes = std::uint64_t{64} << 30;
// The most retries of one request --retries takes, and the default.
inline constexpr int kMaxRetries = 20;
inline constexpr int kDefaultRetries = 3;

enum class OutputFormat { kAuto, kTable, kTsv, kJson };

struct CommandLine {
  Subcommand subcommand = Subcommand::kNone;
  std::vector<std::string> operands;  // the arguments after the subcommand
  std::optional<std::string> endpoint;
  // --endpoint-type: the network whose hosts the request goes to.
  std::optional<catalogue::EndpointType> endpoint_type;
  // --signature: how requests are signed (else the profile's, else v1).
  std::optional<request::SignatureVersion> signature;
  bool tls = false;  // demo: the tour over HTTPS
  // --proxy: a proxy URL, or "" for no proxy whatever the environment says.
  std::optional<std::string> proxy;
  std::optional<std::string> ca_file;
  std::optional<std::string> region;
  // call: "all" or a comma-separated list of region ids, each a call of its
  // own; at most `parallel` at a time (1 to kMaxParallel).
  std::optional<std::string> regions;
  std::optional<int> parallel;
  std::optional<std::string> profile;  // a profile of ~/.aliyun/config.json
  std::optional<std::string> mode;     // configure set: the profile's mode
  OutputFormat format = OutputFormat::kAuto;
  std::optional<std::chrono::milliseconds> timeout;
  // Each attempt's connection, and each wait for reply data, apart from
  // --timeout.
  std::optional<std::chrono::milliseconds> connect_timeout;
  std::optional<std::chrono::milliseconds> read_timeout;
  // call: how many times a request may be sent again (0 to kMaxRetries).
  std::optional<int> retries;
  // call: --wait-for "Field=Value[,Value...]" calls again until the reply's
  // field holds a value wanted; --wait-fail values end it unreached.
  std::optional<std::string> wait_for;
  std::optional<std::string> wait_fail;
  std::optional<std::chrono::milliseconds> wait_interval;
  std::optional<std::chrono::milliseconds> wait_timeout;
  bool raw = false;
  bool dry_run = false;
  bool force = false;      // send an action name no list holds
  bool all_pages = false;  // fetch every page of a paged action
  // Every value of the reply, named by its path below its record, instead
  // of the action's own rows.
  bool all_fields = false;
  // --all-pages: the most bytes the pages may join into (1 to kMaxMaxBytes).
  std::optional<std::uint64_t> max_bytes;
  // "GET" or "POST" when --method chose one; empty: GET unless too long.
  std::string method;
  bool debug = false;  // show the exchange
  bool trace = false;  // the engine's internal trace lines
  bool help = false;
  bool version = false;
  bool names = false;  // list: action names only, one a line (for completion)
};

// Parses the arguments that follow the program name. An error's message is
// one line a user can act on: a mistyped subcommand, option or option value
// gets the closest accepted words; an argument that is not valid UTF-8 is
// named by its position (and option), never echoed.
core::Result<CommandLine> ParseCommandLine(std::span<const std::string> arguments);

// Checks "[SCHEME://]HOST[:PORT]" as request::ParseEndpointOverride reads it; the message
// of a refusal quotes the text as typed.
core::Status CheckEndpoint(std::string_view endpoint);

// Parses a positive number of seconds with up to three decimals ("2",
// "0.25"), at most one day.
core::Result<std::chrono::milliseconds> ParseTimeout(std::string_view seconds);

}  // namespace kestrune::cli
