// POSIX side of the debug viewer seam: there is no viewer window to reach.
#include "report/trace_sink.h"

namespace kestrune::report {

void DebugViewerSink::Line(std::string_view) {}

}  // namespace kestrune::report
