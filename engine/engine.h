// The request engine every front end calls: one user request, from a
// resolved action and the user's values to rows in a ResultList.
//
// Send binds the action (with its template, where it has one) to the values,
// signs the request with a fresh nonce and timestamp, exchanges it with the
// service (or with the endpoint override, e.g. the local simulator), and
// reads the reply:
//   - a failure the retry rule (engine/retry.h) allows to mend: the request
//     is built, signed (fresh nonce and timestamp) and sent again over a new
//     connection after a backoff, at most max_attempts times in all and
//     within overall_timeout; an action that takes a ClientToken gets one
//     (unless the user gave one) that stays the same on every attempt;
//   - any other error reply: its RequestId, HostId, Code and Message rows,
//     ResultText empty;
//   - a good reply: the action's formatter shows its fields, ResultText is the
//     action line ("Action=<name>"); an action without a formatter shows
//     every leaf element of the reply, ResultText empty;
//   - a non-2xx reply without an error document (a proxy's page): nothing is
//     formatted, ResultText is the status line;
//   - no connection, or a time-out: no ResultText (each face words the
//     outcome and its detail in its own terms).
// A choice that cannot be sent (no template and no action name) sends nothing
// and gives kNotSupportedText. Input beyond the request's limits is refused
// with a clear message and sends nothing. The secret never appears in any
// output, nor does the security token of temporary credentials: a reply that
// quotes it has it hidden (request::HideSecurityToken) before anything reads
// the reply.
//
// The engine joins the catalogue (what is sent), request (signing and the
// exchange) and report (rows and trace lines); it sits above all three so that
// none of them needs another.
//
// One Engine runs one request at a time on the caller's thread (the dialog
// keeps its single-threaded design); it blocks for at most the time-outs.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/dispatch.h"
#include "catalogue/endpoints.h"
#include "catalogue/paging.h"
#include "core/status.h"
#include "engine/json_walk.h"
#include "report/result_list.h"
#include "report/trace_sink.h"
#include "request/clock.h"
#include "request/credential_provider.h"
#include "request/credentials.h"
#include "request/endpoint.h"
#include "request/http_message.h"
#include "request/signer.h"
#include "request/signer_v3.h"
#include "transport/http.h"
#include "transport/proxy.h"

