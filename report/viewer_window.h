// The platform side of DebugViewerSink: handing text to the viewer window.
// Called from the sink's own thread.
#pragma once

#include <string_view>

namespace kestrune::report {

enum class ViewerHandOver {
  kNoViewer,  // no viewer window: the text is dropped, as nobody looks
  kTaken,
  kTooSlow,  // the viewer did not answer within the time-out
};

// Appends `text` (UTF-8, lines joined by "\r\n") to the viewer's edit
// control after a line break when it already holds text, and scrolls the end
// into view.
ViewerHandOver HandToViewer(std::string_view text);

// Handles the messages other threads sent to the calling thread, for a
// thread that waits on the sink while it may own the viewer window.
void HandleSentMessages();

}  // namespace kestrune::report
