#include "engine/engine.h"

#include <chrono>
#include <cstdlib>
#include <iterator>
#include <random>
#include <thread>
#include <utility>

#include "catalogue/action_kind.h"
#include "catalogue/parameters.h"
#include "core/text.h"
#include "engine/destination.h"
#include "engine/diagnosis.h"
#include "engine/reply_forms.h"
#include "engine/retry.h"
#include "report/all_fields.h"
#include "report/extractor.h"
#include "report/formatters.h"

namespace kestrune::engine {

namespace {

constexpr std::string_view kErrorMarker = "<Error>";
constexpr std::string_view kErrorFields[] = {"RequestId", "HostId", "Code", "Message", "Recommend"};

bool Contains(std::string_view text, std::string_view marker) {
  return core::FindText(text, marker) != core::kNotFound;
}

void ShowErrorRows(std::string_view body, report::Extractor& extractor) {
  for (std::string_view name : kErrorFields) extractor.ShowElement(name, body, name);
}

// `values` with parameter `name` set to `value` (or removed, for nullopt).
catalogue::ParameterValues WithValue(catalogue::ParameterValues values, std::string_view name,
                                     const std::optional<std::string>& value) {
  if (value) {
    values.Set(name, *value);
  } else {
    values.Erase(name);
  }
  return values;
}

// A fresh ClientToken: 32 random hex digits in the 8-4-4-4-12 form of a
// UUID (the service takes up to 64 ASCII characters).
std::string NewClientToken() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string token;
  for (int k = 0; k < 32; ++k) {
    if (k == 8 || k == 12 || k == 16 || k == 20) token += '-';
    token += kHex[random() & 15U];
  }
  return token;
}

// `values` with a ClientToken of its own for an action that takes one and
// was given none, so that every attempt of the request carries the same.
catalogue::ParameterValues WithClientToken(const catalogue::ResolvedAction& action,
                                           const catalogue::ParameterValues& values) {
  if (!catalogue::TakesClientToken(action.service, action.action_name) ||
      values.Get("ClientToken")) {
    return values;
  }
  return WithValue(values, "ClientToken", NewClientToken());
}

// The Code of an error reply, from the Error document's own element (XML)
// or the object's field (JSON); never text elsewhere in the body.
std::optional<std::string> ErrorCode(std::string_view body, bool json, int http_status) {
  if (json) return JsonErrorCode(http_status, body);
  const std::size_t error = core::FindText(body, kErrorMarker);
  if (error == core::kNotFound) return std::nullopt;
  return ErrorElement(body.substr(error), "Code");
}

std::string DescribeWait(std::chrono::milliseconds wait) {
  if (wait < std::chrono::milliseconds(1000)) return std::to_string(wait.count()) + " ms";
  const auto tenths = (wait.count() + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

}  // namespace

Engine::Engine(const request::Clock& clock, report::ResultList& results, report::TraceSink& trace,
               EngineOptions options)
    : clock_(clock),
      results_(results),
      trace_(trace),
      options_(std::move(options)),
      own_transport_(MakeNetworkTransport(options_, trace)),
      transport_(own_transport_.get()),
      clock_offset_(options_.clock_offset) {}

Engine::Engine(const request::Clock& clock, report::ResultList& results, report::TraceSink& trace,
               Transport& transport, EngineOptions options)
    : clock_(clock),
      results_(results),
      trace_(trace),
      options_(std::move(options)),
      transport_(&transport),
      clock_offset_(options_.clock_offset) {}

Engine::~Engine() = default;

core::Result<request::SignedRequest> Engine::Prepare(
    const request::Credentials& credentials, const catalogue::ResolvedAction& action,
    const catalogue::ParameterValues& values) const {
  std::optional<request::ServiceEndpoint> endpoint = catalogue::EndpointFor(action.service);
  std::optional<core::Result<catalogue::BoundRequest>> bound =
      catalogue::BindResolved(action, WithClientToken(action, values));
  if (!endpoint || !bound) return core::Status::NotSupported(std::string(kNotSupportedText));
  if (!bound->ok()) return bound->status();
  if (core::Status checked = catalogue::CheckBoundParameters(action, bound->value(),
                                                             options_.accept_unknown_parameters);
      !checked.ok()) {
    return checked;
  }
  core::Result<Destination> destination = ResolveDestination(options_, action, values);
  if (!destination.ok()) return destination.status();
  endpoint = std::move(destination.value().endpoint);
  core::Result<request::ActionParameterList> parameters =
      catalogue::ToActionParameters(bound->value());
  if (!parameters.ok()) return parameters.status();
  return request::BuildSignedRequestAs(options_.signature_version, credentials, *endpoint,
                                       parameters.value(), clock_, options_.method,
                                       options_.reply_format);
}

RequestResult Engine::Send(const request::Credentials& credentials,
                           const std::optional<catalogue::ResolvedAction>& action,
                           const catalogue::ParameterValues& values) {
  RequestResult result = Exchange(credentials, action, values);
  if (action) Show(*action, result);
  return result;
}

RequestResult Engine::Exchange(const request::Credentials& credentials,
                               const std::optional<catalogue::ResolvedAction>& action,
                               const catalogue::ParameterValues& values) {
  RequestResult result;
  std::optional<request::ServiceEndpoint> endpoint;
  std::optional<core::Result<catalogue::BoundRequest>> bound;
  if (action) {
    endpoint = catalogue::EndpointFor(action->service);
    // Bound once: a generated ClientToken is the same on every attempt.
    bound = catalogue::BindResolved(*action, WithClientToken(*action, values));
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
  if (core::Status checked = catalogue::CheckBoundParameters(*action, bound->value(),
                                                             options_.accept_unknown_parameters);
      !checked.ok()) {
    result.outcome = Outcome::kRefused;
    result.detail = checked.message();
    return result;
  }
  // The request's region chooses its host; one no host could hold is
  // refused before anything is sent.
  core::Result<Destination> destination = ResolveDestination(options_, *action, values);
  if (!destination.ok()) {
    result.outcome = Outcome::kRefused;
    result.detail = destination.status().message();
    return result;
  }
  endpoint = std::move(destination.value().endpoint);
  result.action_line = bound->value().action_line;
  core::Result<request::ActionParameterList> parameters =
      catalogue::ToActionParameters(bound->value());
  if (!parameters.ok()) {
    result.outcome = Outcome::kRefused;
    result.detail = parameters.status().message();
    return result;
  }

  const catalogue::ActionKind kind = catalogue::KindOfAction(action->service, action->action_name);
  const auto started = std::chrono::steady_clock::now();
  int max_attempts = options_.max_attempts < 1 ? 1 : options_.max_attempts;
  bool clock_corrected = false;
  request::SignatureVersion version = options_.signature_version;
  for (int attempt = 1; attempt <= max_attempts; ++attempt) {
    // Every attempt is built anew, so it carries a fresh nonce and timestamp,
    // on the local clock corrected by any offset measured so far.
    const request::ShiftedClock clock(clock_, clock_offset_);
    request::Credentials renewed;
    if (options_.renewing) {
      core::Result<request::IssuedCredentials> current = options_.renewing->Get();
      if (!current.ok()) {
        result.outcome = Outcome::kConnectionFailed;
        result.detail = current.status().message();
        return result;
      }
      renewed = std::move(current.value().credentials);
    }
    const request::Credentials& key = options_.renewing ? renewed : credentials;
    core::Result<request::SignedRequest> signed_request = request::BuildSignedRequestAs(
        version, key, *endpoint, parameters.value(), clock, options_.method, options_.reply_format);
    if (!signed_request.ok()) {
      result.outcome = Outcome::kRefused;
      result.detail = signed_request.status().message();
      return result;
    }
    // A page is likely to be followed by the next: their connection stays
    // open. A lone request closes it as it always did.
    signed_request.value().http.keep_alive = keep_alive_;
    result.signed_request = signed_request.value().text();
    // Kept for a diagnosis, which may quote it: without the token, hidden as
    // the reply hides it, so the two strings still compare.
    // Version 3 is diagnosed from its canonical request, which the service
    // quotes.
    result.string_to_sign = request::HideSecurityToken(
        version == request::SignatureVersion::kV3 ? signed_request.value().canonical_request
                                                  : signed_request.value().string_to_sign,
        key.security_token);
    ++result.attempts;
    // What an earlier attempt came to is no part of this one's result.
    result.detail.clear();
    result.result_text.clear();

    TransportReply reply = transport_->Exchange(*endpoint, signed_request.value().http);
    // A reply may quote the request (SignatureDoesNotMatch gives the string
    // to sign): the token goes no further than the wire.
    reply.raw = request::HideSecurityToken(std::move(reply.raw), key.security_token);
    reply.body = request::HideSecurityToken(std::move(reply.body), key.security_token);
    if (observer_ != nullptr)
      observer_->OnExchange({attempt, signed_request.value(), reply, key.security_token});
    result.reply.raw = std::move(reply.raw);
    result.reply.body = std::move(reply.body);
    result.reply.head = reply.head;
    if (reply.status.ok() && reply.head.status == 0) {
      // A peer that closed without an HTTP status line gave no answer at
      // all, after the request was written.
      reply.status = core::Status::Connection("the server closed the connection without a reply");
      reply.failure = transport::FailureStage::kAfterSending;
    }

    Failure failure = Failure::kFinal;
    std::string reason;
    const bool json = options_.reply_format == request::ReplyFormat::kJson;
    const std::optional<std::string> code =
        reply.status.ok() ? ErrorCode(result.reply.body, json, reply.head.status) : std::nullopt;
    if (!reply.status.ok()) {
      result.outcome = Outcome::kConnectionFailed;
      result.detail = reply.status.message();
      trace_.Line("exchange failed: " + reply.status.message());
      failure = ClassifyExchangeFailure(reply.failure);
      reason = reply.status.message();
    } else if (json ? code.has_value() : Contains(result.reply.body, kErrorMarker)) {
      failure = ClassifyErrorReply(reply.head.status, code, AsksToRetry(reply.head));
      if (failure == Failure::kFinal && version == request::SignatureVersion::kV1 &&
          code == request::kUnsupportedSignatureVersionCode) {
        // Refused before acting, for its signature alone: the same request
        // signed the newer way, once.
        version = request::SignatureVersion::kV3;
        result.notes.push_back("the service takes only signature version 3 for " +
                               action->action_name + "; the request was signed again that way");
        ++max_attempts;
        transport_->DropConnection();
        continue;
      }
      if (failure == Failure::kFinal && !clock_corrected && CorrectClock(clock, result)) {
        // The service refused before acting, so one more request, stamped by
        // the service's own clock, is safe; never a third.
        clock_corrected = true;
        ++max_attempts;
        transport_->DropConnection();
        continue;
      }
      Diagnose(result);
      result.outcome = Outcome::kErrorReply;
      result.result_text.clear();
      result.reply.error_body = result.reply.body;
      reason = code.value_or(reply.head.start_line);
    } else if (reply.head.status < 200 || reply.head.status > 299) {
      // A proxy's error page is no answer from the service: report its
      // status and show nothing of it.
      result.outcome = Outcome::kHttpError;
      result.result_text = reply.head.start_line;
      result.detail = "the server answered " + reply.head.start_line + " without an error document";
      failure = ClassifyErrorReply(reply.head.status, std::nullopt, AsksToRetry(reply.head));
      reason = reply.head.start_line;
    } else {
      result.outcome = Outcome::kGoodReply;
      if (!json) MarkCutOff(result);
      return result;
    }

    const Verdict verdict = DecideRetry(failure, kind);
    if (verdict == Verdict::kStopOutcomeUnknown) {
      result.notes.push_back("the request may have been carried out: it was sent, and " +
                             std::string(result.outcome == Outcome::kConnectionFailed
                                             ? "no whole reply came"
                                             : "the service failed without saying whether it "
                                               "acted") +
                             "; it was not sent again, as " + action->action_name +
                             " could then be carried out twice (check its effect before you "
                             "repeat it)");
    }
    if (verdict != Verdict::kRetry) return result;
    if (attempt == max_attempts) {
      if (attempt > 1) result.notes.push_back(std::to_string(attempt) + " attempts were made");
      return result;
    }
    std::chrono::milliseconds wait = BackoffWait(attempt, unit_(random_));
    const std::optional<std::chrono::milliseconds> asked = RequestedWait(result.reply.head);
    if (asked && *asked > wait) wait = *asked;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    if (spent + wait >= options_.overall_timeout) {
      result.notes.push_back(std::to_string(attempt) +
                             (attempt == 1 ? " attempt was" : " attempts were") +
                             " made; another, after " + DescribeWait(wait) +
                             ", would not have started within the time-out of " +
                             DescribeWait(options_.overall_timeout));
      return result;
    }
    trace_.Line("attempt " + std::to_string(attempt + 1) + " of " + std::to_string(max_attempts) +
                " in " + DescribeWait(wait) + ": " + reason);
    if (observer_ != nullptr) observer_->OnRetry({attempt + 1, max_attempts, wait, reason});
    // A retry starts afresh: a new connection as well as a new signature.
    transport_->DropConnection();
    if (wait_) {
      wait_(wait);
    } else {
      std::this_thread::sleep_for(wait);
    }
  }
  return result;  // not reached: the last attempt always returns
}

bool Engine::CorrectClock(const request::Clock& stamped_by, RequestResult& result) {
  const std::optional<std::string> code = ErrorElement(result.reply.body, "Code");
  if (!code || !IsTimestampRefusal(*code)) return false;
  const std::optional<std::chrono::seconds> offset =
      ClockOffset(result.reply.head, request::ToTimePoint(stamped_by.NowUtc()));
  if (!offset) {
    result.notes.push_back(
        "the service refused the time stamp, but its reply has no readable "
        "Date header: the clock's offset could not be measured");
    return false;
  }
  clock_offset_ += *offset;
  result.notes.push_back("the local clock is " + DescribeOffset(*offset) +
                         " by the service's Date header; the request was sent again with the "
                         "clock corrected");
  trace_.Line("clock offset: " + std::to_string(clock_offset_.count()) + " s");
  return true;
}

void Engine::Diagnose(RequestResult& result) const {
  const std::optional<std::string> code = ErrorElement(result.reply.body, "Code");
  if (!code || (*code != "SignatureDoesNotMatch" && *code != "IncompleteSignature")) return;
  const std::optional<std::string> message = ErrorElement(result.reply.body, "Message");
  const SignatureDiagnosis diagnosis =
      DiagnoseSignature(result.string_to_sign, message.value_or(std::string()));
  result.notes.insert(result.notes.end(), diagnosis.notes.begin(), diagnosis.notes.end());
}

void Engine::MarkCutOff(RequestResult& result) {
  // Without a length header only the close of the connection ends a reply,
  // so one cut short arrives as a good reply whose document never ends.
  const std::optional<std::string> root = UnclosedXmlRoot(result.reply.body);
  if (!root) return;
  result.outcome = Outcome::kConnectionFailed;
  result.detail = "the reply was cut off after " + std::to_string(result.reply.body.size()) +
                  " bytes (its root element" + (root->empty() ? "" : " " + *root) +
                  " never closes); what arrived is shown";
  result.partial = true;
}

void Engine::Show(const catalogue::ResolvedAction& action, RequestResult& result,
                  report::ResultList* list) {
  // A JSON reply goes back whole; the rows are the XML form's.
  if (options_.reply_format == request::ReplyFormat::kJson) return;
  report::DisplayText display;
  report::Extractor extractor(list != nullptr ? *list : results_, trace_, display);
  // The extractor reads a reply as ending at its first NUL, as the reply
  // buffers always have, so a NUL byte would hide the rest of the reply:
  // each one is shown as U+2400 SYMBOL FOR NULL instead.
  std::string visible;
  std::string_view body = result.reply.body;
  if (body.find('\0') != std::string_view::npos) {
    constexpr std::string_view kNulSymbol = "\xE2\x90\x80";
    for (const char ch : body) {
      if (ch == '\0') {
        visible += kNulSymbol;
      } else {
        visible += ch;
      }
    }
    body = visible;
  }
  if (result.outcome == Outcome::kErrorReply) {
    ShowErrorRows(body, extractor);
    return;
  }
  // What arrived of a failed reply is shown; the failure keeps its text.
  const bool failed = result.outcome != Outcome::kGoodReply;
  if (failed && !result.partial) return;
  if (options_.all_fields) {
    report::ShowAllFields(body, extractor);
    if (!failed) result.result_text = result.action_line;
    return;
  }
  const catalogue::ActionSpec* spec = catalogue::ActionSpecOf(action);
  if (spec != nullptr && spec->reply_shape != core::ReplyShape::kNone) {
    report::FormatOutcome formatted =
        report::FormatReply(spec->reply_shape, result.action_line, body, extractor);
    if (!failed) result.result_text = std::move(formatted.result_text);
    result.formatted = formatted.formatted;
  }
  if (!result.formatted) {
    // Without a formatter every leaf of the reply is shown, so a good reply
    // never looks like no reply, in either face.
    report::ShowAllLeaves(body, extractor);
    result.leaves_shown = true;
  }
}

std::vector<report::Row> Engine::RowsOf(const catalogue::ResolvedAction& action,
                                        const RequestResult& like, std::string body) {
  RequestResult shown;
  shown.outcome = like.outcome;
  shown.action_line = like.action_line;
  shown.reply.body = std::move(body);
  report::RecordingResultList list;
  Show(action, shown, &list);
  return list.TakeProduced();
}

RequestResult Engine::SendAllPages(const request::Credentials& credentials,
                                   const catalogue::ResolvedAction& action,
                                   const catalogue::ParameterValues& values,
                                   const catalogue::PagingInfo& paging,
                                   const std::function<void(std::vector<report::Row>)>& page_rows,
                                   JsonWalk* json_walk) {
  // The largest page the action takes, unless the user chose a size.
  const std::string size = std::to_string(paging.max_page_size);
  catalogue::ParameterValues page_values = values;
  bool by_token = values.Get("MaxResults").has_value() || values.Get("NextToken").has_value();
  if (by_token) {
    if (!values.Get("MaxResults")) {
      page_values = WithValue(page_values, "MaxResults", size);
    }
  } else if (!values.Get("PageSize")) {
    page_values = WithValue(page_values, "PageSize", size);
  }
  std::uint64_t page_number = 1;
  if (std::optional<std::string_view> given = values.Get("PageNumber")) {
    page_number = std::strtoull(std::string(*given).c_str(), nullptr, 10);
    if (page_number == 0) page_number = 1;
  }

  const bool json = options_.reply_format == request::ReplyFormat::kJson;
  const std::unique_ptr<PageJoin> join = !json ? MakeXmlPageJoin(paging.list_element)
                                         : json_walk != nullptr
                                             ? MakeJsonWalkJoin(*json_walk)
                                             : MakeJsonPageJoin(paging.list_element);
  keep_alive_ = true;
  struct KeepAliveEnd {
    bool& flag;
    ~KeepAliveEnd() { flag = false; }
  } keep_alive_end{keep_alive_};
  RequestResult merged;
  std::size_t records = 0;
  std::string last_next_token;
  // Streamed: each later page is shown inside the first page's frame, and
  // only its records' rows are handed on; `framing` holds the frame's own
  // rows, which tell a later page's head and tail rows from its records',
  // and `tail` the first page's rows after its list, handed on at the end.
  const bool stream = page_rows && options_.reply_format == request::ReplyFormat::kXml;
  XmlPageFrame frame(paging.list_element);
  bool framed = false;
  std::vector<report::Row> framing;
  std::vector<report::Row> tail;
  const auto hand_on = [&](std::vector<report::Row> rows, const std::vector<report::Row>& against) {
    // The frame's head and tail, as far as this page's rows repeat them.
    std::size_t tail_size = 0;
    while (tail_size < against.size() && tail_size < rows.size() &&
           rows[rows.size() - 1 - tail_size] == against[against.size() - 1 - tail_size]) {
      ++tail_size;
    }
    std::size_t head = 0;
    while (head + tail_size < against.size() && head + tail_size < rows.size() &&
           rows[head] == against[head]) {
      ++head;
    }
    const auto tail_start = rows.end() - static_cast<std::ptrdiff_t>(tail_size);
    if (merged.walk.pages == 1) {
      tail.assign(std::make_move_iterator(tail_start), std::make_move_iterator(rows.end()));
    }
    rows.erase(tail_start, rows.end());
    if (merged.walk.pages > 1)
      rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(head));
    page_rows(std::move(rows));
  };
  const auto finish_stream = [&] {
    if (!stream) return;
    std::vector<report::Row>().swap(framing);
    page_rows(std::move(tail));
  };
  for (int page = 1;; ++page) {
    if (!by_token) {
      page_values = WithValue(page_values, "PageNumber", std::to_string(page_number));
    }
    RequestResult result = Exchange(credentials, action, page_values);
    ++merged.walk.pages;
    merged.attempts += result.attempts;
    if (result.outcome != Outcome::kGoodReply) {
      if (page == 1) {
        Show(action, result);
        return result;
      }
      // What was fetched is shown; then the failing page's own rows.
      merged.detail = "page " + std::to_string(page) + " failed after " + std::to_string(records) +
                      " records" + (result.detail.empty() ? "" : ": " + result.detail);
      if (stream) {
        finish_stream();
      } else {
        merged.reply.body = join->Finish(last_next_token);
        Show(action, merged);
      }
      Show(action, result);
      result.detail = merged.detail;
      result.partial = true;
      result.walk.failed_page = page;
      result.walk.records_before_failure = records;
      result.walk.pages = merged.walk.pages;
      result.attempts = merged.attempts;
      result.reply.body = std::move(merged.reply.body);
      return result;
    }
    PageFacts facts;
    if (!stream) {
      facts = join->Add(std::move(result.reply.body), options_.max_join_bytes);
    } else {
      facts = ReadXmlPageFacts(result.reply.body, paging.list_element);
      if (page == 1) {
        framed = frame.SetFirst(result.reply.body);
        std::vector<report::Row> first_framing;
        if (framed) {
          first_framing = RowsOf(action, result, frame.Emptied(result.reply.body));
          framing = RowsOf(action, result, frame.empty());
        }
        RequestResult shown;
        shown.outcome = result.outcome;
        shown.action_line = result.action_line;
        shown.reply.body = std::move(result.reply.body);
        report::RecordingResultList list;
        Show(action, shown, &list);
        result.formatted = shown.formatted;
        result.leaves_shown = shown.leaves_shown;
        result.result_text = std::move(shown.result_text);
        hand_on(list.TakeProduced(), first_framing);
      } else if (framed && facts.records > 0) {
        hand_on(RowsOf(action, result, frame.Framed(std::move(result.reply.body))), framing);
      }
      result.reply.body.clear();
    }
    if (facts.over_limit) {
      // The document would grow past what the user allowed: what was joined
      // so far is kept, as after a failed page.
      merged.detail = "page " + std::to_string(page) + " would take the joined reply past " +
                      std::to_string(options_.max_join_bytes) + " bytes; the walk stopped after " +
                      std::to_string(records) + " records";
      merged.reply.body = join->Finish(last_next_token);
      Show(action, merged);
      merged.outcome = Outcome::kRefused;
      merged.result_text.clear();
      merged.partial = true;
      merged.walk.failed_page = page;
      merged.walk.records_before_failure = records;
      return merged;
    }
    const std::size_t count = facts.records;
    const std::string& next_token = facts.next_token;
    const std::string& total = facts.total_count;
    const std::string& page_size = facts.page_size;
    last_next_token = next_token;
    if (page == 1) {
      merged = std::move(result);
      merged.walk.pages = 1;
    } else if (count > 0) {
      merged.signed_request = std::move(result.signed_request);
    }
    records += count;

    if (page > 1 && count == 0) break;  // an empty page: nothing follows
    if (by_token || !next_token.empty()) {
      if (next_token.empty()) break;
      if (!by_token) page_values = WithValue(page_values, "PageNumber", std::nullopt);
      page_values = WithValue(page_values, "NextToken", next_token);
      if (!by_token && !values.Get("MaxResults")) {
        page_values = WithValue(page_values, "PageSize", std::nullopt);
        page_values = WithValue(page_values, "MaxResults", size);
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
      merged.walk.page_limit_reached = true;
      break;
    }
  }
  if (stream) {
    finish_stream();
    return merged;
  }
  merged.reply.body = join->Finish(last_next_token);
  Show(action, merged);
  return merged;
}

}  // namespace kestrune::engine
