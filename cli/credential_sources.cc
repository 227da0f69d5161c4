// Where `kestrune call` finds its credentials: the sources other Aliyun tools
// use, in the order of FindCredentials. A source that is there must be whole:
// a half-set environment, a broken file or a profile of a kind this program
// cannot use is an error naming it, never skipped for the next source.
#include <utility>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/credential_modes.h"
#include "cli/home.h"
#include "cli/output.h"
#include "request/credential_files.h"
#include "request/small_file.h"
#include "transport/proxy.h"

namespace kestrune::cli {
namespace {

constexpr std::string_view kIdVariable = "ALIBABA_CLOUD_ACCESS_KEY_ID";
constexpr std::string_view kSecretVariable = "ALIBABA_CLOUD_ACCESS_KEY_SECRET";
constexpr std::string_view kTokenVariable = "ALIBABA_CLOUD_SECURITY_TOKEN";
constexpr std::string_view kProfileVariable = "ALIBABA_CLOUD_PROFILE";
constexpr std::string_view kCredentialsFileVariable = "ALIBABA_CLOUD_CREDENTIALS_FILE";
constexpr std::string_view kAliyunConfig = ".aliyun/config.json";
constexpr std::string_view kSdkCredentials = ".alibabacloud/credentials";

std::optional<std::string> NonEmptyEnv(const Console& console, std::string_view name) {
  std::optional<std::string> value = console.Env(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::string Name(std::string_view variable) { return std::string(variable); }

// Adds how the credentials are temporary to the source's description.
FoundCredentials Found(request::Credentials credentials, std::string source,
                       std::string region_id = {}) {
  if (!credentials.security_token.empty()) source += ", with a security token";
  return FoundCredentials{std::move(credentials),
                          std::move(source),
                          std::move(region_id),
                          {},
                          {},
                          std::nullopt,
                          nullptr};
}

// A profile of the vendor command line's config.json: `name`, or the current
// one for an empty name. nullopt when the file or its current profile is not
// there (only possible for the current one).
core::Result<std::optional<FoundCredentials>> FromAliyunConfig(const TemporarySetting& setting,
                                                               const std::string& name,
                                                               std::string_view chosen_by) {
  const Console& console = *setting.console;
  const std::optional<HomeFile> file = FindHomeFile(console, kAliyunConfig);
  if (!file) {
    if (name.empty()) return std::optional<FoundCredentials>();
    return core::Status::Error("no home directory to find the profile \"" + name + "\" (" +
                               std::string(chosen_by) + ") in");
  }
  core::Result<std::optional<std::string>> content =
      request::ReadSmallFileIfPresent(file->path, request::kCredentialStoreLimit);
  if (!content.ok()) return content.status();
  if (!content.value()) {
    if (name.empty()) return std::optional<FoundCredentials>();
    return core::Status::Error("there is no profile \"" + name + "\" (" + std::string(chosen_by) +
                               "): " + file->shown + " does not exist");
  }
  core::Result<std::optional<request::StoredCredentials>> stored =
      request::ReadAliyunProfile(**content, name, file->shown);
  if (!stored.ok()) return stored.status();
  if (!stored.value()) return std::optional<FoundCredentials>();
  request::StoredCredentials& profile = *stored.value();
  std::string source = (name.empty() ? "the current profile \"" : "profile \"") + profile.name +
                       "\" of " + file->shown;
  if (!chosen_by.empty()) source += " (" + std::string(chosen_by) + ")";
  std::shared_ptr<request::RenewingCredentials> renewing;
  if (FetchesCredentials(profile)) {
    source += ", mode " + profile.mode;
    core::Result<std::shared_ptr<request::RenewingCredentials>> built =
        ProfileCredentials(profile, **content, file->shown, setting, source);
    if (!built.ok()) return built.status();
    renewing = std::move(built.value());
    profile.credentials = {};  // the base key signs only the token service's call
  }
  FoundCredentials found =
      Found(std::move(profile.credentials), std::move(source), std::move(profile.region_id));
  found.endpoint_type = std::move(profile.endpoint_type);
  found.signature_version = std::move(profile.signature_version);
  found.renewing = std::move(renewing);
  return std::optional<FoundCredentials>(std::move(found));
}

core::Result<std::optional<FoundCredentials>> FromEnvironment(const Console& console) {
  std::optional<std::string> id = NonEmptyEnv(console, kIdVariable);
  std::optional<std::string> secret = NonEmptyEnv(console, kSecretVariable);
  std::optional<std::string> token = NonEmptyEnv(console, kTokenVariable);
  if (id && secret) {
    std::string source = "the environment (" + Name(kIdVariable) + ", " + Name(kSecretVariable) +
                         (token ? ", " + Name(kTokenVariable) : "") + ")";
    return std::optional<FoundCredentials>(
        Found({std::move(*id), std::move(*secret), token.value_or("")}, std::move(source)));
  }
  if (id || secret) {
    return core::Status::Error(Name(id ? kIdVariable : kSecretVariable) + " is set but " +
                               Name(id ? kSecretVariable : kIdVariable) +
                               " is not; set both, or neither");
  }
  if (token) {
    return core::Status::Error(Name(kTokenVariable) + " is set but " + Name(kIdVariable) + " and " +
                               Name(kSecretVariable) + " are not; a token goes with its key pair");
  }
  return std::optional<FoundCredentials>();
}

core::Result<std::optional<FoundCredentials>> FromSignFile() {
  const std::string path(request::kCredentialFileName);
  core::Result<std::optional<std::string>> content =
      request::ReadSmallFileIfPresent(path, request::kCredentialFileLimit);
  if (!content.ok()) return content.status();
  if (!content.value()) return std::optional<FoundCredentials>();
  if (core::Status own = request::CheckOwnFile(path); !own.ok()) return own;
  core::Result<std::optional<request::Credentials>> read =
      request::ReadCredentialText(**content, path);
  if (!read.ok()) return read.status();
  std::optional<request::Credentials>& pair = read.value();
  if (!pair || pair->access_key_id.empty() || pair->access_key_secret.empty()) {
    return core::Status::Error(
        "the credential file \"sign\" does not hold both an AccessKey id and a secret "
        "(id:secret); rewrite it with `kestrune credentials`");
  }
  return std::optional<FoundCredentials>(
      Found(std::move(*pair), "the file \"sign\" in the working directory"));
}

core::Result<std::optional<FoundCredentials>> FromSdkCredentials(const Console& console) {
  std::optional<HomeFile> file;
  core::Result<std::optional<std::string>> content = std::optional<std::string>();
  if (std::optional<std::string> named = NonEmptyEnv(console, kCredentialsFileVariable)) {
    // A file the user names must be there.
    file = HomeFile{*named, *named + " (" + Name(kCredentialsFileVariable) + ")"};
    core::Result<std::string> read = request::ReadSmallFile(*named, request::kCredentialStoreLimit);
    if (!read.ok()) return read.status();
    content = std::optional<std::string>(std::move(read.value()));
  } else {
    file = FindHomeFile(console, kSdkCredentials);
    if (!file) return std::optional<FoundCredentials>();
    content = request::ReadSmallFileIfPresent(file->path, request::kCredentialStoreLimit);
    if (!content.ok()) return content.status();
    if (!content.value()) return std::optional<FoundCredentials>();
  }
  core::Result<std::optional<request::StoredCredentials>> stored =
      request::ReadDefaultCredentialsSection(**content, file->shown);
  if (!stored.ok()) return stored.status();
  if (!stored.value()) return std::optional<FoundCredentials>();
  return std::optional<FoundCredentials>(
      Found(std::move(stored.value()->credentials), "the [default] section of " + file->shown));
}

}  // namespace

namespace {

core::Result<std::optional<FoundCredentials>> FromOidcVariables(const TemporarySetting& setting) {
  core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>> renewing =
      OidcFromEnvironment(setting);
  if (!renewing.ok()) return renewing.status();
  if (!renewing.value()) return std::optional<FoundCredentials>();
  FoundCredentials found = Found({}, (*renewing.value())->Describe());
  found.renewing = std::move(*renewing.value());
  return std::optional<FoundCredentials>(std::move(found));
}

core::Result<std::optional<FoundCredentials>> FromInstanceRole(const TemporarySetting& setting) {
  core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>> renewing =
      InstanceRoleFromEnvironment(setting);
  if (!renewing.ok()) return renewing.status();
  if (!renewing.value()) return std::optional<FoundCredentials>();
  FoundCredentials found = Found({}, (*renewing.value())->Describe());
  found.renewing = std::move(*renewing.value());
  return std::optional<FoundCredentials>(std::move(found));
}

core::Result<std::optional<FoundCredentials>> FromCredentialsUri(const TemporarySetting& setting) {
  core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>> renewing =
      CredentialsUriFromEnvironment(setting);
  if (!renewing.ok()) return renewing.status();
  if (!renewing.value()) return std::optional<FoundCredentials>();
  FoundCredentials found = Found({}, (*renewing.value())->Describe());
  found.renewing = std::move(*renewing.value());
  return std::optional<FoundCredentials>(std::move(found));
}

// Fetches what a source that renews its credentials holds, once.
core::Result<FoundCredentials> Fetched(FoundCredentials found) {
  if (!found.renewing) return found;
  core::Result<request::IssuedCredentials> issued = found.renewing->Get();
  if (!issued.ok()) return issued.status();
  found.credentials = issued->credentials;
  found.expiration = issued->expiration;
  found.source += "; temporary credentials";
  if (found.expiration)
    found.source += " expiring at " + request::FormatExpiration(*found.expiration);
  return found;
}

core::Result<FoundCredentials> FindUnfetched(const CommandLine& line, const Console& console);

}  // namespace

core::Result<FoundCredentials> FindCredentials(const CommandLine& line, const Console& console) {
  core::Result<FoundCredentials> found = FindUnfetched(line, console);
  if (!found.ok()) return found.status();
  return Fetched(std::move(found.value()));
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

namespace {

core::Result<FoundCredentials> FindUnfetched(const CommandLine& line, const Console& console) {
  TemporarySetting setting{&console, {}};
  setting.exchange.connect_timeout = std::chrono::seconds(10);
  setting.exchange.exchange_timeout = std::chrono::seconds(60);
  if (line.ca_file) {
    setting.exchange.tls.ca_file = *line.ca_file;
  } else if (std::optional<std::string> ca = NonEmptyEnv(console, request::kCaFileVariable)) {
    setting.exchange.tls.ca_file = *ca;
  }
  // The token service and a credentials URI are reached as the service is,
  // through the same proxy (a malformed one was refused with the options).
  const transport::ProxyTexts proxy = transport::ChooseProxyTexts(
      [&console](std::string_view name) { return console.Env(name); }, line.proxy);
  if (core::Result<transport::ProxySettings> parsed = transport::ParseProxySettings(proxy);
      parsed.ok()) {
    setting.exchange.proxy = std::move(parsed.value());
  }
  std::optional<std::string> profile = line.profile;
  std::string_view chosen_by = "--profile";
  if (!profile) {
    profile = NonEmptyEnv(console, kProfileVariable);
    chosen_by = kProfileVariable;
  }
  if (profile) {
    core::Result<std::optional<FoundCredentials>> found =
        FromAliyunConfig(setting, *profile, chosen_by);
    if (!found.ok()) return found.status();
    return std::move(*found.value());  // a named profile is always there or an error
  }
  const auto sources = {
      +[](const TemporarySetting& s) { return FromEnvironment(*s.console); },
      +[](const TemporarySetting& s) { return FromOidcVariables(s); },
      +[](const TemporarySetting&) { return FromSignFile(); },
      +[](const TemporarySetting& s) { return FromAliyunConfig(s, {}, {}); },
      +[](const TemporarySetting& s) { return FromSdkCredentials(*s.console); },
      +[](const TemporarySetting& s) { return FromInstanceRole(s); },
      +[](const TemporarySetting& s) { return FromCredentialsUri(s); },
  };
  for (const auto& source : sources) {
    core::Result<std::optional<FoundCredentials>> found = source(setting);
    if (!found.ok()) return found.status();
    if (found.value()) return std::move(*found.value());
  }
  return core::Status::Error(
      "no credentials: set " + Name(kIdVariable) + " and " + Name(kSecretVariable) +
      ", write the file \"sign\" with `kestrune credentials`, or name a profile of ~/.aliyun/"
      "config.json with --profile (see kestrune call --help)");
}

}  // namespace

}  // namespace kestrune::cli
