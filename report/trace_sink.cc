#include "report/trace_sink.h"

namespace kestrune::report {

void StderrTraceSink::Line(std::string_view line) {
  std::string text(line);
  text += '\n';
  // One write per line, so lines from other writers do not cut into it.
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fflush(stream_);
}

}  // namespace kestrune::report
