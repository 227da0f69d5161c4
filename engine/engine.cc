#include "engine/engine.h"

#include <utility>

#include "core/text.h"
#include "report/extractor.h"
#include "report/formatters.h"

namespace kestrune::engine {

namespace {

constexpr std::string_view kErrorMarker = "<Error>";
constexpr std::string_view kNonceUsedMarker = "SignatureNonceUsed";
constexpr std::string_view kErrorFields[] = {"RequestId", "HostId", "Code", "Message"};

bool Contains(std::string_view text, std::string_view marker) {
  return core::FindText(text, marker) != core::kNotFound;
}

void ShowErrorRows(std::string_view body, report::Extractor& extractor) {
  for (std::string_view name : kErrorFields) extractor.ShowElement(name, body, name);
}

}  // namespace

Engine::Engine(const request::Clock& clock, report::ResultList& results, report::TraceSink& trace,
               EngineOptions options)
    : clock_(clock),
      results_(results),
      trace_(trace),
      options_(std::move(options)),
      own_transport_(MakeNetworkTransport(options_)),
      transport_(own_transport_.get()) {}

Engine::Engine(const request::Clock& clock, report::ResultList& results, report::TraceSink& trace,
               Transport& transport, EngineOptions options)
    : clock_(clock),
      results_(results),
      trace_(trace),
      options_(std::move(options)),
      transport_(&transport) {}

Engine::~Engine() = default;

core::Result<request::SignedRequest> Engine::Prepare(
    const request::Credentials& credentials, const catalogue::ResolvedAction& action,
    const catalogue::ParameterValueSlots& values) const {
  std::optional<request::ServiceEndpoint> endpoint = catalogue::EndpointFor(action.service);
  std::optional<core::Result<catalogue::BoundRequest>> bound =
      catalogue::BindResolved(action, values, &draft_);
  if (!endpoint || !bound) return core::Status::NotSupported(std::string(kNotSupportedText));
  if (!bound->ok()) return bound->status();
  core::Result<request::ActionParameterList> parameters =
      catalogue::ToActionParameters(bound->value());
  if (!parameters.ok()) return parameters.status();
  return request::BuildSignedRequest(credentials, *endpoint, parameters.value(), clock_);
}

RequestResult Engine::Send(const request::Credentials& credentials,
                           const std::optional<catalogue::ResolvedAction>& action,
                           const catalogue::ParameterValueSlots& values) {
  RequestResult result;
  std::optional<request::ServiceEndpoint> endpoint;
  std::optional<core::Result<catalogue::BoundRequest>> bound;
  if (action) {
    endpoint = catalogue::EndpointFor(action->service);
    bound = catalogue::BindResolved(*action, values, &draft_);
  }
  if (!endpoint || !bound) {
    // Nothing is sent for a choice without a request of its own: never the
    // request of some other action.
    result.outcome = Outcome::kNotSupported;
    result.result_text = kNotSupportedText;
    return result;
  }
  if (!bound->ok()) {
    result.outcome = Outcome::kRefused;
    result.detail = bound->status().message();
    return result;
  }
  result.action_line = bound->value().action_line;
  core::Result<request::ActionParameterList> parameters =
      catalogue::ToActionParameters(bound->value());
  if (!parameters.ok()) {
    result.outcome = Outcome::kRefused;
    result.detail = parameters.status().message();
    return result;
  }

  report::DisplayText display;
  report::Extractor extractor(results_, trace_, display);
  const int max_attempts = options_.max_attempts < 1 ? 1 : options_.max_attempts;
  for (int attempt = 1; attempt <= max_attempts; ++attempt) {
    // Every attempt is built anew, so it carries a fresh nonce and timestamp.
    core::Result<request::SignedRequest> signed_request =
        request::BuildSignedRequest(credentials, *endpoint, parameters.value(), clock_);
    if (!signed_request.ok()) {
      result.outcome = Outcome::kRefused;
      result.detail = signed_request.status().message();
      return result;
    }
    result.signed_request = signed_request.value().text;
    ++result.attempts;

    TransportReply reply = transport_->Exchange(*endpoint, result.signed_request);
    result.raw_reply = std::move(reply.raw);
    result.body = std::move(reply.body);
    result.http_status = reply.http_status;
    if (reply.status.ok() && reply.http_status == 0) {
      // A peer that closed without an HTTP status line gave no answer at all.
      reply.status = core::Status::Connection("the server closed the connection without a reply");
    }
    if (!reply.status.ok()) {
      result.outcome = Outcome::kConnectionFailed;
      result.result_text = kConnectionFailedText;
      result.detail = reply.status.message();
      trace_.Line("exchange failed: " + reply.status.message());
      return result;
    }

    if (Contains(result.body, kErrorMarker)) {
      if (Contains(result.body, kNonceUsedMarker) && attempt < max_attempts) {
        trace_.Line("signature nonce used; attempt " + std::to_string(attempt + 1));
        continue;
      }
      ShowErrorRows(result.body, extractor);
      result.outcome = Outcome::kErrorReply;
      result.result_text.clear();
      return result;
    }

    if (reply.http_status < 200 || reply.http_status > 299) {
      // A proxy's error page is no answer from the service: report its
      // status and show nothing of it.
      result.outcome = Outcome::kHttpError;
      result.result_text = reply.status_line;
      result.detail = "the server answered " + reply.status_line + " without an error document";
      return result;
    }

    result.outcome = Outcome::kGoodReply;
    if (action->service == catalogue::kEcsService) {
      report::FormatOutcome formatted =
          report::FormatReply(action->category_number, action->action_number, result.action_line,
                              result.body, extractor);
      result.result_text = std::move(formatted.result_text);
      result.formatted = formatted.formatted;
    }
    if (!result.formatted) {
      // Without a formatter every leaf of the reply is shown, so a good reply
      // never looks like no reply, in either face.
      report::ShowAllLeaves(result.body, extractor);
      result.leaves_shown = true;
    }
    return result;
  }
  return result;  // not reached: the last attempt always returns
}

}  // namespace kestrune::engine
