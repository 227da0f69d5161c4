// `kestrune call … --regions all|ID,ID,…`: the same call once per region, a
// few at a time, shown as one result in the order of the region list.
//
// Every call is a request of its own, freshly signed, with its own Engine
// (an Engine serves one request at a time on one thread): each worker thread
// owns one engine and sends its regions in turn. Replies are kept per region
// and printed once all are in, so the order never depends on which reply
// came first. Internal to the cli module.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/paging.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "core/status.h"
#include "engine/engine.h"
#include "request/clock.h"
#include "request/credentials.h"

namespace kestrune::cli {

// Keeps what is written to standard output and error, for one region's part
// of a run; everything else is asked of `base` (only its const side, so
// that the capture can be written from a worker thread while `base` is not).
class CapturingConsole final : public Console {
 public:
  explicit CapturingConsole(const Console& base) : base_(base) {}

  void Out(std::string_view text) override { out_ += text; }
  void Err(std::string_view text) override { err_ += text; }
  bool OutputIsTerminal() const override { return base_.OutputIsTerminal(); }
  report::DisplayEncoding OutputEncoding() const override { return base_.OutputEncoding(); }
  std::optional<std::string> Env(std::string_view name) const override { return base_.Env(name); }
  core::Result<std::string> ReadLine(std::string_view, bool) override {
    return core::Status::InvalidInput("no input while calls are in flight");
  }
  report::TraceSink& Trace() override { return trace_; }
  std::string ProgramPath() const override { return base_.ProgramPath(); }
  std::optional<WriteFailure> FinishOutput() override { return std::nullopt; }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  const Console& base_;
  std::string out_;
  std::string err_;
  report::RecordingTraceSink trace_;
};

// Every line of `text` marked as one region's: "kestrune: X" becomes
// "kestrune: REGION: X", any other line "REGION: " and the line.
std::string PrefixRegion(std::string_view region, std::string_view text);

// The calls of a --regions run in flight at once unless --parallel says:
// enough for every region the service lists today (28) to go in one round,
// so a run waits about two replies (DescribeRegions, then the round), not
// three.
inline constexpr int kDefaultParallel = 32;

// What --regions asked for: every region of the account, or these ids in
// this order.
struct RegionChoice {
  bool all = false;
  std::vector<std::string> ids;
};

// "all", or ids separated by commas: each of lower-case letters, digits and
// hyphens, none empty, none twice. An error message a user can act on.
core::Result<RegionChoice> ParseRegionChoice(std::string_view text);

// The most regions one --regions all sends to: the service has a few dozen.
inline constexpr std::size_t kMaxRegions = 256;

// The region ids of a DescribeRegions reply (its XML form), in its order:
// decoded, without empty ids and repeats, and only ids of lower-case
// letters, digits and hyphens (a reply is not trusted to choose requests),
// at most kMaxRegions of them. `notes` says what was left out.
struct RegionList {
  std::vector<std::string> ids;
  std::vector<std::string> notes;
};
RegionList RegionIdsOf(std::string_view body);

// One region's call as it went, with what its engine wrote along the way.
struct RegionCall {
  std::string region;
  catalogue::ParameterValues values;  // the user's values with this RegionId
  CallOutcome outcome;
  std::string exchanges;                 // --debug: the exchanges as ExchangePrinter shows them
  std::vector<std::string> trace_lines;  // --trace: the engine's trace lines
};

// Which calls of a run have ended, for a Ctrl-C that comes before all have.
// Safe from any thread.
class FanOutProgress {
 public:
  explicit FanOutProgress(std::size_t calls) : done_(calls, false) {}
  void MarkDone(std::size_t index) {
    const std::lock_guard lock(mutex_);
    done_[index] = true;
  }
  std::vector<bool> Done() const {
    const std::lock_guard lock(mutex_);
    return done_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<bool> done_;
};

struct FanOutSettings {
  const Console* console = nullptr;       // read only, from every thread
  const request::Clock* clock = nullptr;  // shared: its nonces are distinct across threads
  const request::Credentials* credentials = nullptr;
  const catalogue::ResolvedAction* action = nullptr;
  std::optional<catalogue::PagingInfo> paging;
  engine::EngineOptions options;
  int parallel = kDefaultParallel;
  bool debug = false;
  bool trace = false;
  // Told of each call once it has ended and its RegionCall is no longer
  // written (may be null).
  FanOutProgress* progress = nullptr;
};

// How many calls of a run may be in flight, and when the next may start.
// Up to `most` at once; when the service throttles a call and names the wait
// it wants, no call starts before that wait is over (sending into a full
// window only spends attempts), and the limit is halved (down to one) once
// for each such pause, not once per call it turned away: one full window
// answers a whole round of calls alike. Each call that ends well grows the
// limit back by one. Safe from any thread.
class AdaptiveParallelism {
 public:
  using Clock = std::chrono::steady_clock;
  explicit AdaptiveParallelism(int most) : most_(std::max(1, most)), limit_(most_) {}
  // Waits until fewer calls than the limit are in flight and no pause holds,
  // then counts one more.
  void Acquire();
  // A call in flight was throttled at `now`; the service asks for `wait`.
  void Throttled(std::chrono::milliseconds wait, Clock::time_point now = Clock::now());
  // A call ended; `good` whether it ended with a good reply.
  void Release(bool good);
  int limit() const;

 private:
  const int most_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  int limit_;
  int in_flight_ = 0;
  Clock::time_point paused_until_{};
};

// Sends every call of `calls` (each with its own values), at most
// settings.parallel at a time (fewer while the service throttles), and fills in their outcomes.
// Returns when all have ended; a call that fails leaves the others going.
void SendToRegions(const FanOutSettings& settings, std::span<RegionCall> calls);

// The worse of two exit statuses of the calls of one run: a connection
// failure, then a refusal (usage), then "not supported", then an error
// reply, then a good reply.
int WorseExitStatus(int a, int b);

}  // namespace kestrune::cli
