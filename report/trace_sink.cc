#include "report/trace_sink.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "report/viewer_window.h"

namespace kestrune::report {
namespace {

// A large reply traces two lines per value; this holds several such replies
// while the viewer catches up, and bounds the memory a stuck viewer can cost.
constexpr std::size_t kMaxQueuedLines = 100000;

}  // namespace

void StderrTraceSink::Line(std::string_view line) {
  std::string text(line);
  text += '\n';
  // One write per line, so lines from other writers do not cut into it.
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fflush(stream_);
}

struct DebugViewerSink::Queue {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> lines;
  // Dropped since the viewer was last told, and in all.
  std::size_t untold = 0;
  std::size_t dropped = 0;
  bool handing_over = false;
  bool stopping = false;
  std::thread thread;

  // Queues what fits under the bound and counts the rest; starts the thread
  // on first use.
  void Add(std::vector<std::string>&& added) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!thread.joinable()) {
      try {
        thread = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        dropped += added.size();  // no thread, no viewer: nothing waits for them
        return;
      }
    }
    const std::size_t room = kMaxQueuedLines - std::min(kMaxQueuedLines, lines.size());
    const std::size_t kept = std::min(room, added.size());
    const std::size_t lost = added.size() - kept;
    if (lines.empty() && lost == 0) {
      lines = std::move(added);
    } else {
      for (std::size_t i = 0; i < kept; ++i) lines.push_back(std::move(added[i]));
    }
    untold += lost;
    dropped += lost;
    changed.notify_all();
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stopping || !lines.empty(); });
      if (stopping) return;
      std::vector<std::string> batch = std::move(lines);
      lines.clear();
      const std::size_t told = untold;
      untold = 0;
      handing_over = true;
      lock.unlock();
      std::string text;
      if (told != 0) {
        text = "(";
        text += std::to_string(told);
        text += " trace lines dropped: the viewer was too slow)";
      }
      for (const std::string& line : batch) {
        if (!text.empty()) text += "\r\n";
        text += line;
      }
      const ViewerHandOver handed = HandToViewer(text);
      lock.lock();
      handing_over = false;
      if (handed == ViewerHandOver::kTooSlow) {
        untold += told + batch.size();
        dropped += batch.size();
      }
      changed.notify_all();
    }
  }
};

DebugViewerSink::DebugViewerSink() : queue_(std::make_unique<Queue>()) {}

DebugViewerSink::~DebugViewerSink() {
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->stopping = true;
    queue_->changed.notify_all();
  }
  if (queue_->thread.joinable()) queue_->thread.join();
}

void DebugViewerSink::Line(std::string_view line) {
  std::vector<std::string> one;
  one.emplace_back(line);
  queue_->Add(std::move(one));
}

void DebugViewerSink::Lines(std::vector<std::string>&& lines) { queue_->Add(std::move(lines)); }

bool DebugViewerSink::Flush(unsigned limit_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  for (;;) {
    HandleSentMessages();
    {
      std::unique_lock<std::mutex> lock(queue_->mutex);
      if (queue_->lines.empty() && !queue_->handing_over) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      // Short waits: a message may be sent to this thread meanwhile.
      queue_->changed.wait_for(lock, std::chrono::milliseconds(2));
    }
  }
}

std::size_t DebugViewerSink::dropped() const {
  std::lock_guard<std::mutex> lock(queue_->mutex);
  return queue_->dropped;
}

}  // namespace kestrune::report
