#include "engine/credential_helpers.h"

#include <nlohmann/json.hpp>

#include <utility>

#include "core/json_depth.h"
#include "engine/helper_command.h"
#include "request/endpoint.h"

namespace kestrune::engine {
namespace {

using Json = nlohmann::json;

std::string Member(const Json& object, std::string_view key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return {};
  return found->get<std::string>();
}

Json Parse(std::string_view text) {
  if (core::JsonNestsDeeperThan(text)) return Json(nullptr);
  return Json::parse(text.begin(), text.end(), nullptr, false);
}

// The complaint about a document, under its step; what the document says is
// never repeated.
core::Status Bad(std::string_view step, std::string_view what) {
  return core::Status::ServiceError(std::string(step) + " failed:\n" + std::string(what));
}

class CredentialsUriProvider final : public request::CredentialProvider {
 public:
  CredentialsUriProvider(request::EndpointOverride to, std::string path,
                         transport::ExchangeOptions exchange, std::string description)
      : to_(std::move(to)),
        path_(std::move(path)),
        exchange_(std::move(exchange)),
        description_(std::move(description)) {}

  core::Result<request::IssuedCredentials> Fetch() override {
    const std::string where = request::EndpointText(to_);
    std::string step = "getting credentials from the credentials URI ";
    step += where;
    step += path_;
    const std::string host = to_.host + ":" + std::to_string(to_.port);
    request::HttpRequest http;
    http.target = path_;
    http.fields = {{"Host", host}, {"Accept", "application/json"}};
    const request::ServiceEndpoint endpoint{to_.host, "Host: " + host + "\r\n", ""};
    transport::HttpReply reply;
    if (const core::Status sent = transport::HttpExchange(endpoint, http, to_, exchange_, reply);
        !sent.ok()) {
      return core::Status::Connection(step + " failed:\n" + sent.message());
    }
    if (reply.head.status != 200) {
      std::string line = reply.head.start_line;
      for (char& ch : line) {
        if (static_cast<unsigned char>(ch) < 0x20) ch = ' ';
      }
      return Bad(step, "the reply is " + line + ", not 200 with a credentials document");
    }
    return ReadCredentialsDocument(reply.body, step);
  }

  std::string Describe() const override { return description_; }

 private:
  request::EndpointOverride to_;
  std::string path_;
  transport::ExchangeOptions exchange_;
  std::string description_;
};

class ExternalProvider final : public request::CredentialProvider {
 public:
  ExternalProvider(std::vector<std::string> words, std::chrono::milliseconds limit,
                   std::string description)
      : words_(std::move(words)), limit_(limit), description_(std::move(description)) {}

  core::Result<request::IssuedCredentials> Fetch() override {
    const std::string step = "running the credentials process " + words_.front();
    core::Result<CommandOutput> run = RunHelperCommand(words_, limit_, kHelperOutputLimit);
    if (!run.ok()) return core::Status::Connection(step + " failed:\n" + run.status().message());
    if (run->exit_code != 0) {
      return core::Status::Connection(step + " failed:\nit exited with status " +
                                      std::to_string(run->exit_code));
    }
    return ReadProcessDocument(run->output, step);
  }

  std::string Describe() const override { return description_; }

 private:
  std::vector<std::string> words_;
  std::chrono::milliseconds limit_;
  std::string description_;
};

}  // namespace

core::Result<request::IssuedCredentials> ReadCredentialsDocument(std::string_view body,
                                                                 std::string_view step) {
  const Json document = Parse(body);
  if (!document.is_object()) return Bad(step, "the reply is not a JSON object");
  if (Member(document, "Code") != "Success") {
    return Bad(step, "the reply's Code is not \"Success\"");
  }
  request::IssuedCredentials issued{
      {Member(document, "AccessKeyId"), Member(document, "AccessKeySecret"),
       Member(document, "SecurityToken")},
      request::ParseExpiration(Member(document, "Expiration"))};
  if (issued.credentials.access_key_id.empty() || issued.credentials.access_key_secret.empty() ||
      issued.credentials.security_token.empty() || !issued.expiration) {
    return Bad(step,
               "the reply lacks an AccessKeyId, an AccessKeySecret, a SecurityToken or a "
               "readable Expiration (YYYY-MM-DDTHH:MM:SSZ)");
  }
  return issued;
}

core::Result<request::IssuedCredentials> ReadProcessDocument(std::string_view output,
                                                             std::string_view step) {
  const Json document = Parse(output);
  if (!document.is_object()) return Bad(step, "its output is not a JSON object");
  const std::string mode = Member(document, "mode");
  if (mode != "AK" && mode != "StsToken") {
    return Bad(step, "its output's mode is neither \"AK\" nor \"StsToken\"");
  }
  request::IssuedCredentials issued{
      {Member(document, "access_key_id"), Member(document, "access_key_secret"),
       mode == "StsToken" ? Member(document, "sts_token") : std::string()},
      std::nullopt};
  if (issued.credentials.access_key_id.empty() || issued.credentials.access_key_secret.empty() ||
      (mode == "StsToken" && issued.credentials.security_token.empty())) {
    return Bad(step, mode == "StsToken"
                         ? "its output lacks access_key_id, access_key_secret or sts_token"
                         : "its output lacks access_key_id or access_key_secret");
  }
  return issued;
}

core::Result<std::unique_ptr<request::CredentialProvider>> MakeCredentialsUriProvider(
    std::string_view uri, transport::ExchangeOptions exchange, std::string description) {
  const std::size_t scheme_end = uri.find("://");
  if (scheme_end == std::string_view::npos) {
    return core::Status::InvalidInput("the credentials URI is not http://HOST[:PORT]/PATH");
  }
  const std::size_t path_at = uri.find('/', scheme_end + 3);
  const std::string path =
      path_at == std::string_view::npos ? std::string("/") : std::string(uri.substr(path_at));
  for (const char ch : path) {
    if (static_cast<unsigned char>(ch) <= 0x20 || ch == 0x7f) {
      return core::Status::InvalidInput(
          "the credentials URI's path holds a space or a control character");
    }
  }
  core::Result<request::EndpointOverride> to =
      request::ParseEndpointOverride(uri.substr(0, path_at));
  if (!to.ok()) {
    return core::Status::InvalidInput("the credentials URI: " + to.status().message());
  }
  return std::unique_ptr<request::CredentialProvider>(std::make_unique<CredentialsUriProvider>(
      std::move(to.value()), path, std::move(exchange), std::move(description)));
}

core::Result<std::unique_ptr<request::CredentialProvider>> MakeExternalProvider(
    std::string_view command, std::chrono::milliseconds time_limit, std::string description) {
  std::vector<std::string> words = SplitCommand(command);
  if (words.empty()) return core::Status::InvalidInput("the process_command is empty");
  return std::unique_ptr<request::CredentialProvider>(
      std::make_unique<ExternalProvider>(std::move(words), time_limit, std::move(description)));
}

}  // namespace kestrune::engine
