// Where diagnostic trace lines go: the external debug viewer on Windows,
// standard error on request, or nowhere. The sink never reports failure; a line
// that cannot be delivered is dropped. Lines are UTF-8. Not thread-safe.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrune::report {

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Line(std::string_view line) = 0;
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

// Where the debug viewer program is installed: root-relative, so on the
// current drive (for example C:\Kestrune\DbgView.exe).
inline constexpr std::string_view kDebugViewerPath = "\\Kestrune\\DbgView.exe";

// Appends each line to the external debug viewer: the top-level window of
// class "DbgWinClass" and its first "Edit" child. Lines are separated by
// "\r\n" (none before the first) and the end is scrolled into view. When no
// viewer window exists, the sink starts the viewer program once in its
// lifetime, and only if that file exists; lines that find no window are
// dropped. Other systems have no such viewer and drop every line.
class DebugViewerSink : public TraceSink {
 public:
  explicit DebugViewerSink(std::string viewer_path = std::string(kDebugViewerPath))
      : viewer_path_(std::move(viewer_path)) {}
  void Line(std::string_view line) override;

  // True once the sink has tried to start the viewer program.
  bool start_tried() const { return start_tried_; }

 private:
  std::string viewer_path_;
  bool start_tried_ = false;
};

}  // namespace kestrune::report
