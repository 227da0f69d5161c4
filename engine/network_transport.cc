// The engine's own transport: HTTP/1.1 over TLS (or plain TCP where the
// override says http). A request that asks for it ("Connection: keep-alive":
// the pages of a walk, the repeats of a request) leaves its connection open
// for the next one to the same host.
#include <memory>
#include <utility>

#include "engine/engine.h"
#include "transport/http.h"

namespace kestrune::engine {

namespace {

class NetworkTransport : public Transport {
 public:
  explicit NetworkTransport(const EngineOptions& options) {
    exchange_.connect_timeout = options.connect_timeout;
    exchange_.idle_timeout = options.idle_timeout;
    exchange_.exchange_timeout = options.exchange_timeout;
    transport::ProxyTexts proxy;
    proxy.http = options.http_proxy;
    proxy.https = options.https_proxy;
    proxy.no_proxy = options.no_proxy;
    core::Result<transport::ProxySettings> settings = transport::ParseProxySettings(proxy);
    if (settings.ok()) {
      exchange_.proxy = std::move(settings.value());
    } else {
      // The message never repeats the URL: it may hold the proxy's password.
      setup_error_ = "invalid proxy: " + settings.status().message();
    }
    exchange_.tls.ca_file = options.ca_file;
    if (!options.endpoint_override.empty()) {
      core::Result<request::EndpointOverride> parsed =
          request::ParseEndpointOverride(options.endpoint_override);
      if (parsed.ok()) {
        override_ = parsed.value();
      } else if (setup_error_.empty()) {
        setup_error_ =
            "invalid endpoint \"" + options.endpoint_override + "\": " + parsed.status().message();
      }
    }
  }

  TransportReply Exchange(const request::ServiceEndpoint& endpoint,
                          std::string_view request_text) override {
    TransportReply result;
    if (!setup_error_.empty()) {
      // A mistyped override or proxy must never fall back to the real
      // service or to a direct connection.
      result.status = core::Status::Connection(setup_error_);
      return result;
    }
    transport::HttpReply reply;
    result.status = connection_.Exchange(endpoint, request_text, override_, exchange_, reply);
    if (!result.status.ok()) result.status = core::Status::Connection(result.status.message());
    result.http_status = reply.status_code;
    result.status_line = std::move(reply.status_line);
    result.raw = std::move(reply.raw);
    result.received = reply.received;
    result.body = std::move(reply.body);
    result.times = reply.times;
    return result;
  }

 private:
  transport::ExchangeOptions exchange_;
  std::optional<request::EndpointOverride> override_;
  std::string setup_error_;
  transport::KeptConnection connection_;
};

}  // namespace

std::unique_ptr<Transport> MakeNetworkTransport(const EngineOptions& options) {
  return std::make_unique<NetworkTransport>(options);
}

}  // namespace kestrune::engine