namespace kestrune::engine {

inline constexpr std::string_view kNotSupportedText = "this function not support";

// Where an exchange connects and through what: the endpoint override and the
// proxies of EngineOptions, parsed.
struct Route {
  std::optional<request::EndpointOverride> endpoint;
  transport::ProxySettings proxy;
};

struct EngineOptions {
  // "[https://|http://]HOST[:PORT]" (request::ParseEndpointOverride) to
  // connect to instead of the request's host over TLS on port 443; without a
  // scheme, plain HTTP. The Host header stays the request's. Empty: no
  // override. The faces take it from the user; the engine never reads the
  // environment. A malformed one fails every exchange, never falling back to
  // the service.
  std::string endpoint_override;
  // The region whose host a request goes to when it gives no RegionId of its
  // own (the faces' --region, or the environment's or profile's region);
  // empty: none, the service's central host (engine/destination.h).
  std::string region;
  // The network whose hosts are chosen: public, or the cloud's VPC.
  catalogue::EndpointType endpoint_type = catalogue::EndpointType::kPublic;
  // A host name the user gave as the endpoint itself: the Host header (and,
  // where no override says otherwise, the host connected to) instead of the
  // region's host. Empty: the region's host.
  std::string host;
  // A PEM file whose certificates alone are trusted for TLS; empty: the
  // system's store. One that cannot be read fails every TLS exchange before
  // anything is sent.
  std::string ca_file;
  // The proxy URLs for plain HTTP and for TLS targets, and the hosts that
  // bypass them (transport/proxy.h: ChooseProxyTexts, ParseProxyUrl,
  // NoProxyMatches); empty: a direct connection. The faces take them from the
  // user; a malformed one fails every exchange, never falling back to a
  // direct connection.
  std::string http_proxy;
  std::string https_proxy;
  std::string no_proxy;
  // The override and the proxies above as the face already parsed them, so
  // that they are read once; unset: the engine parses them (ResolveRoute).
  std::optional<Route> route;
  // Parameter names the action's list does not hold are sent as typed
  // (--force) instead of refused; the other checks still apply.
  bool accept_unknown_parameters = false;
  std::chrono::milliseconds connect_timeout{10000};    // the resolution and the connection
  std::chrono::milliseconds idle_timeout{30000};       // longest wait for the next reply bytes
  std::chrono::milliseconds exchange_timeout{120000};  // one whole exchange, however slow
  // Attempts of one request in all: the first and the retries (1: none).
  int max_attempts = 4;
  // Every attempt of one request and the waits between them; a retry that
  // could not start within it is not made.
  std::chrono::milliseconds overall_timeout{120000};
  // How far the service's clock was found ahead of the local one by an
  // earlier engine of the same face: its requests are stamped with it from
  // the start (an engine measures and keeps it itself after a refused time
  // stamp; clock_offset() tells).
  std::chrono::seconds clock_offset{0};
  // A good XML reply shows every value it holds, each named by its path below
  // its record (report/all_fields.h), instead of the formatter's rows or the
  // bare leaves; ResultText is then the action line.
  bool all_fields = false;
  // GET, POST, or (kAuto) GET unless the request is too long for one.
  request::HttpMethod method = request::HttpMethod::kAuto;
  // The service's XML, which the formatters turn into rows, or its JSON,
  // which is handed back as the body alone: no rows are shown, an error reply
  // is told by its status and its "Code", and SendAllPages joins the pages'
  // record arrays (see there).
  request::ReplyFormat reply_format = request::ReplyFormat::kXml;
  // How requests are signed. A version 1 request the service refuses as
  // UnsupportedSignatureVersion is signed again in version 3, once, with a
  // note saying so.
  request::SignatureVersion signature_version = request::SignatureVersion::kV1;
  // The most bytes the pages of one SendAllPages walk may join into; the
  // page that would pass it ends the walk (see there).
  std::size_t max_join_bytes = std::size_t{1} << 30;
  // Temporary credentials that renew themselves: when set, every attempt of
  // every request (each page of a walk, each call of a wait, each engine of
  // a fan-out sharing these options) signs with what it hands out at that
  // moment instead of the credentials passed in, so that a run longer than
  // their life renews them in the middle. A renewal that fails ends the
  // request as kConnectionFailed with the source's message; nothing is sent.
  std::shared_ptr<request::RenewingCredentials> renewing = nullptr;
};

// The most pages SendAllPages fetches in one walk.
inline constexpr int kMaxPages = 1000;

// What one exchange with a server gave. A failed exchange (no connection,
// time-out, a reply cut off or over its size limit) has a Connection status
// with a reason a user can read.
struct TransportReply {
  core::Status status;
  // The reply's head as read: its status (0 when no HTTP status line came),
  // its status line and its fields.
  request::HttpHead head;
  std::string raw;   // status line and headers as received (all of it when unparsed)
  std::string body;  // the body with any transfer coding removed
  transport::PhaseTimes times;
  std::size_t received = 0;  // every byte received, headers included
  // How far a failed exchange got (transport::FailureStage); kNone when
  // `status` is good. A failure of the transport's own set-up is kFinal.
  transport::FailureStage failure = transport::FailureStage::kNone;
};

// Carries one signed request to the service and back. The engine's own
// transport speaks HTTP over TCP; tests substitute a fake.
class Transport {
 public:
  virtual ~Transport() = default;
  virtual TransportReply Exchange(const request::ServiceEndpoint& endpoint,
                                  const request::HttpRequest& request) = 0;
  // Gives up any connection kept from an earlier exchange, so that the next
  // one (a retry) goes over a new connection.
  virtual void DropConnection() {}
};

// One exchange as it went, for a face that shows it (the command line's
// --debug): the request as built and sent, and the reply as received.
struct ExchangeRecord {
  int attempt = 1;  // 1, then each retry of the same request
  const request::SignedRequest& request;
  const TransportReply& reply;
  // The request carries it (in its query, form, header or string to sign),
  // so a face that shows the request must hide it
  // (request::HideSecurityToken); the reply has it hidden already.
  std::string_view security_token = {};
};

// A retry about to be made, after `wait`.
struct RetryRecord {
  int next_attempt = 2;
  int max_attempts = 1;
  std::chrono::milliseconds wait{0};
  std::string reason;  // what the last attempt came to, e.g. "Throttling.User"
};

// Told of every exchange as soon as it ends, and of every retry before its
// wait; must not call back into the engine.
class ExchangeObserver {
 public:
  virtual ~ExchangeObserver() = default;
  virtual void OnExchange(const ExchangeRecord& record) = 0;
  virtual void OnRetry(const RetryRecord& /*record*/) {}
};

enum class Outcome {
  kGoodReply,         // formatted, or every leaf shown
  kErrorReply,        // the service's error document; its rows are shown
  kHttpError,         // a non-2xx status without an error document
  kConnectionFailed,  // resolution, connection, send, receive or time-out
  kNotSupported,      // nothing to send for this choice
  kRefused,           // the input breaks a limit; nothing was sent
};

// The last reply as it came.
struct ReplyRecord {
  request::HttpHead head;  // its status (0 when none came) and fields
  std::string raw;         // status line and headers as received (all of it when unparsed)
  std::string body;        // the body, transfer coding removed
  std::string error_body;  // kErrorReply: the error document (`body` may hold pages before it)
};

// How a walk over pages (SendAllPages) went.
struct WalkRecord {
  int pages = 0;                    // pages fetched
  bool page_limit_reached = false;  // stopped at kMaxPages
  // A walk that failed after its first page: the page that failed and the
  // records fetched before it (0 and 0 otherwise).
  int failed_page = 0;
  std::size_t records_before_failure = 0;
};

struct RequestResult {
  Outcome outcome = Outcome::kNotSupported;
  std::string result_text;     // what the report field shows
  std::string detail;          // a reason a user can read (refusals, failures); never the secret
  int attempts = 0;            // requests sent
  bool formatted = false;      // a formatter showed the reply's fields
  bool leaves_shown = false;   // no formatter: every leaf element was shown
  std::string action_line;     // "Action=<name>" of the request built
  std::string signed_request;  // the last request built
  // What the last request was signed over (never the key), for a diagnosis
  // of a refused signature.
  std::string string_to_sign;
  ReplyRecord reply;
  WalkRecord walk;
  // Set when the request failed but what arrived is shown all the same (rows,
  // and the reply's body holds it): a reply cut off before its root element
  // closed, or a walk over pages that failed after the first.
  bool partial = false;
  // Explanations of an error reply (a refused signature or time stamp) and
  // of what was done about it, for the faces to show after the error.
  std::vector<std::string> notes;
};

class Engine {
 public:
  // Sends over the network (TCP, with the options' override and time-outs).
  Engine(const request::Clock& clock, report::ResultList& results, report::TraceSink& trace,
         EngineOptions options = {});
  // Sends through `transport`, which must outlive the engine.
  Engine(const request::Clock& clock, report::ResultList& results, report::TraceSink& trace,
         Transport& transport, EngineOptions options = {});
  ~Engine();

