// The main dialog's resizable layout. The resource script gives every control
// its place in the smallest layout; as the window grows, each control's edges
// follow the window's right and bottom edges by the share one table gives
// them (kAnchors in dialog_layout.cc; a control it does not name stays where
// it is). A window shorter than the smallest layout, on a small or scaled
// screen, scrolls its client area vertically instead of squeezing controls,
// so every control stays reachable and the width never needs scrolling.
//
// Dialog thread only.
#pragma once

#include <windows.h>

#include <vector>

namespace kestrune::ui {

class DialogLayout {
 public:
  // Takes the controls' places and the client size as they are now as the
  // smallest layout; call once the controls exist.
  void Capture(HWND dialog);
  // Places the controls for the client size now and sets the scroll bar.
  void Apply();
  // Scales the smallest layout and every control's place by
  // `numerator / denominator` (the window moved to a monitor of another DPI).
  void Scale(int numerator, int denominator);
  // Answers a scroll bar request (WM_VSCROLL's request code).
  void Scroll(int request);
  // Scrolls so that `control` is in view, when the window is too short to
  // show everything.
  void Reveal(HWND control);
  // The smallest window size for a monitor with work area `work_area`: the
  // smallest layout, or less high where the work area is lower (the client
  // area then scrolls).
  SIZE MinimumWindowSize(const RECT& work_area) const;

 private:
  struct Placed {
    HWND control;
    RECT smallest;  // client coordinates, unscrolled; a combo box's with its list
    int anchor;     // index into the table, or -1
  };
  // The window's growth over the smallest layout now applied, and the scroll
  // position.
  struct Offsets {
    int dx = 0;
    int dy = 0;
    int scroll = 0;
  };
  void MoveControls(const Offsets& to);

  HWND dialog_ = nullptr;
  SIZE smallest_{};
  std::vector<Placed> placed_;
  Offsets applied_;
  int wanted_scroll_ = 0;
  bool applying_ = false;
};

}  // namespace kestrune::ui
