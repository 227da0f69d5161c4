#include "engine/engine.h"

#include <cstdlib>
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
  return request::BuildSignedRequest(credentials, *endpoint, parameters.value(), clock_,
                                     options_.method);
}

RequestResult Engine::Send(const request::Credentials& credentials,
                           const std::optional<catalogue::ResolvedAction>& action,
                           const catalogue::ParameterValueSlots& values) {
  RequestResult result = Exchange(credentials, action, values);
  if (action) Show(*action, result);
  return result;
}

RequestResult Engine::Exchange(const request::Credentials& credentials,
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

  const int max_attempts = options_.max_attempts < 1 ? 1 : options_.max_attempts;
  for (int attempt = 1; attempt <= max_attempts; ++attempt) {
    // Every attempt is built anew, so it carries a fresh nonce and timestamp.
    core::Result<request::SignedRequest> signed_request = request::BuildSignedRequest(
        credentials, *endpoint, parameters.value(), clock_, options_.method);
    if (!signed_request.ok()) {
      result.outcome = Outcome::kRefused;
      result.detail = signed_request.status().message();
      return result;
    }
    result.signed_request = signed_request.value().text;
    ++result.attempts;

    TransportReply reply = transport_->Exchange(*endpoint, result.signed_request);
    // A reply may quote the request (SignatureDoesNotMatch gives the string
    // to sign): the token goes no further than the wire.
    result.raw_reply = request::HideSecurityToken(std::move(reply.raw), credentials.security_token);
    result.body = request::HideSecurityToken(std::move(reply.body), credentials.security_token);
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
    return result;
  }
  return result;  // not reached: the last attempt always returns
}

void Engine::Show(const catalogue::ResolvedAction& action, RequestResult& result) {
  report::DisplayText display;
  report::Extractor extractor(results_, trace_, display);
  if (result.outcome == Outcome::kErrorReply) {
    ShowErrorRows(result.body, extractor);
    return;
  }
  if (result.outcome != Outcome::kGoodReply) return;
  if (action.service == catalogue::kEcsService) {
    report::FormatOutcome formatted = report::FormatReply(
        action.category_number, action.action_number, result.action_line, result.body, extractor);
    result.result_text = std::move(formatted.result_text);
    result.formatted = formatted.formatted;
  }
  if (!result.formatted) {
    // Without a formatter every leaf of the reply is shown, so a good reply
    // never looks like no reply, in either face.
    report::ShowAllLeaves(result.body, extractor);
    result.leaves_shown = true;
  }
}

namespace {

// The value of the user's parameter `name`, whether the template holds it or
// it was named beyond the template.
std::optional<std::string> GivenValue(const catalogue::ResolvedAction& action,
                                      const catalogue::ParameterValueSlots& values,
                                      std::string_view name) {
  if (action.request_template != nullptr) {
    const core::StringListView names = action.request_template->parameter_names();
    for (std::size_t k = 1; k <= names.Count(); ++k) {
      if (names.Entry(k) != name) continue;
      if (std::optional<std::string_view> given = values.Get(k)) return std::string(*given);
    }
  }
  for (const catalogue::NamedValue& extra : values.extras()) {
    if (extra.name == name) return extra.value;
  }
  return std::nullopt;
}

// `values` with parameter `name` set to `value` (or removed, for nullopt),
// in the template's slot when it has one.
catalogue::ParameterValueSlots WithValue(const catalogue::ResolvedAction& action,
                                         catalogue::ParameterValueSlots values,
                                         std::string_view name,
                                         const std::optional<std::string>& value) {
  if (action.request_template != nullptr) {
    const core::StringListView names = action.request_template->parameter_names();
    for (std::size_t k = 1; k <= names.Count(); ++k) {
      if (names.Entry(k) != name) continue;
      if (value) {
        (void)values.Set(k, *value);
      } else {
        values.Reset(k);
      }
      return values;
    }
  }
  values.SetExtra(name, value);
  return values;
}

std::string ElementValue(std::string_view body, std::string_view name) {
  std::string value;
  report::CopyElementValue(body, name, value);
  return value;
}

// The records of one page: the text inside its list element, and how many
// records (children of the list element) that text holds.
struct PageRecords {
  std::size_t start = 0;  // offset in the body of the list's inner text
  std::size_t length = 0;
  std::size_t count = 0;
};

std::optional<PageRecords> FindRecords(std::string_view body, std::string_view list_element) {
  std::string inner;
  const std::uint32_t end = report::CopyElementValue(body, list_element, inner);
  if (end == report::kElementAbsent) return std::nullopt;
  PageRecords records;
  records.length = inner.size();
  records.start = end - inner.size();
  // The first child names the records; counting its opening tags counts them.
  const std::size_t open = inner.find('<');
  if (open != std::string::npos) {
    const std::size_t close = inner.find_first_of("> /", open + 1);
    if (close != std::string::npos && close > open + 1) {
      const std::string tag = "<" + inner.substr(open + 1, close - open - 1) + ">";
      for (std::size_t at = inner.find(tag); at != std::string::npos;
           at = inner.find(tag, at + tag.size())) {
        ++records.count;
      }
    }
  }
  return records;
}

}  // namespace

