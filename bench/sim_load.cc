// Load generator for kestrune-sim: signed DescribeRegions requests, one fresh
// TCP connection per request (as the client makes them), at 1, 8 and 64
// concurrent connections. Prints verified requests per second and the p50 and
// p99 latency of each level.
//
//   sim_load [--port N] [--seconds S]
// Without --port it starts the simulator in this process on a free loopback
// port. A request counts as verified when the reply is "200 OK" with a
// DescribeRegionsResponse — i.e. the signature check passed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/clock.h"
#include "sim/server.h"
#include "tests/sim/reference_signer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct WorkerResult {
  std::vector<double> latencies_us;
  long verified = 0;
  long failed = 0;
};

bool OneRequest(std::uint16_t port, const std::string& request, std::string& reply) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(request.size());
  reply.clear();
  char buffer[16384];
  while (ok) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      reply.append(buffer, static_cast<std::size_t>(n));
    } else {
      ok = n == 0;
      break;
    }
  }
  // The server closed first; an abortive close here keeps thousands of
  // finished connections from lingering in TIME_WAIT during the run.
  const linger hard{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd);
  return ok;
}

void Worker(int id, std::uint16_t port, Clock::time_point end, WorkerResult& result) {
  kestrune::sim::SystemClock wall;
  std::string reply;
  long counter = 0;
  while (Clock::now() < end) {
    const auto start = Clock::now();
    const std::string nonce = "load-" + std::to_string(id) + "-" + std::to_string(++counter) + "-" +
                              std::to_string(wall.NowMillis());
    auto params = kestrune::sim::testing::CommonParams(
        "kestrune-demo-id", "DescribeRegions", "2014-05-26",
        kestrune::sim::FormatTimestamp(wall.NowMillis()), nonce);
    const std::string request =
        "GET /?" + kestrune::sim::testing::SignedQuery(params, "kestrune-demo-secret") +
        " HTTP/1.1\r\nHost: ecs.aliyuncs.com\r\nConnection: close\r\n\r\n";
    const bool done = OneRequest(port, request, reply);
    const auto stop = Clock::now();
    if (done && reply.starts_with("HTTP/1.1 200 OK") &&
        reply.find("<DescribeRegionsResponse>") != std::string::npos) {
      ++result.verified;
      result.latencies_us.push_back(
          std::chrono::duration<double, std::micro>(stop - start).count());
    } else {
      ++result.failed;
    }
  }
}

double Percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1));
  return sorted[index];
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  double seconds = 2.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view arg = argv[i];
    if (arg == "--port") port = std::atoi(argv[i + 1]);
    if (arg == "--seconds") seconds = std::atof(argv[i + 1]);
  }
  if (seconds <= 0 || seconds > 60) seconds = 2.0;

  kestrune::sim::SystemClock clock;
  std::unique_ptr<kestrune::sim::Server> server;
  if (port == 0) {
    server = std::make_unique<kestrune::sim::Server>(kestrune::sim::ServerOptions{}, clock);
    const auto status = server->Start();
    if (!status.ok()) {
      std::fprintf(stderr, "sim_load: %s\n", status.message().c_str());
      return 1;
    }
    port = server->port();
  }

  std::printf(
      "kestrune-sim load: signed DescribeRegions, fresh connection per request, %.1f s "
      "per level, %u hardware threads\n",
      seconds, std::thread::hardware_concurrency());
  std::printf("%12s %14s %10s %10s %10s %8s\n", "connections", "verified/s", "p50 (us)", "p99 (us)",
              "max (us)", "failed");
  for (int connections : {1, 8, 64}) {
    std::vector<WorkerResult> results(static_cast<std::size_t>(connections));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (int c = 0; c < connections; ++c) {
      threads.emplace_back(Worker, c + connections * 1000, static_cast<std::uint16_t>(port), end,
                           std::ref(results[static_cast<std::size_t>(c)]));
    }
    for (std::thread& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    long verified = 0, failed = 0;
    for (WorkerResult& r : results) {
      all.insert(all.end(), r.latencies_us.begin(), r.latencies_us.end());
      verified += r.verified;
      failed += r.failed;
    }
    std::sort(all.begin(), all.end());
    std::printf("%12d %14.0f %10.0f %10.0f %10.0f %8ld\n", connections,
                static_cast<double>(verified) / elapsed, Percentile(all, 0.50),
                Percentile(all, 0.99), all.empty() ? 0.0 : all.back(), failed);
    std::fflush(stdout);
  }
  if (server) server->Stop();
  return 0;
}
