#include "sim/command_line.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <sstream>

#include "request/small_file.h"

namespace kestrune::sim {
namespace {

// Ten years either way is far more skew than any client should meet.
constexpr std::int64_t kMaxClockOffsetSeconds = 10LL * 366 * 24 * 60 * 60;

core::Result<std::int64_t> ParseNumber(std::string_view text, std::int64_t low, std::int64_t high,
                                       std::string_view what) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high) {
    return core::Status::Error(std::string(what) + " must be a whole number from " +
                               std::to_string(low) + " to " + std::to_string(high) + ", not \"" +
                               std::string(text) + "\"");
  }
  return value;
}

// Far more id:secret lines than any test gives.
constexpr std::size_t kKeyFileLimit = 1 << 20;

core::Status ReadKeyFile(const std::string& path, std::vector<AccessKey>& keys) {
  // A directory, a FIFO or /dev/zero is refused rather than waited on or
  // read without end.
  core::Result<std::string> text = request::ReadSmallFile(path, kKeyFileLimit);
  if (!text.ok()) return core::Status::Error("access key file: " + text.status().message());
  std::istringstream in(*text);
  std::string line;
  int line_number = 0;
  bool any = false;
  while (std::getline(in, line)) {
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto key = ParseAccessKey(line);
    if (!key.ok()) {
      // Never echo the line: it holds a secret.
      return core::Status::Error("access key file \"" + path + "\", line " +
                                 std::to_string(line_number) + ": expected id:secret");
    }
    keys.push_back(std::move(key).value());
    any = true;
  }
  if (!any) return core::Status::Error("access key file \"" + path + "\" holds no id:secret line");
  return core::Status::Ok();
}

// "N" or "N@REGION".
core::Status ParseSeed(std::string_view text, SeedPlan& plan) {
  const std::size_t at = text.find('@');
  auto count = ParseNumber(text.substr(0, at), 0, SeedPlan::kMaxInstances, "--instances");
  if (!count.ok()) return count.status();
  const std::string_view region =
      at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
  if (at != std::string_view::npos && FindRegion(region) == nullptr) {
    return core::Status::Error("--instances: unknown region \"" + std::string(region) +
                               "\" (a RegionId such as cn-hangzhou)");
  }
  plan.instances = static_cast<int>(*count);
  plan.region = region;
  return core::Status::Ok();
}

}  // namespace

core::Result<AccessKey> ParseAccessKey(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == text.size()) {
    return core::Status::Error("an access key is written ID:SECRET");
  }
  return AccessKey{std::string(text.substr(0, colon)), std::string(text.substr(colon + 1))};
}

core::Status ParseFault(std::string_view text, FaultPlan& plan) {
  const std::size_t eq = text.find('=');
  const std::string_view name = text.substr(0, eq);
  const std::string_view value = eq == std::string_view::npos ? "" : text.substr(eq + 1);
  if (name == "alter") {
    // A parameter name as the client sends it: printable, no separators.
    const bool plain = !value.empty() && value.size() <= 128 &&
                       std::all_of(value.begin(), value.end(), [](char c) {
                         return c > 0x20 && c < 0x7F && c != '&' && c != '=';
                       });
    if (!plain) return core::Status::Error("--fault alter=PARAM needs a parameter name");
    plan.alter = value;
    return core::Status::Ok();
  }
  if (eq != std::string_view::npos && value.empty()) {
    return core::Status::Error("--fault " + std::string(name) + "= needs a number");
  }
  struct FaultLimits {
    std::string_view name;
    int* field;
    std::int64_t fallback, low, high;
  };
  const FaultLimits limits[] = {
      {"nonce-used", &plan.nonce_used, 1, 1, 1000000},
      {"delay", &plan.delay_ms, 1000, 1, 60000},
      {"close", &plan.close, 1, 1, 1000000},
      {"half", &plan.half, 1, 1, 1000000},
      {"502", &plan.bad_gateway, 1, 1, 1000000},
      {"big", &plan.big_mib, 1, 1, 64},
      {"page", &plan.page, 1, 1, 1000000},
      {"503", &plan.unavailable, 1, 1, 1000000},
      {"reset", &plan.reset, 1, 1, 1000000},
      // Without a number, every version 1 request: an action that takes
      // only version 3.
      {"unsupported-v1", &plan.unsupported_v1, std::numeric_limits<int>::max(), 1, 1000000},
  };
  for (const FaultLimits& fault : limits) {
    if (fault.name != name) continue;
    if (value.empty()) {
      *fault.field = static_cast<int>(fault.fallback);
      return core::Status::Ok();
    }
    auto number = ParseNumber(value, fault.low, fault.high, "--fault " + std::string(name));
    if (!number.ok()) return number.status();
    *fault.field = static_cast<int>(*number);
    return core::Status::Ok();
  }
  return core::Status::Error(
      "unknown fault \"" + std::string(name) +
      "\" (nonce-used, delay, close, half, 502, big, page, 503, reset, unsupported-v1, "
      "alter)");
}