  // Binds and signs without sending (a dry run), with the ClientToken a
  // send would carry. Not sendable: a NotSupported status with
  // kNotSupportedText; input beyond the limits: InvalidInput.
  core::Result<request::SignedRequest> Prepare(const request::Credentials& credentials,
                                               const catalogue::ResolvedAction& action,
                                               const catalogue::ParameterValues& values) const;

  // One whole request as described above. `action` nullopt: not sendable.
  RequestResult Send(const request::Credentials& credentials,
                     const std::optional<catalogue::ResolvedAction>& action,
                     const catalogue::ParameterValues& values);

  // Every page of a paged action as one result: each page a freshly signed
  // request, with the largest page size the action takes unless `values`
  // give PageSize (or MaxResults). Follows PageNumber and TotalCount, or
  // NextToken where the request or the reply uses one; stops at the last
  // page, at an empty page or after kMaxPages (page_limit_reached, with a
  // detail that says where to go on). The head rows are shown once, then
  // every record of every page in order (the pages' records are joined into
  // the first page's list, which `body` then holds). A page that fails ends
  // the walk: what was fetched is shown, then that page's own rows, and the
  // result is the failing page's, with a detail naming it.
  // With JSON replies `body` is the first page's document with every later
  // page's records appended to its record array, read as one page that holds
  // the whole list: PageSize and MaxResults (where the reply has them) become
  // the number of records, PageNumber and TotalCount stay as the service gave
  // them, and NextToken is the last page's (empty once the list is complete,
  // the token to go on with after kMaxPages).
  // A page whose records would take the joined reply past max_join_bytes
  // ends the walk as a failed page does (kRefused, partial, nothing of that
  // page kept).
  // With `page_rows` (XML replies only) nothing is joined: each page's rows
  // are handed to it as soon as the page has come and been shown (the head
  // rows with the first page only, the rows after the list once, at the
  // end), and `body` stays empty; the results list then gets only a failing
  // page's own rows. So a walk holds about one page at a time.
  // With `json_walk` (JSON replies only) the pages go to it instead of being
  // joined into `body`, which stays empty unless the first page was no JSON
  // object; the caller writes the document (JsonWalk::Write).
  RequestResult SendAllPages(const request::Credentials& credentials,
                             const catalogue::ResolvedAction& action,
                             const catalogue::ParameterValues& values,
                             const catalogue::PagingInfo& paging,
                             const std::function<void(std::vector<report::Row>)>& page_rows = {},
                             JsonWalk* json_walk = nullptr);

