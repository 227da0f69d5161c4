#include "cli/credential_modes.h"

#include <algorithm>
#include <utility>

#include "engine/credential_helpers.h"
#include "engine/token_service.h"

namespace kestrune::cli {
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

std::optional<std::string> NonEmpty(const Console& console, std::string_view name) {
  std::optional<std::string> value = console.Env(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::shared_ptr<request::RenewingCredentials> Renewing(
    std::unique_ptr<request::CredentialProvider> provider) {
  return std::make_shared<request::RenewingCredentials>(std::move(provider), ProcessClock());
}

core::Result<engine::RoleRequest> RoleOf(const request::StoredCredentials& profile,
                                         std::string_view what) {
  engine::RoleRequest role;
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
  if (core::Status checked = engine::CheckRoleRequest(role, profile.mode == "OIDC", what);
      !checked.ok()) {
    return checked;
  }
  return role;
}

core::Result<engine::TokenService> ServiceOf(const request::StoredCredentials& profile,
                                             const TemporarySetting& setting,
                                             std::string_view what) {
  core::Result<engine::TokenService> service = engine::ChooseTokenService(
      Field(profile, "sts_endpoint"), Field(profile, "sts_region"),
      NonEmpty(*setting.console, engine::kStsEndpointVariable), setting.exchange);
  if (!service.ok()) {
    return core::Status::InvalidInput(std::string(what) + ": " + service.status().message());
  }
  return service;
}

core::Result<std::shared_ptr<request::RenewingCredentials>> InstanceRole(
    const TemporarySetting& setting, std::string role_name, std::string description) {
  engine::InstanceRole role;
  role.role_name = std::move(role_name);
  const std::optional<std::string> v1_disabled =
      setting.console->Env("ALIBABA_CLOUD_IMDSV1_DISABLED");
  role.token_required = v1_disabled && *v1_disabled == "true";
  role.send_to = NonEmpty(*setting.console, engine::kMetadataEndpointVariable).value_or("");
  core::Result<std::unique_ptr<request::CredentialProvider>> provider =
      engine::MakeInstanceRoleProvider(std::move(role), std::move(description));
  if (!provider.ok()) return provider.status();
  return Renewing(std::move(provider.value()));
}

core::Result<std::shared_ptr<request::RenewingCredentials>> Build(
    const request::StoredCredentials& profile, std::string_view content, std::string_view file,
    const TemporarySetting& setting, std::string description, std::vector<std::string> chain) {
  const std::string what = "profile \"" + profile.name + "\"";
  if (profile.mode == "EcsRamRole") {
    return InstanceRole(setting, Field(profile, "ram_role_name"), std::move(description));
  }
  if (profile.mode == "CredentialsURI" || profile.mode == "External") {
    core::Result<std::unique_ptr<request::CredentialProvider>> provider =
        profile.mode == "External"
            ? engine::MakeExternalProvider(Field(profile, "process_command"),
                                           engine::kHelperTimeLimit, std::move(description))
            : engine::MakeCredentialsUriProvider(Field(profile, "credentials_uri"),
                                                 setting.exchange, std::move(description));
    if (!provider.ok())
      return core::Status::InvalidInput(what + ": " + provider.status().message());
    return Renewing(std::move(provider.value()));
  }
  core::Result<engine::RoleRequest> role = RoleOf(profile, what);
  if (!role.ok()) return role.status();
  core::Result<engine::TokenService> service = ServiceOf(profile, setting, what);
  if (!service.ok()) return service.status();
  if (profile.mode == "OIDC") {
    return Renewing(engine::MakeOidcProvider(std::move(role.value()), std::move(service.value()),
                                             ProcessClock(), std::move(description)));
  }
  engine::BaseCredentials base;
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
  return Renewing(engine::MakeAssumeRoleProvider(std::move(base), std::move(role.value()),
                                                 std::move(service.value()), ProcessClock(),
                                                 std::move(description)));
}

}  // namespace

bool FetchesCredentials(const request::StoredCredentials& profile) {
  return profile.mode == "RamRoleArn" || profile.mode == "ChainableRamRoleArn" ||
         profile.mode == "OIDC" || profile.mode == "EcsRamRole" ||
         profile.mode == "CredentialsURI" || profile.mode == "External";
}

core::Result<std::shared_ptr<request::RenewingCredentials>> ProfileCredentials(
    const request::StoredCredentials& profile, std::string_view content, std::string_view file,
    const TemporarySetting& setting, std::string description) {
  return Build(profile, content, file, setting, std::move(description), {});
}

core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>> OidcFromEnvironment(
    const TemporarySetting& setting) {
  using Found = std::optional<std::shared_ptr<request::RenewingCredentials>>;
  const Console& console = *setting.console;
  std::optional<std::string> role_arn = NonEmpty(console, kRoleArnVariable);
  if (!role_arn) return Found();
  request::StoredCredentials stored;
  stored.name = "environment";
  stored.mode = "OIDC";
  stored.fields.emplace("ram_role_arn", *role_arn);
  for (const auto& [variable, field] :
       {std::pair{kProviderVariable, "oidc_provider_arn"},
        std::pair{kTokenFileVariable, "oidc_token_file"}, std::pair{kSessionVariable, ""}}) {
    std::optional<std::string> value = NonEmpty(console, variable);
    if (value && *field != '\0') stored.fields.emplace(field, *value);
    if (!value && *field != '\0') {
      return core::Status::InvalidInput(std::string(kRoleArnVariable) + " is set but " +
                                        std::string(variable) + " is not; OIDC needs " +
                                        std::string(kProviderVariable) + " and " +
                                        std::string(kTokenFileVariable) + " too");
    }
    if (value && *field == '\0') stored.fields.emplace("ram_session_name", *value);
  }
  core::Result<engine::RoleRequest> role = RoleOf(stored, "the OIDC variables");
  if (!role.ok()) return role.status();
  core::Result<engine::TokenService> service = ServiceOf(stored, setting, "the OIDC variables");
  if (!service.ok()) return service.status();
  return Found(Renewing(engine::MakeOidcProvider(
      std::move(role.value()), std::move(service.value()), ProcessClock(),
      "the environment's OIDC variables (" + std::string(kRoleArnVariable) + ", " +
          std::string(kProviderVariable) + ", " + std::string(kTokenFileVariable) + ")")));
}

core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>>
InstanceRoleFromEnvironment(const TemporarySetting& setting) {
  using Found = std::optional<std::shared_ptr<request::RenewingCredentials>>;
  std::optional<std::string> role = NonEmpty(*setting.console, "ALIBABA_CLOUD_ECS_METADATA");
  if (!role) return Found();
  core::Result<std::shared_ptr<request::RenewingCredentials>> built = InstanceRole(
      setting, *role, "the instance's RAM role \"" + *role + "\" (ALIBABA_CLOUD_ECS_METADATA)");
  if (!built.ok()) return built.status();
  return Found(std::move(built.value()));
}

core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>>
CredentialsUriFromEnvironment(const TemporarySetting& setting) {
  using Found = std::optional<std::shared_ptr<request::RenewingCredentials>>;
  std::optional<std::string> uri = NonEmpty(*setting.console, kCredentialsUriVariable);
  if (!uri) return Found();
  const std::string name(kCredentialsUriVariable);
  core::Result<std::unique_ptr<request::CredentialProvider>> provider =
      engine::MakeCredentialsUriProvider(*uri, setting.exchange, "the credentials URI of " + name);
  if (!provider.ok()) return core::Status::InvalidInput(name + ": " + provider.status().message());
  return Found(Renewing(std::move(provider.value())));
}

}  // namespace kestrune::cli