core::Result<CommandLine> ParseCommandLine(const std::vector<std::string_view>& args) {
  CommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::string_view inline_value;
    bool has_inline = false;
    if (arg.starts_with("--")) {
      const std::size_t eq = arg.find('=');
      if (eq != std::string_view::npos && arg != "--fault") {
        inline_value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        has_inline = true;
      }
    }
    auto value = [&](std::string_view option) -> core::Result<std::string> {
      if (has_inline) return std::string(inline_value);
      if (i + 1 >= args.size()) return core::Status::Error(std::string(option) + " needs a value");
      return std::string(args[++i]);
    };
    if (arg == "-h" || arg == "--help") {
      line.help = true;
    } else if (arg == "-q" || arg == "--quiet") {
      line.quiet = true;
    } else if (arg == "--port") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto port = ParseNumber(*v, 0, 65535, "--port");
      if (!port.ok()) return port.status();
      line.server.port = static_cast<std::uint16_t>(*port);
    } else if (arg == "--host") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      line.server.address = *v == "localhost" ? std::string("127.0.0.1") : *v;
    } else if (arg == "--access-key") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto key = ParseAccessKey(*v);
      if (!key.ok()) return key.status();
      line.server.gateway.keys.push_back(std::move(key).value());
    } else if (arg == "--instance-role") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      if (v->empty() || v->size() > 64 ||
          v->find_first_not_of(
              "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.") !=
              std::string::npos) {
        return core::Status::Error("a RAM role name is 1 to 64 letters, digits, '-', '_' or '.'");
      }
      line.server.gateway.instance_role = *v;
    } else if (arg == "--issued-keys") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      line.server.gateway.issued_keys_file = *v;
    } else if (arg == "--sts-key") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      const std::size_t last = v->rfind(':');
      auto key = ParseAccessKey(std::string_view(*v).substr(0, last));
      if (!key.ok() || last == std::string::npos || last + 1 == v->size() || v->find(':') == last) {
        return core::Status::Error("a temporary key is written ID:SECRET:TOKEN");
      }
      key.value().security_token = v->substr(last + 1);
      line.server.gateway.keys.push_back(std::move(key).value());
    } else if (arg == "--access-key-file") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      core::Status status = ReadKeyFile(*v, line.server.gateway.keys);
      if (!status.ok()) return status;
    } else if (arg == "--service") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      const auto service = ServiceByName(*v);
      if (!service) {
        return core::Status::Error("unknown service \"" + *v + "\" (ecs, iot, apigateway)");
      }
      line.server.gateway.default_service = *service;
    } else if (arg == "--fault") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      core::Status status = ParseFault(*v, line.server.gateway.faults);
      if (!status.ok()) return status;
    } else if (arg == "--instances") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      core::Status status = ParseSeed(*v, line.server.gateway.seed);
      if (!status.ok()) return status;
    } else if (arg == "--read-timeout") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto ms = ParseNumber(*v, 10, 600000, "--read-timeout");
      if (!ms.ok()) return ms.status();
      line.server.read_timeout_ms = static_cast<int>(*ms);
    } else if (arg == "--nonce-window") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto seconds = ParseNumber(*v, 0, 86400, "--nonce-window");
      if (!seconds.ok()) return seconds.status();
      line.server.gateway.nonce_window_ms = *seconds * 1000;
    } else if (arg == "--tls") {
      // Two values, so no "=" form.
      if (has_inline || i + 2 >= args.size()) {
        return core::Status::Error("--tls needs two values: --tls CERT KEY");
      }
      line.server.tls_certificate_file = std::string(args[++i]);
      line.server.tls_key_file = std::string(args[++i]);
      if (line.server.tls_certificate_file.empty() || line.server.tls_key_file.empty()) {
        return core::Status::Error("--tls needs two file names: --tls CERT KEY");
      }
    } else if (arg == "--tls-self-signed") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      if (v->empty()) return core::Status::Error("--tls-self-signed needs a directory");
      line.tls_self_signed_dir = *v;
    } else if (arg == "--clock-offset") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto seconds =
          ParseNumber(*v, -kMaxClockOffsetSeconds, kMaxClockOffsetSeconds, "--clock-offset");
      if (!seconds.ok()) return seconds.status();
      line.clock_offset_ms = *seconds * 1000;
    } else if (arg == "--latency") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto ms = ParseNumber(*v, 0, 60000, "--latency");
      if (!ms.ok()) return ms.status();
      line.server.latency_ms = static_cast<int>(*ms);
    } else if (arg == "--throttle") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto rate = ParseNumber(*v, 1, 1000000, "--throttle");
      if (!rate.ok()) return rate.status();
      line.server.gateway.throttle_rate = static_cast<int>(*rate);
    } else if (arg == "--transition") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto ms = ParseNumber(*v, 0, 600000, "--transition");
      if (!ms.ok()) return ms.status();
      line.server.gateway.transition_ms = *ms;
    } else if (arg == "--log-nonces") {
      line.server.log_nonces = true;
    } else if (arg == "--latency-region") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      const std::size_t eq = v->find('=');
      if (eq == std::string_view::npos || eq == 0) {
        return core::Status::Error("--latency-region needs REGION=MS");
      }
      auto ms = ParseNumber(v->substr(eq + 1), 0, 60000, "--latency-region");
      if (!ms.ok()) return ms.status();
      line.server.gateway.region_latency_ms[std::string(v->substr(0, eq))] = static_cast<int>(*ms);
    } else if (arg == "--idle-timeout") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto ms = ParseNumber(*v, 10, 600000, "--idle-timeout");
      if (!ms.ok()) return ms.status();
      line.server.idle_timeout_ms = static_cast<int>(*ms);
    } else if (arg == "--max-connections") {
      auto v = value(arg);
      if (!v.ok()) return v.status();
      auto count = ParseNumber(*v, 1, 100000, "--max-connections");
      if (!count.ok()) return count.status();
      line.server.max_connections = static_cast<std::size_t>(*count);
    } else if (!arg.starts_with("-")) {
      // Not repeated: a stray word is often an ID:SECRET whose option went missing.
      return core::Status::Error("unexpected argument " + std::to_string(i + 1) +
                                 " (options start with --; see --help)");
    } else {
      // Named up to any "=": what follows may be a secret meant for another option.
      return core::Status::Error("unknown option \"" + std::string(arg.substr(0, arg.find('='))) +
                                 "\" (see --help)");
    }
  }
  if (!line.tls_self_signed_dir.empty() && !line.server.tls_certificate_file.empty()) {
    return core::Status::Error("--tls and --tls-self-signed exclude each other");
  }
  return line;
}

