// POSIX side of the debug viewer seam: there is no viewer window to reach.
#include "report/viewer_window.h"

namespace kestrune::report {

ViewerHandOver HandToViewer(std::string_view) { return ViewerHandOver::kNoViewer; }

void HandleSentMessages() {}

}  // namespace kestrune::report
