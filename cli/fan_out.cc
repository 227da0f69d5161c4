#include "cli/fan_out.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <set>
#include <system_error>
#include <thread>

#include "cli/app.h"
#include "cli/output.h"
#include "report/xml_text.h"

namespace kestrune::cli {
namespace {

// Lower-case letters, digits and hyphens, as every region id is.
bool IsPlainRegionId(std::string_view id) {
  return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  });
}

}  // namespace

core::Result<RegionChoice> ParseRegionChoice(std::string_view text) {
  RegionChoice choice;
  if (text == "all") {
    choice.all = true;
    return choice;
  }
  std::set<std::string, std::less<>> seen;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view id = text.substr(start, comma - start);
    if (id.empty()) {
      return core::Status::InvalidInput(
          "--regions: an empty region id in \"" + EscapeLine(text) +
          "\" (give all, or ids separated by commas, e.g. cn-hangzhou,cn-beijing)");
    }
    if (!IsPlainRegionId(id)) {
      return core::Status::InvalidInput("--regions: \"" + EscapeLine(id) +
                                        "\" is not a region id (such as cn-hangzhou)");
    }
    if (!seen.emplace(id).second) {
      return core::Status::InvalidInput("--regions: " + std::string(id) + " is given twice");
    }
    choice.ids.emplace_back(id);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return choice;
}

RegionList RegionIdsOf(std::string_view body) {
  constexpr std::string_view kOpen = "<RegionId>";
  constexpr std::string_view kClose = "</RegionId>";
  RegionList list;
  std::set<std::string, std::less<>> seen;
  std::size_t refused = 0;
  std::size_t beyond = 0;
  for (std::size_t at = body.find(kOpen); at != std::string_view::npos; at = body.find(kOpen, at)) {
    at += kOpen.size();
    const std::size_t end = body.find(kClose, at);
    if (end == std::string_view::npos) break;
    std::string id = report::DecodeXmlText(body.substr(at, end - at));
    at = end + kClose.size();
    if (id.empty() || seen.contains(id)) continue;
    if (!IsPlainRegionId(id)) {
      ++refused;
      continue;
    }
    seen.insert(id);
    if (list.ids.size() == kMaxRegions) {
      ++beyond;
      continue;
    }
    list.ids.push_back(std::move(id));
  }
  if (refused > 0) {
    list.notes.push_back("the region list holds " + std::to_string(refused) +
                         " id(s) that are not region ids (lower-case letters, digits and "
                         "hyphens); they were left out");
  }
  if (beyond > 0) {
    list.notes.push_back("the region list holds " + std::to_string(kMaxRegions + beyond) +
                         " regions; only the first " + std::to_string(kMaxRegions) + " are called");
  }
  return list;
}

std::string PrefixRegion(std::string_view region, std::string_view text) {
  constexpr std::string_view kProgram = "kestrune: ";
  std::string prefixed;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (line.starts_with(kProgram)) {
      prefixed.append(kProgram).append(region).append(": ").append(line.substr(kProgram.size()));
    } else {
      prefixed.append(region).append(": ").append(line);
    }
    prefixed += '\n';
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return prefixed;
}

void AdaptiveParallelism::Acquire() {
  std::unique_lock lock(mutex_);
  for (;;) {
    freed_.wait(lock, [this] { return in_flight_ < limit_; });
    const Clock::time_point until = paused_until_;
    if (Clock::now() >= until) break;
    // A later throttle may lengthen the pause: look again when this one ends.
    freed_.wait_until(lock, until);
  }
  ++in_flight_;
}

void AdaptiveParallelism::Throttled(std::chrono::milliseconds wait, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  // Calls turned away while a pause holds were sent into the same full
  // window: it already lowered the limit for them.
  if (now >= paused_until_) limit_ = std::max(1, limit_ / 2);
  paused_until_ = std::max(paused_until_, now + wait);
}

void AdaptiveParallelism::Release(bool good) {
  {
    const std::lock_guard lock(mutex_);
    --in_flight_;
    if (good) limit_ = std::min(most_, limit_ + 1);
  }
  freed_.notify_all();
}