std::string HelpText() {
  std::ostringstream out;
  out << "Usage: kestrune-sim [options]\n"
         "\n"
         "A local stand-in for the ECS (2014-05-26), IoT (2016-05-30) and API Gateway\n"
         "(2016-07-14) RPC endpoints: checks signature version 1.0 requests as the\n"
         "service does and answers with realistic XML (or JSON with Format=JSON).\n"
         "The first line of output is \"listening on 127.0.0.1:PORT\". SIGINT or SIGTERM\n"
         "stops it. The log goes to stderr (never a secret): a line per connection\n"
         "(\"connection #N from ADDRESS:PORT\"), per failed TLS handshake\n"
         "(\"connection #N tls handshake failed: REASON\") and per request.\n"
         "HTTP/1.1 connections stay open until \"Connection: close\" or idle.\n"
         "\n"
         "Options:\n"
         "  --port N               port to listen on (default 0: a free port)\n"
         "  --host ADDRESS         loopback address to listen on (default 127.0.0.1)\n"
         "  --access-key ID:SECRET accept this AccessKey (repeatable)\n"
         "  --access-key-file PATH read id:secret lines from PATH\n"
         "  --instance-role NAME   the RAM role the metadata service (/latest/...) hands\n"
         "                         a temporary key of (default kestrune-sim-role)\n"
         "  --issued-keys PATH     append each temporary key the simulator issues to PATH\n"
         "                         (\"ID SECRET TOKEN\" lines), for tests that audit them\n"
         "  --sts-key ID:SECRET:TOKEN accept this temporary key with its\n"
         "                         SecurityToken only (repeatable)\n"
         "                         With no key given, the demo pair is accepted:\n"
         "                         id \"kestrune-demo-id\", secret \"kestrune-demo-secret\".\n"
         "  --service NAME         ecs, iot or apigateway: the service for requests whose\n"
         "                         Host names none (default ecs)\n"
         "  --tls CERT KEY         serve HTTPS (TLS 1.2 or later) with the PEM\n"
         "                         certificate chain CERT and its private key KEY\n"
         "  --tls-self-signed DIR  make DIR (if missing) and write in it a fresh CA\n"
         "                         (ca.pem), a certificate for localhost, 127.0.0.1 and\n"
         "                         ::1 signed by it (server.pem, key server-key.pem,\n"
         "                         mode 0600) and an unrelated CA (other-ca.pem) that\n"
         "                         a client must refuse; serve HTTPS with them. The\n"
         "                         second line of output is the full path of ca.pem.\n"
         "  --clock-offset SECONDS run the server's clock this far ahead (behind when\n"
         "                         negative): time stamps are judged by it and the\n"
         "                         Date header tells it\n"
         "  --latency MS           hold every reply MS milliseconds (0 to 60000); other\n"
         "                         connections are served meanwhile\n"
         "  --latency-region REGION=MS  hold replies to requests for REGION MS\n"
         "                         milliseconds more (repeatable)\n"
         "  --throttle RATE        past RATE requests in any one second from one\n"
         "                         AccessKey, answer 400 Throttling.User with the header\n"
         "                         x-ratelimit-user-api: Limit:RATE,Remain:0,\n"
         "                         TimeLeft:MS,Reset:EPOCH-MS (1 to 1000000)\n"
         "  --transition MS        StartInstance, StopInstance and RebootInstance leave\n"
         "                         the instance Starting or Stopping for MS\n"
         "                         milliseconds (0 to 600000; default 0: at once)\n"
         "  --log-nonces           each request's log line ends with nonce=N token=T\n"
         "                         (its SignatureNonce and ClientToken, - for none)\n"
         "  --nonce-window SECONDS how long a SignatureNonce stays used (default 900;\n"
         "                         0 turns the replay check off)\n"
         "  --read-timeout MS      time a client has to send its request head, and its\n"
         "                         TLS handshake (default 10000; then 408 and close)\n"
         "  --idle-timeout MS      an open connection between requests closes after\n"
         "                         this long (default 5000)\n"
         "  --max-connections N    open connections served at once (default 4096)\n"
         "  --instances N[@REGION] start with N instances (0 to 100000) instead of three\n"
         "                         in every region: dealt round-robin over the regions\n"
         "                         (or all in REGION) and over each region's zones, in\n"
         "                         creation order instance-000001, instance-000002...;\n"
         "                         the same ids every run; lists keep that order\n"
         "  --fault NAME[=N]       play a fault (repeatable):\n"
         "      nonce-used[=N]     answer SignatureNonceUsed to the first N good\n"
         "                         requests (default 1, at most 1000000)\n"
         "      delay[=MS]         hold every reply MS milliseconds (default 1000,\n"
         "                         at most 60000)\n"
         "      close[=N]          close the first N connections without a reply\n"
         "                         (default 1, at most 1000000)\n"
         "      half[=N]           send half of the first N replies, then reset the\n"
         "                         connection (default 1, at most 1000000)\n"
         "      502[=N]            answer the first N requests with 502 and an HTML page\n"
         "                         (default 1, at most 1000000)\n"
         "      big[=N]            pad every good reply to N MiB (default 1, at most 64)\n"
         "      page[=N]           answer the Nth request for a later page (PageNumber\n"
         "                         above 1, or a NextToken) with 500 InternalError\n"
         "                         (default 1, at most 1000000)\n"
         "      503[=N]            answer the first N requests 503 ServiceUnavailable\n"
         "                         with x-acs-retry-after: 300 (default 1)\n"
         "      reset[=N]          carry out the first N requests that succeed, then\n"
         "                         reset the connection instead of replying (default 1)\n"
         "      unsupported-v1[=N] answer UnsupportedSignatureVersion to the first N\n"
         "                         requests signed in version 1 (default: every one)\n"
         "      alter=PARAM        check every signature over a string to sign in\n"
         "                         which PARAM's value has \"-altered\" appended, as if\n"
         "                         a proxy had changed it (no effect without PARAM)\n"
         "  -q, --quiet            no log\n"
         "  -h, --help             this text\n"
         "\n"
         "Hosts: ecs.aliyuncs.com, iot.aliyuncs.com, apigateway.cn-qingdao.aliyuncs.com\n"
         "and each one's regional hosts (ecs.<region>.aliyuncs.com, VPC\n"
         "ecs-vpc.<region>.aliyuncs.com, likewise iot and apigateway). The token service\n"
         "(sts.aliyuncs.com, sts[-vpc].<region>.aliyuncs.com) answers AssumeRole (signed\n"
         "with an accepted key) and AssumeRoleWithOIDC (unsigned), issuing temporary keys\n"
         "accepted with their SecurityToken until they expire. Query values are "
         "percent-decoded (\"+\" reads\n"
         "as a space) and re-encoded by the service's rules to form the string to sign.\n";
  return out.str();
}

}  // namespace kestrune::sim
