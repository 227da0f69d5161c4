// Where `kestrune call` finds its credentials: the engine's chain
// (engine/credential_chain.h), reached as the command line's options say,
// and its refusals shown a line at a time.
#include <utility>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "engine/credential_chain.h"
#include "transport/proxy.h"

namespace kestrune::cli {

core::Result<FoundCredentials> FindCredentials(const CommandLine& line, const Console& console) {
  engine::ChainSetting setting;
  setting.env = [&console](std::string_view name) { return console.Env(name); };
  setting.profile = line.profile;
  setting.exchange.connect_timeout = std::chrono::seconds(10);
  setting.exchange.exchange_timeout = std::chrono::seconds(60);
  if (line.ca_file) {
    setting.exchange.tls.ca_file = *line.ca_file;
  } else if (std::optional<std::string> ca = console.Env(request::kCaFileVariable);
             ca && !ca->empty()) {
    setting.exchange.tls.ca_file = *ca;
  }
  // The token service and a credentials URI are reached as the service is,
  // through the same proxy (a malformed one was refused with the options).
  const transport::ProxyTexts proxy = transport::ChooseProxyTexts(setting.env, line.proxy);
  if (core::Result<transport::ProxySettings> parsed = transport::ParseProxySettings(proxy);
      parsed.ok()) {
    setting.exchange.proxy = std::move(parsed.value());
  }
  return engine::FindCredentials(setting);
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
