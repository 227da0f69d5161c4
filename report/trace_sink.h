// Where diagnostic trace lines go: the external debug viewer on Windows,
// standard error on request, or nowhere. The sink never reports failure; a line
// that cannot be delivered is dropped. Lines are UTF-8. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrune::report {

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Line(std::string_view line) = 0;
  // Many lines at once, in their order; a sink that queues them may keep
  // the strings themselves.
  virtual void Lines(std::vector<std::string>&& lines) {
    for (const std::string& line : lines) Line(line);
  }
};

class NullTraceSink : public TraceSink {
 public:
  void Line(std::string_view) override {}
};

// Writes each line, followed by "\n", to a stream (standard error unless
// another is given; the stream must outlive the sink).
class StderrTraceSink : public TraceSink {
 public:
  explicit StderrTraceSink(std::FILE* stream = stderr) : stream_(stream) {}
  void Line(std::string_view line) override;

 private:
  std::FILE* stream_;
};

// Keeps the lines in memory, for tests.
class RecordingTraceSink : public TraceSink {
 public:
  void Line(std::string_view line) override { lines_.emplace_back(line); }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// Appends each line to the external debug viewer: the top-level window of
// class "DbgWinClass" and its first "Edit" child. Lines are separated by
// "\r\n" (none before the first) and the end is scrolled into view. The sink
// never starts the viewer: lines that find no viewer window are dropped.
//
// Line never waits for the viewer: lines go into a bounded queue that a
// thread of the sink's own hands over, everything waiting at once, with
// time-outs. Lines beyond the bound, or that a viewer too slow to answer did
// not take, are dropped and counted, and the count is reported to the viewer
// with the next lines it takes. Other systems have no such viewer and drop
// every line.
class DebugViewerSink : public TraceSink {
 public:
  DebugViewerSink();
  // Waits for a hand-over in progress (bounded by its time-outs); lines still
  // queued are dropped.
  ~DebugViewerSink() override;
  DebugViewerSink(const DebugViewerSink&) = delete;
  DebugViewerSink& operator=(const DebugViewerSink&) = delete;

  void Line(std::string_view line) override;
  void Lines(std::vector<std::string>&& lines) override;

  // Waits until every queued line was handed over or dropped, handling the
  // messages sent to this thread meanwhile (a viewer window may belong to
  // it); false when that took longer than `limit_ms`.
  bool Flush(unsigned limit_ms);
  // Lines dropped so far.
  std::size_t dropped() const;

 private:
  struct Queue;
  std::unique_ptr<Queue> queue_;
};

}  // namespace kestrune::report