  const EngineOptions& options() const { return options_; }

  // How far the service's clock is ahead of the local one, as measured after
  // the service refused a time stamp; every later request of this engine is
  // stamped with it.
  std::chrono::seconds clock_offset() const { return clock_offset_; }
  // Every later exchange is reported to `observer` (nullptr: to nobody); it
  // must outlive its use.
  void set_exchange_observer(ExchangeObserver* observer) { observer_ = observer; }
  // How the engine waits between attempts (by default it sleeps); tests
  // record the waits instead.
  void set_wait(std::function<void(std::chrono::milliseconds)> wait) { wait_ = std::move(wait); }

 private:
  // Binds, signs and exchanges, with the retries the rule allows; shows nothing.
  RequestResult Exchange(const request::Credentials& credentials,
                         const std::optional<catalogue::ResolvedAction>& action,
                         const catalogue::ParameterValues& values);
  // After a refused time stamp: measures the clock's offset from the reply's
  // Date (against `stamped_by`, the clock the request was stamped with) and
  // keeps it; false when the reply is no such refusal or has no Date.
  bool CorrectClock(const request::Clock& stamped_by, RequestResult& result);
  // Notes on a refused signature: what differs from the service's string.
  void Diagnose(RequestResult& result) const;
  // The rows of a result: the error rows, the formatter's, or every leaf.
  // `list`: another list than the engine's own.
  void Show(const catalogue::ResolvedAction& action, RequestResult& result,
            report::ResultList* list = nullptr);
  // Turns a good XML reply whose document never ends into a failure whose
  // rows are still shown.
  static void MarkCutOff(RequestResult& result);
  // The rows `body` gives, shown on a list of their own.
  std::vector<report::Row> RowsOf(const catalogue::ResolvedAction& action,
                                  const RequestResult& like, std::string body);

  const request::Clock& clock_;
  report::ResultList& results_;
  report::TraceSink& trace_;
  EngineOptions options_;
  std::unique_ptr<Transport> own_transport_;
  Transport* transport_;
  std::chrono::seconds clock_offset_{0};
  ExchangeObserver* observer_ = nullptr;
  std::function<void(std::chrono::milliseconds)> wait_;
  // The jitter of the waits between attempts.
  std::mt19937_64 random_{std::random_device{}()};
  std::uniform_real_distribution<double> unit_{0.0, 1.0};
  // Set while more requests to the same host are likely to follow (the
  // pages of a walk): each request asks for the connection to stay open.
  bool keep_alive_ = false;
};

// The engine's own transport: HTTP/1.1 over TLS to the endpoint's host on port
// 443, or to the options' override, with the options' trust and time-outs.
// Each step of an exchange ("Looking up hostname H... found.", "Attempting
// to connect to H:P... connected.", a reused connection, a failure) goes to
// `trace` as a line of its own; `trace` must outlive the transport.
// The endpoint override and the proxies of `options`, parsed. The message
// of a malformed one says which it is and never repeats a proxy's URL: it may
// hold the proxy's password.
core::Result<Route> ResolveRoute(const EngineOptions& options);

std::unique_ptr<Transport> MakeNetworkTransport(const EngineOptions& options,
                                                report::TraceSink& trace);

}  // namespace kestrune::engine
