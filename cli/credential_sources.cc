// Where `kestrune call` finds its credentials: the engine's chain
// (engine/credential_chain.h), reached as the command line's options say,
// and its refusals shown a line at a time.
#include <utility>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/settings.h"
#include "engine/credential_chain.h"

namespace kestrune::cli {

core::Result<FoundCredentials> FindCredentials(const CommandLine& line, const Settings& settings,
                                               const Console& console) {
  engine::ChainSetting setting;
  setting.env = [&console](std::string_view name) { return console.Env(name); };
  setting.profile = line.profile;
  setting.exchange.connect_timeout = std::chrono::seconds(10);
  setting.exchange.exchange_timeout = std::chrono::seconds(60);
  // The token service and a credentials URI are reached as the service is:
  // with the same CA file and through the same proxy.
  setting.exchange.tls.ca_file = settings.engine.ca_file;
  if (settings.engine.route) setting.exchange.proxy = settings.engine.route->proxy;
  core::Result<std::optional<FoundCredentials>> found = engine::FindCredentials(setting);
  if (!found.ok()) return found.status();
  if (found.value()) return std::move(*found.value());
  return core::Status::Error(
      "no credentials: set ALIBABA_CLOUD_ACCESS_KEY_ID and ALIBABA_CLOUD_ACCESS_KEY_SECRET, write "
      "the file \"sign\" with `kestrune credentials`, or name a profile of ~/.aliyun/config.json "
      "with --profile (see kestrune call --help)");
}

int CredentialsFailure(Console& console, const core::Status& status) {
  std::string_view text = status.message();
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    console.Err("kestrune: " + EscapeLine(text.substr(0, end)) + "\n");
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return status.IsServiceError() || status.IsConnection() ? kExitConnection : kExitUsage;
}

}  // namespace kestrune::cli