int AdaptiveParallelism::limit() const {
  const std::lock_guard lock(mutex_);
  return limit_;
}

namespace {

// Passes every exchange on to the --debug printer (if any) and tells the
// run's parallelism of each retry that throttling caused.
class ThrottleWatch final : public engine::ExchangeObserver {
 public:
  ThrottleWatch(engine::ExchangeObserver* printer, AdaptiveParallelism& parallelism)
      : printer_(printer), parallelism_(parallelism) {}
  void OnExchange(const engine::ExchangeRecord& record) override {
    if (printer_ != nullptr) printer_->OnExchange(record);
  }
  void OnRetry(const engine::RetryRecord& record) override {
    if (printer_ != nullptr) printer_->OnRetry(record);
    if (record.reason.starts_with("Throttling")) parallelism_.Throttled(record.wait);
  }

 private:
  engine::ExchangeObserver* printer_;
  AdaptiveParallelism& parallelism_;
};

}  // namespace

void SendToRegions(const FanOutSettings& settings, std::span<RegionCall> calls) {
  std::atomic<std::size_t> next{0};
  AdaptiveParallelism parallelism(settings.parallel);
  // Each thread takes the next region not yet taken until none is left, with
  // its own engine: engines are not shared between threads.
  auto work = [&] {
    report::RecordingResultList list;
    report::RecordingTraceSink trace;
    report::NullTraceSink no_trace;
    report::TraceSink* sink = &no_trace;
    if (settings.trace) sink = &trace;
    engine::Engine engine(*settings.clock, list, *sink, settings.options);
    // A call waiting to be sent again gives up its place meanwhile, and takes
    // one again before it goes: retries after throttling come back a few at
    // a time, as the lowered parallelism allows, not all at the moment the
    // service named, where all but a few would be throttled again.
    engine.set_wait([&parallelism](std::chrono::milliseconds wait) {
      parallelism.Release(false);
      std::this_thread::sleep_for(wait);
      parallelism.Acquire();
    });
    for (std::size_t index = next++; index < calls.size(); index = next++) {
      RegionCall& call = calls[index];
      // The printer writes only into this region's capture.
      CapturingConsole capture(*settings.console);
      ExchangePrinter printer(capture);
      ThrottleWatch watch(settings.debug ? &printer : nullptr, parallelism);
      engine.set_exchange_observer(&watch);
      const std::size_t first_line = trace.lines().size();
      parallelism.Acquire();
      call.outcome = SendAndCollect(engine, list, *settings.credentials, *settings.action,
                                    call.values, settings.paging);
      parallelism.Release(call.outcome.result.outcome == engine::Outcome::kGoodReply);
      engine.set_exchange_observer(nullptr);
      call.exchanges = capture.err();
      call.trace_lines.assign(trace.lines().begin() + static_cast<std::ptrdiff_t>(first_line),
                              trace.lines().end());
      if (settings.progress != nullptr) settings.progress->MarkDone(index);
    }
  };
  const std::size_t threads =
      std::min<std::size_t>(calls.size(), static_cast<std::size_t>(std::max(1, settings.parallel)));
  std::vector<std::thread> pool;
  pool.reserve(threads);
  for (std::size_t i = 1; i < threads; ++i) {
    // A system that gives no more threads gets its calls sent by fewer.
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();  // the calling thread is one of the workers
  for (std::thread& thread : pool) thread.join();
}

int WorseExitStatus(int a, int b) {
  // From best to worst.
  constexpr std::array<int, 5> kOrder = {kExitOk, kExitErrorReply, kExitNotSupported, kExitUsage,
                                         kExitConnection};
  auto rank = [&](int status) {
    const auto found = std::find(kOrder.begin(), kOrder.end(), status);
    return found == kOrder.end() ? kOrder.size() : static_cast<std::size_t>(found - kOrder.begin());
  };
  return rank(a) >= rank(b) ? a : b;
}

}  // namespace kestrune::cli
