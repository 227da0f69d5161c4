// Where diagnostic trace lines go: the external debug viewer on Windows,
// standard error on request, or nowhere. The sink never reports failure; a line
// that cannot be delivered is dropped. Not thread-safe.
#pragma once

#include <string_view>

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

}  // namespace kestrune::report
