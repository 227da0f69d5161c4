// kestrune-sim: serves until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <string_view>
#include <vector>

#include "sim/clock.h"
#include "sim/command_line.h"
#include "sim/server.h"
#include "sim/tls.h"

int main(int argc, char** argv) {
  using namespace kestrune::sim;
  std::vector<std::string_view> args(argv + 1, argv + argc);
  auto line = ParseCommandLine(args);
  if (!line.ok()) {
    std::fprintf(stderr, "kestrune-sim: %s\n", line.status().message().c_str());
    return 2;
  }
  if (line->help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  CommandLine options = std::move(line).value();
  if (!options.quiet) {
    options.server.log = [](std::string_view entry) {
      std::fprintf(stderr, "kestrune-sim: %.*s\n", static_cast<int>(entry.size()), entry.data());
    };
  }

  // Block the stop signals before the loop thread starts, so only sigwait
  // below sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::string ca_file;
  if (!options.tls_self_signed_dir.empty()) {
    auto files = MakeSelfSigned(options.tls_self_signed_dir);
    if (!files.ok()) {
      std::fprintf(stderr, "kestrune-sim: %s\n", files.status().message().c_str());
      return 1;
    }
    options.server.tls_certificate_file = files->certificate;
    options.server.tls_key_file = files->key;
    ca_file = files->ca;
  }

  SystemClock system_clock;
  OffsetClock clock(system_clock, options.clock_offset_ms);
  Server server(options.server, clock);
  const auto status = server.Start();
  if (!status.ok()) {
    std::fprintf(stderr, "kestrune-sim: %s\n", status.message().c_str());
    return 1;
  }
  std::printf("listening on %s:%u\n", options.server.address.c_str(),
              static_cast<unsigned>(server.port()));
  // A client that is to trust the server needs the CA: the second line.
  if (!ca_file.empty()) std::printf("%s\n", ca_file.c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  server.Stop();
  std::fprintf(stderr, "kestrune-sim: stopped (%s)\n", received == SIGINT ? "SIGINT" : "SIGTERM");
  return 0;
}
