// The kestrune-sim command line: parsing into ServerOptions and the help text.
//
// Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/status.h"
#include "sim/server.h"

namespace kestrune::sim {

struct CommandLine {
  ServerOptions server;
  bool help = false;
  bool quiet = false;  // no request log
  // Make a CA and a certificate for localhost here, then serve HTTPS with
  // them (empty: not asked).
  std::string tls_self_signed_dir;
  // The server's clock runs this far ahead of the system's (behind if
  // negative): for time stamps it judges and the Date it sends.
  std::int64_t clock_offset_ms = 0;
};

// args excludes the program name. Reads --access-key-file from disk.
core::Result<CommandLine> ParseCommandLine(const std::vector<std::string_view>& args);

// Parses "ID:SECRET" (the secret may itself contain ':').
core::Result<AccessKey> ParseAccessKey(std::string_view text);

// Parses one --fault value ("NAME", "NAME=N" or "alter=PARAM") into the plan.
core::Status ParseFault(std::string_view text, FaultPlan& plan);

std::string HelpText();

}  // namespace kestrune::sim
