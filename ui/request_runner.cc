#include "ui/request_runner.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "core/wide_text.h"
#include "engine/credential_chain.h"
#include "report/trace_sink.h"
#include "request/clock.h"

namespace kestrune::ui {
namespace {

class RecordingTrace : public report::TraceSink {
 public:
  explicit RecordingTrace(std::vector<std::string>& lines) : lines_(lines) {}
  void Line(std::string_view line) override { lines_.emplace_back(line); }

 private:
  std::vector<std::string>& lines_;
};

// The field of the rows that explain an error reply.
constexpr std::wstring_view kNoteField = L"Note";

// Sleeps `pause`, a little at a time; false as soon as `cancelled` is set.
bool PauseUnlessCancelled(std::chrono::milliseconds pause, const std::atomic<bool>* cancelled) {
  constexpr std::chrono::milliseconds kStep{50};
  const auto until = std::chrono::steady_clock::now() + pause;
  for (;;) {
    if (cancelled != nullptr && cancelled->load()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kStep, until - now));
  }
}

}  // namespace

// What the dialog and its workers share: where outcomes go, and whether they
// still may. The clock is shared too, so that every nonce of the process is
// drawn from one sequence.
struct RequestRunner::Mailbox {
  std::mutex mutex;
  HWND window = nullptr;
  UINT done_message = 0;
  request::SystemClock clock;
  std::mutex chain_mutex;
  std::optional<engine::FoundCredentials> chain;  // found once, then renewed by itself

  // The chain's credentials, reached with the options' trust, proxy and
  // time-outs. A failure is not kept: the next Send looks again.
  core::Result<engine::FoundCredentials> Chain(const engine::EngineOptions& options) {
    std::lock_guard<std::mutex> lock(chain_mutex);
    if (chain) return *chain;
    engine::ChainSetting setting;
    // Read as the dialog reads its other variables.
    setting.env = [](std::string_view name) -> std::optional<std::string> {
      const char* value = std::getenv(std::string(name).c_str());
      if (value == nullptr) return std::nullopt;
      return std::string(value);
    };
    setting.exchange.connect_timeout = options.connect_timeout;
    setting.exchange.idle_timeout = options.idle_timeout;
    setting.exchange.exchange_timeout = options.exchange_timeout;
    setting.exchange.tls.ca_file = options.ca_file;
    // Without a parsed route the proxy text is malformed: the chain goes
    // direct while the engine refuses the request itself.
    if (options.route) setting.exchange.proxy = options.route->proxy;
    core::Result<std::optional<engine::FoundCredentials>> found = engine::FindCredentials(setting);
    if (!found.ok()) return found.status();
    if (!found.value()) {
      return core::Status::InvalidInput(
          "type the AccessKey id and secret (\"Remember keys\" keeps them in the file \"sign\"), "
          "or set ALIBABA_CLOUD_ACCESS_KEY_ID and ALIBABA_CLOUD_ACCESS_KEY_SECRET");
    }
    chain = *found.value();
    return *chain;
  }

  // Posts `outcome` to the window, or frees it when the window no longer
  // listens.
  void Deliver(std::unique_ptr<RequestOutcome> outcome) {
    std::lock_guard<std::mutex> lock(mutex);
    if (window == nullptr) return;
    if (PostMessageW(window, done_message, 0, reinterpret_cast<LPARAM>(outcome.get()))) {
      (void)outcome.release();  // the window owns it now
    }
  }
};

RequestRunner::RequestRunner() : mailbox_(std::make_shared<Mailbox>()) {}

RequestRunner::~RequestRunner() { Close(); }

void RequestRunner::Open(HWND window, UINT done_message) {
  std::lock_guard<std::mutex> lock(mailbox_->mutex);
  mailbox_->window = window;
  mailbox_->done_message = done_message;
}

void RequestRunner::Close() {
  HWND window = nullptr;
  UINT done_message = 0;
  {
    std::lock_guard<std::mutex> lock(mailbox_->mutex);
    std::swap(window, mailbox_->window);
    done_message = mailbox_->done_message;
  }
  if (window == nullptr) return;
  MSG posted{};
  while (PeekMessageW(&posted, window, done_message, done_message, PM_REMOVE)) {
    Take(posted.lParam);
  }
}

bool RequestRunner::Start(RequestJob job) {
  auto work = [mailbox = mailbox_, job = std::move(job)]() mutable {
    auto outcome = std::make_unique<RequestOutcome>();
    outcome->generation = job.generation;
    try {
      if (job.credentials.access_key_id.empty() && job.credentials.access_key_secret.empty()) {
        core::Result<engine::FoundCredentials> found = mailbox->Chain(job.options);
        if (!found.ok()) {
          const core::Status& why = found.status();
          outcome->result.outcome = why.IsServiceError() || why.IsConnection()
                                        ? engine::Outcome::kConnectionFailed
                                        : engine::Outcome::kRefused;
          outcome->result.detail = "no key typed in, and none found: " + why.message();
          mailbox->Deliver(std::move(outcome));
          return;
        }
        job.credentials = found->credentials;
        job.options.renewing = found->renewing;
        outcome->credential_source = found->source;
      }
      RowCollector list;
      RecordingTrace trace(outcome->trace_lines);
      engine::Engine engine(mailbox->clock, list, trace, job.options);
      if (job.wait) {
        outcome->waited = engine::RepeatUntil(
            *job.wait,
            [&]() -> const engine::RequestResult& {
              // Only the last call's rows are shown.
              list.Clear();
              outcome->result = engine.Send(job.credentials, job.action, job.values);
              return outcome->result;
            },
            [cancelled = job.cancelled.get()](std::chrono::milliseconds pause) {
              return PauseUnlessCancelled(pause, cancelled);
            });
      } else {
        outcome->result = engine.Send(job.credentials, job.action, job.values);
      }
      outcome->clock_offset = engine.clock_offset();
      // Explanations of an error read below its rows, in their order; the
      // rows are kept bottom row first.
      for (const std::string& note : outcome->result.notes) {
        list.rows().insert(list.rows().begin(), {std::wstring(kNoteField), core::ToWide(note)});
      }
      outcome->rows = std::move(list.rows());
    } catch (const std::exception& failure) {
      // Nothing may escape a thread; the dialog shows what went wrong.
      outcome->rows.clear();
      outcome->waited.reset();
      outcome->result = engine::RequestResult{};
      outcome->result.outcome = engine::Outcome::kRefused;
      outcome->result.detail = std::string("the request failed: ") + failure.what();
    }
    mailbox->Deliver(std::move(outcome));
  };
  try {
    std::thread(std::move(work)).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

std::unique_ptr<RequestOutcome> RequestRunner::Take(LPARAM lparam) {
  return std::unique_ptr<RequestOutcome>(reinterpret_cast<RequestOutcome*>(lparam));
}

}  // namespace kestrune::ui
