// The engine's own transport: HTTP/1.1 over TLS (or plain TCP where the
// override says http). A request that asks for it (keep_alive: the pages of
// a walk) leaves its connection open for the next one to the
// same host; a retry drops it first.
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "engine/engine.h"
#include "transport/http.h"

namespace kestrune::engine {

namespace {

// The exchange tells its progress in pieces that end a line only now and
// then ("Looking up hostname H... ", then "found.\r\nCreating socket... ");
// the trace takes whole lines.
class ProgressLines {
 public:
  explicit ProgressLines(report::TraceSink& trace) : trace_(trace) {}
  ~ProgressLines() {
    if (!pending_.empty()) trace_.Line(pending_);
  }
  ProgressLines(const ProgressLines&) = delete;
  ProgressLines& operator=(const ProgressLines&) = delete;

  void Add(std::string_view piece) {
    pending_.append(piece);
    std::size_t start = 0;
    for (std::size_t end = pending_.find("\r\n"); end != std::string::npos;
         end = pending_.find("\r\n", start)) {
      // The empty line before a reply's data says nothing in a trace.
      if (end > start) trace_.Line(std::string_view(pending_).substr(start, end - start));
      start = end + 2;
    }
    pending_.erase(0, start);
  }

 private:
  report::TraceSink& trace_;
  std::string pending_;
};

class NetworkTransport : public Transport {
 public:
  NetworkTransport(const EngineOptions& options, report::TraceSink& trace) : trace_(trace) {
    exchange_.connect_timeout = options.connect_timeout;
    exchange_.idle_timeout = options.idle_timeout;
    exchange_.exchange_timeout = options.exchange_timeout;
    exchange_.tls.ca_file = options.ca_file;
    core::Result<Route> route = options.route ? *options.route : ResolveRoute(options);
    if (route.ok()) {
      exchange_.proxy = std::move(route.value().proxy);
      override_ = std::move(route.value().endpoint);
    } else {
      setup_error_ = route.status().message();
    }
  }

  TransportReply Exchange(const request::ServiceEndpoint& endpoint,
                          const request::HttpRequest& request) override {
    TransportReply result;
    if (!setup_error_.empty()) {
      // A mistyped override or proxy must never fall back to the real
      // service or to a direct connection.
      result.status = core::Status::Connection(setup_error_);
      result.failure = transport::FailureStage::kFinal;
      return result;
    }
    transport::HttpReply reply;
    {
      ProgressLines progress(trace_);
      result.status = connection_.Exchange(endpoint, request, override_, exchange_, reply,
                                           [&](std::string_view piece) { progress.Add(piece); });
    }
    if (!result.status.ok()) result.status = core::Status::Connection(result.status.message());
    result.failure = reply.failure;
    result.head = std::move(reply.head);
    result.raw = std::move(reply.raw);
    result.received = reply.received;
    result.body = std::move(reply.body);
    result.times = reply.times;
    return result;
  }

  void DropConnection() override { connection_.Close(); }

 private:
  report::TraceSink& trace_;
  transport::ExchangeOptions exchange_;
  std::optional<request::EndpointOverride> override_;
  std::string setup_error_;
  transport::KeptConnection connection_;
};

}  // namespace

core::Result<Route> ResolveRoute(const EngineOptions& options) {
  transport::ProxyTexts proxy;
  proxy.http = options.http_proxy;
  proxy.https = options.https_proxy;
  proxy.no_proxy = options.no_proxy;
  core::Result<transport::ProxySettings> proxies = transport::ParseProxySettings(proxy);
  if (!proxies.ok()) return core::Status::Error("invalid proxy: " + proxies.status().message());
  Route route;
  route.proxy = std::move(proxies.value());
  if (!options.endpoint_override.empty()) {
    core::Result<request::EndpointOverride> parsed =
        request::ParseEndpointOverride(options.endpoint_override);
    if (!parsed.ok()) {
      return core::Status::Error("invalid endpoint \"" + options.endpoint_override +
                                 "\": " + parsed.status().message());
    }
    route.endpoint = std::move(parsed.value());
  }
  return route;
}

std::unique_ptr<Transport> MakeNetworkTransport(const EngineOptions& options,
                                                report::TraceSink& trace) {
  return std::make_unique<NetworkTransport>(options, trace);
}

}  // namespace kestrune::engine
