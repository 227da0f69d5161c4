// The settings of a request, resolved once: where it goes (endpoint, its
// type, region), through what (proxy, CA file), how it is signed, how long
// it may take and how often it is tried. Each comes from the command line,
// else the environment, else the profile, else its default; the commands
// read them here and never the variables themselves.
//
// Plain values and stateless functions; safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "core/status.h"
#include "engine/engine.h"
#include "request/endpoint.h"
#include "transport/proxy.h"

namespace kestrune::cli {

struct Settings {
  // Its route is always set: the commands that look at the connection
  // themselves read the parsed override and proxies there.
  engine::EngineOptions engine;
  // The default RegionId (also in engine.region): --region, else
  // ALIBABA_CLOUD_REGION_ID, else the profile's; "" for none. Where it came
  // from, for --debug.
  std::string region;
  std::string region_source;
};

// The command line's and the environment's settings: the endpoint
// (engine::ChooseEndpoint over --endpoint, ALIBABA_CLOUD_ENDPOINT and
// KESTRUNE_ENDPOINT), the proxies (--proxy, else the *_proxy variables), the
// CA file (--ca-file, else KESTRUNE_CA_FILE, checked to be readable), the
// time-outs, the retries and, for --format json, JSON replies. An error
// names the option or variable whose value is wrong.
core::Result<Settings> ResolveSettings(const CommandLine& line, const Console& console);

// What a profile adds where the command line and the environment chose
// nothing: endpoint_type, signature_version and region_id. An error names a
// value that is not one of the accepted ones.
core::Status ApplyProfile(const CommandLine& line, const FoundCredentials& found,
                          Settings& settings);

// The variable's value; nullopt when it is not set or empty.
std::optional<std::string> NonEmptyEnv(const Console& console, std::string_view name);

// The time-outs of --timeout, --connect-timeout and --read-timeout.
void ApplyTimeouts(const CommandLine& line, engine::EngineOptions& options);

}  // namespace kestrune::cli
