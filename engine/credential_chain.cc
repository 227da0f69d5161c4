#include "engine/credential_chain.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "engine/credential_helpers.h"
#include "engine/home_file.h"
#include "engine/token_service.h"
#include "request/credential_files.h"
#include "request/small_file.h"

namespace kestrune::engine {
namespace {

constexpr std::string_view kRoleArnVariable = "ALIBABA_CLOUD_ROLE_ARN";
constexpr std::string_view kProviderVariable = "ALIBABA_CLOUD_OIDC_PROVIDER_ARN";
constexpr std::string_view kTokenFileVariable = "ALIBABA_CLOUD_OIDC_TOKEN_FILE";
constexpr std::string_view kSessionVariable = "ALIBABA_CLOUD_ROLE_SESSION_NAME";
constexpr std::string_view kCredentialsUriVariable = "ALIBABA_CLOUD_CREDENTIALS_URI";
constexpr int kDefaultDuration = 3600;

const request::Clock& ProcessClock() {
  static const request::SystemClock clock;
  return clock;
}

std::string Field(const request::StoredCredentials& profile, std::string_view name) {
  const auto found = profile.fields.find(name);
  return found == profile.fields.end() ? std::string() : found->second;
}

std::optional<std::string> NonEmpty(const transport::VariableLookup& env, std::string_view name) {
  std::optional<std::string> value = env(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::shared_ptr<request::RenewingCredentials> Renewing(
    std::unique_ptr<request::CredentialProvider> provider) {
  return std::make_shared<request::RenewingCredentials>(std::move(provider), ProcessClock());
}

core::Result<RoleRequest> RoleOf(const request::StoredCredentials& profile, std::string_view what) {
  RoleRequest role;
  role.role_arn = Field(profile, "ram_role_arn");
  role.session_name = Field(profile, "ram_session_name");
  role.policy = Field(profile, "policy");
  role.external_id = Field(profile, "external_id");
  role.oidc_provider_arn = Field(profile, "oidc_provider_arn");
  role.oidc_token_file = Field(profile, "oidc_token_file");
  role.duration_seconds = kDefaultDuration;
  // The vendor's tool writes 0 for "not chosen".
  if (const std::string seconds = Field(profile, "expired_seconds");
      !seconds.empty() && seconds != "0") {
    if (seconds.size() > 6 ||
        !std::all_of(seconds.begin(), seconds.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return core::Status::InvalidInput(std::string(what) +
                                        ": expired_seconds is not a number of seconds");
    }
    role.duration_seconds = std::stoi(seconds);
  }
  if (core::Status checked = CheckRoleRequest(role, profile.mode == "OIDC", what); !checked.ok()) {
    return checked;
  }
  return role;
}

core::Result<TokenService> ServiceOf(const request::StoredCredentials& profile,
                                     const ChainSetting& setting, std::string_view what) {
  core::Result<TokenService> service =
      ChooseTokenService(Field(profile, "sts_endpoint"), Field(profile, "sts_region"),
                         NonEmpty(setting.env, kStsEndpointVariable), setting.exchange);
  if (!service.ok()) {
    return core::Status::InvalidInput(std::string(what) + ": " + service.status().message());
  }
  return service;
}

core::Result<std::shared_ptr<request::RenewingCredentials>> InstanceRoleCredentials(
    const ChainSetting& setting, std::string role_name, std::string description) {
  InstanceRole role;
  role.role_name = std::move(role_name);
  const std::optional<std::string> v1_disabled = setting.env("ALIBABA_CLOUD_IMDSV1_DISABLED");
  role.token_required = v1_disabled && *v1_disabled == "true";
  role.send_to = NonEmpty(setting.env, kMetadataEndpointVariable).value_or("");
  core::Result<std::unique_ptr<request::CredentialProvider>> provider =
      MakeInstanceRoleProvider(std::move(role), std::move(description));
  if (!provider.ok()) return provider.status();
  return Renewing(std::move(provider.value()));
}

// Whether a profile's mode fetches temporary credentials.
bool FetchesCredentials(const request::StoredCredentials& profile) {
  return profile.mode == "RamRoleArn" || profile.mode == "ChainableRamRoleArn" ||
         profile.mode == "OIDC" || profile.mode == "EcsRamRole" ||
         profile.mode == "CredentialsURI" || profile.mode == "External";
}

core::Result<std::shared_ptr<request::RenewingCredentials>> Build(
    const request::StoredCredentials& profile, std::string_view content, std::string_view file,
    const ChainSetting& setting, std::string description, std::vector<std::string> chain) {
  const std::string what = "profile \"" + profile.name + "\"";
  if (profile.mode == "EcsRamRole") {
    return InstanceRoleCredentials(setting, Field(profile, "ram_role_name"),
                                   std::move(description));
  }
  if (profile.mode == "CredentialsURI" || profile.mode == "External") {
    core::Result<std::unique_ptr<request::CredentialProvider>> provider = core::Status::Error("");
    if (profile.mode == "External") {
      provider = MakeExternalProvider(Field(profile, "process_command"), kHelperTimeLimit,
                                      std::move(description));
    } else {
      provider = MakeCredentialsUriProvider(Field(profile, "credentials_uri"), setting.exchange,
                                            std::move(description));
    }
    if (!provider.ok())
      return core::Status::InvalidInput(what + ": " + provider.status().message());
    return Renewing(std::move(provider.value()));
  }
  core::Result<RoleRequest> role = RoleOf(profile, what);
  if (!role.ok()) return role.status();
  core::Result<TokenService> service = ServiceOf(profile, setting, what);
  if (!service.ok()) return service.status();
  if (profile.mode == "OIDC") {
    return Renewing(MakeOidcProvider(std::move(role.value()), std::move(service.value()),
                                     ProcessClock(), std::move(description)));
  }
  BaseCredentials base;
  if (profile.mode == "RamRoleArn") {
    base = [credentials = profile.credentials]() {
      return core::Result<request::Credentials>(credentials);
    };
  } else {  // ChainableRamRoleArn
    chain.push_back(profile.name);
    const std::string source_name = Field(profile, "source_profile");
    if (std::find(chain.begin(), chain.end(), source_name) != chain.end()) {
      std::string loop;
      for (const std::string& name : chain) loop += "\"" + name + "\" -> ";
      return core::Status::InvalidInput("the profiles' source_profile fields make a loop: " + loop +
                                        "\"" + source_name + "\"");
    }
    core::Result<std::optional<request::StoredCredentials>> source =
        request::ReadAliyunProfile(content, source_name, file);
    if (!source.ok()) return core::Status::InvalidInput(what + ": " + source.status().message());
    const request::StoredCredentials& stored = *source.value();
    if (FetchesCredentials(stored)) {
      core::Result<std::shared_ptr<request::RenewingCredentials>> inner =
          Build(stored, content, file, setting, "profile \"" + stored.name + "\"", chain);
      if (!inner.ok()) return inner.status();
      base = [inner = inner.value()]() -> core::Result<request::Credentials> {
        core::Result<request::IssuedCredentials> issued = inner->Get();
        if (!issued.ok()) return issued.status();
        return issued->credentials;
      };
    } else {
      base = [credentials = stored.credentials]() {
        return core::Result<request::Credentials>(credentials);
      };
    }
  }
  return Renewing(MakeAssumeRoleProvider(std::move(base), std::move(role.value()),
                                         std::move(service.value()), ProcessClock(),
                                         std::move(description)));
}

core::Result<std::shared_ptr<request::RenewingCredentials>> ProfileCredentials(
    const request::StoredCredentials& profile, std::string_view content, std::string_view file,
    const ChainSetting& setting, std::string description) {
  return Build(profile, content, file, setting, std::move(description), {});
}

core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>> OidcFromEnvironment(
    const ChainSetting& setting) {
  using Found = std::optional<std::shared_ptr<request::RenewingCredentials>>;
  std::optional<std::string> role_arn = NonEmpty(setting.env, kRoleArnVariable);
  if (!role_arn) return Found();
  request::StoredCredentials stored;
  stored.name = "environment";
  stored.mode = "OIDC";
  stored.fields.emplace("ram_role_arn", *role_arn);
  for (const auto& [variable, field] :
       {std::pair{kProviderVariable, "oidc_provider_arn"},
        std::pair{kTokenFileVariable, "oidc_token_file"}, std::pair{kSessionVariable, ""}}) {
    std::optional<std::string> value = NonEmpty(setting.env, variable);
    if (value && *field != '\0') stored.fields.emplace(field, *value);
    if (!value && *field != '\0') {
      return core::Status::InvalidInput(std::string(kRoleArnVariable) + " is set but " +
                                        std::string(variable) + " is not; OIDC needs " +
                                        std::string(kProviderVariable) + " and " +
                                        std::string(kTokenFileVariable) + " too");
    }
    if (value && *field == '\0') stored.fields.emplace("ram_session_name", *value);
  }
  core::Result<RoleRequest> role = RoleOf(stored, "the OIDC variables");
  if (!role.ok()) return role.status();
  core::Result<TokenService> service = ServiceOf(stored, setting, "the OIDC variables");
  if (!service.ok()) return service.status();
  return Found(Renewing(MakeOidcProvider(
      std::move(role.value()), std::move(service.value()), ProcessClock(),
      "the environment's OIDC variables (" + std::string(kRoleArnVariable) + ", " +
          std::string(kProviderVariable) + ", " + std::string(kTokenFileVariable) + ")")));
}

core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>>
InstanceRoleFromEnvironment(const ChainSetting& setting) {
  using Found = std::optional<std::shared_ptr<request::RenewingCredentials>>;
  std::optional<std::string> role = NonEmpty(setting.env, "ALIBABA_CLOUD_ECS_METADATA");
  if (!role) return Found();
  core::Result<std::shared_ptr<request::RenewingCredentials>> built = InstanceRoleCredentials(
      setting, *role, "the instance's RAM role \"" + *role + "\" (ALIBABA_CLOUD_ECS_METADATA)");
  if (!built.ok()) return built.status();
  return Found(std::move(built.value()));
}

core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>>
CredentialsUriFromEnvironment(const ChainSetting& setting) {
  using Found = std::optional<std::shared_ptr<request::RenewingCredentials>>;
  std::optional<std::string> uri = NonEmpty(setting.env, kCredentialsUriVariable);
  if (!uri) return Found();
  const std::string name(kCredentialsUriVariable);
  core::Result<std::unique_ptr<request::CredentialProvider>> provider =
      MakeCredentialsUriProvider(*uri, setting.exchange, "the credentials URI of " + name);
  if (!provider.ok()) return core::Status::InvalidInput(name + ": " + provider.status().message());
  return Found(Renewing(std::move(provider.value())));
}

constexpr std::string_view kIdVariable = "ALIBABA_CLOUD_ACCESS_KEY_ID";
constexpr std::string_view kSecretVariable = "ALIBABA_CLOUD_ACCESS_KEY_SECRET";
constexpr std::string_view kTokenVariable = "ALIBABA_CLOUD_SECURITY_TOKEN";
constexpr std::string_view kProfileVariable = "ALIBABA_CLOUD_PROFILE";
constexpr std::string_view kCredentialsFileVariable = "ALIBABA_CLOUD_CREDENTIALS_FILE";
constexpr std::string_view kAliyunConfig = ".aliyun/config.json";
constexpr std::string_view kSdkCredentials = ".alibabacloud/credentials";

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
core::Result<std::optional<FoundCredentials>> FromAliyunConfig(const ChainSetting& setting,
                                                               const std::string& name,
                                                               std::string_view chosen_by) {
  const std::optional<HomeFile> file = FindHomeFile(setting.env, kAliyunConfig);
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

core::Result<std::optional<FoundCredentials>> FromEnvironment(const ChainSetting& setting) {
  std::optional<std::string> id = NonEmpty(setting.env, kIdVariable);
  std::optional<std::string> secret = NonEmpty(setting.env, kSecretVariable);
  std::optional<std::string> token = NonEmpty(setting.env, kTokenVariable);
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

core::Result<std::optional<FoundCredentials>> FromSdkCredentials(const ChainSetting& setting) {
  std::optional<HomeFile> file;
  core::Result<std::optional<std::string>> content = std::optional<std::string>();
  if (std::optional<std::string> named = NonEmpty(setting.env, kCredentialsFileVariable)) {
    // A file the user names must be there.
    file = HomeFile{*named, *named + " (" + Name(kCredentialsFileVariable) + ")"};
    core::Result<std::string> read = request::ReadSmallFile(*named, request::kCredentialStoreLimit);
    if (!read.ok()) return read.status();
    content = std::optional<std::string>(std::move(read.value()));
  } else {
    file = FindHomeFile(setting.env, kSdkCredentials);
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

// A variable's source of temporary credentials, as the chain holds it.
core::Result<std::optional<FoundCredentials>> FromVariables(
    core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>> renewing) {
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
  if (found.expiration) {
    found.source += "; temporary credentials expiring at ";
    found.source += request::FormatExpiration(*found.expiration);
  } else {
    found.source += found.credentials.security_token.empty() ? "; a key fetched for this run"
                                                             : "; temporary credentials";
  }
  return found;
}

core::Result<std::optional<FoundCredentials>> FindUnfetched(const ChainSetting& setting) {
  std::optional<std::string> profile = setting.profile;
  std::string_view chosen_by = "--profile";
  if (!profile) {
    profile = NonEmpty(setting.env, kProfileVariable);
    chosen_by = kProfileVariable;
  }
  if (profile) {
    core::Result<std::optional<FoundCredentials>> found =
        FromAliyunConfig(setting, *profile, chosen_by);
    if (!found.ok()) return found.status();
    return found;  // a named profile is always there or an error
  }
  const auto sources = {
      +[](const ChainSetting& s) { return FromEnvironment(s); },
      +[](const ChainSetting& s) { return FromVariables(OidcFromEnvironment(s)); },
      +[](const ChainSetting&) { return FromSignFile(); },
      +[](const ChainSetting& s) { return FromAliyunConfig(s, {}, {}); },
      +[](const ChainSetting& s) { return FromSdkCredentials(s); },
      +[](const ChainSetting& s) { return FromVariables(InstanceRoleFromEnvironment(s)); },
      +[](const ChainSetting& s) { return FromVariables(CredentialsUriFromEnvironment(s)); },
  };
  for (const auto& source : sources) {
    core::Result<std::optional<FoundCredentials>> found = source(setting);
    if (!found.ok() || found.value()) return found;
  }
  return std::optional<FoundCredentials>();
}

}  // namespace

core::Result<std::optional<FoundCredentials>> FindCredentials(const ChainSetting& setting) {
  core::Result<std::optional<FoundCredentials>> found = FindUnfetched(setting);
  if (!found.ok() || !found.value()) return found;
  core::Result<FoundCredentials> fetched = Fetched(std::move(*found.value()));
  if (!fetched.ok()) return fetched.status();
  return std::optional<FoundCredentials>(std::move(fetched.value()));
}

}  // namespace kestrune::engine