RequestResult Engine::SendAllPages(const request::Credentials& credentials,
                                   const catalogue::ResolvedAction& action,
                                   const catalogue::ParameterValueSlots& values,
                                   const catalogue::PagingInfo& paging) {
  // The largest page the action takes, unless the user chose a size.
  const std::string size = std::to_string(paging.max_page_size);
  catalogue::ParameterValueSlots page_values = values;
  bool by_token = GivenValue(action, values, "MaxResults").has_value() ||
                  GivenValue(action, values, "NextToken").has_value();
  if (by_token) {
    if (!GivenValue(action, values, "MaxResults")) {
      page_values = WithValue(action, page_values, "MaxResults", size);
    }
  } else if (!GivenValue(action, values, "PageSize")) {
    page_values = WithValue(action, page_values, "PageSize", size);
  }
  std::uint64_t page_number = 1;
  if (std::optional<std::string> given = GivenValue(action, values, "PageNumber")) {
    page_number = std::strtoull(given->c_str(), nullptr, 10);
    if (page_number == 0) page_number = 1;
  }

  RequestResult merged;
  std::size_t insert_at = 0;  // where the next page's records go in the merged body
  std::size_t records = 0;
  for (int page = 1;; ++page) {
    if (!by_token) {
      page_values = WithValue(action, page_values, "PageNumber", std::to_string(page_number));
    }
    RequestResult result = Exchange(credentials, action, page_values);
    ++merged.pages;
    merged.attempts += result.attempts;
    if (result.outcome != Outcome::kGoodReply) {
      if (page == 1) {
        Show(action, result);
        return result;
      }
      // What was fetched is shown; then the failing page's own rows.
      merged.detail = "page " + std::to_string(page) + " failed after " + std::to_string(records) +
                      " records" + (result.detail.empty() ? "" : ": " + result.detail);
      Show(action, merged);
      Show(action, result);
      result.detail = merged.detail;
      result.pages = merged.pages;
      result.attempts = merged.attempts;
      result.body = std::move(merged.body);
      return result;
    }
    std::optional<PageRecords> found = FindRecords(result.body, paging.list_element);
    const std::size_t count = found ? found->count : 0;
    const std::string next_token = ElementValue(result.body, "NextToken");
    const std::string total = ElementValue(result.body, "TotalCount");
    const std::string page_size = ElementValue(result.body, "PageSize");
    if (page == 1) {
      std::string body = std::move(result.body);
      merged = std::move(result);
      merged.pages = 1;
      merged.body = std::move(body);
      insert_at = found ? found->start + found->length : merged.body.size();
    } else if (found && count > 0) {
      merged.body.insert(insert_at, result.body, found->start, found->length);
      insert_at += found->length;
      merged.signed_request = std::move(result.signed_request);
    }
    records += count;

    if (page > 1 && count == 0) break;  // an empty page: nothing follows
    if (by_token || !next_token.empty()) {
      if (next_token.empty()) break;
      if (!by_token) page_values = WithValue(action, page_values, "PageNumber", std::nullopt);
      page_values = WithValue(action, page_values, "NextToken", next_token);
      if (!by_token && !GivenValue(action, values, "MaxResults")) {
        page_values = WithValue(action, page_values, "PageSize", std::nullopt);
        page_values = WithValue(action, page_values, "MaxResults", size);
      }
      // Once the service pages by token, the walk follows it.
      by_token = true;
    } else {
      const std::uint64_t total_count = std::strtoull(total.c_str(), nullptr, 10);
      const std::uint64_t size_now =
          page_size.empty() ? paging.max_page_size : std::strtoull(page_size.c_str(), nullptr, 10);
      if (total.empty() || count == 0 || page_number * size_now >= total_count) break;
      ++page_number;
    }
    if (page >= kMaxPages) {
      merged.detail = "stopped after " + std::to_string(kMaxPages) +
                      " pages; the list goes on (ask for PageNumber " +
                      std::to_string(page_number) + " to continue)";
      merged.page_limit_reached = true;
      break;
    }
  }
  Show(action, merged);
  return merged;
}

}  // namespace kestrune::engine
