#include "ui/dialog_layout.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cwchar>

#include "ui/resource_ids.h"

namespace kestrune::ui {
namespace {

// How far each edge of the controls first_id..last_id follows the window's
// growth, in halves of it: 0 stays, 1 moves by half, 2 moves by all of it.
// The left column (the form) and the right one (credentials, results) share
// the growth in width; the result list takes the growth in height, and the
// rows below it move down with the bottom edge.
struct Anchor {
  int first_id;
  int last_id;
  int left, right, top, bottom;
};

constexpr auto kAnchors = std::to_array<Anchor>({
    {IDC_ACTION, IDC_ACTION, 0, 2, 0, 0},
    // The form's value fields (captioned, the ninth on, the free values).
    {IDC_PARAM_VALUE_FIRST, IDC_PARAM_VALUE_FIRST + 7, 0, 1, 0, 0},
    {IDC_PARAM_VALUE_NINTH, IDC_PARAM_VALUE_NINTH + 4, 0, 1, 0, 0},
    {IDC_FREE_VALUE_FIRST, IDC_FREE_VALUE_FIRST + 7, 0, 1, 0, 0},
    {IDC_FREE_PAIRS_CAPTION, IDC_FREE_PAIRS_CAPTION, 0, 1, 0, 0},
    // The wait box, Send and the all-fields box keep their rows at the bottom.
    {IDC_WAIT_FOR, IDC_WAIT_FOR, 0, 0, 2, 2},
    {IDC_WAIT_CONDITION, IDC_WAIT_CONDITION, 0, 1, 2, 2},
    {IDC_WAIT_FAIL_CAPTION, IDC_WAIT_FAIL_CAPTION, 0, 0, 2, 2},
    {IDC_WAIT_FAIL, IDC_WAIT_FAIL, 0, 1, 2, 2},
    {IDC_SEND, IDC_SEND, 1, 1, 2, 2},
    {IDC_ALL_FIELDS, IDC_ALL_FIELDS, 1, 1, 2, 2},
    // The right column.
    {IDC_KEY_ID_CAPTION, IDC_KEY_SECRET_CAPTION, 1, 1, 0, 0},
    {IDC_KEY_SECRET, IDC_KEY_ID, 1, 2, 0, 0},
    {IDC_REMEMBER_KEYS, IDC_REMEMBER_KEYS, 2, 2, 0, 0},
    {IDC_REPORT_CAPTION, IDC_COPIED_CAPTION, 1, 1, 0, 0},
    {IDC_REPORT, IDC_REPORT, 1, 2, 0, 0},
    {IDC_COPIED_VALUE, IDC_COPIED_VALUE, 1, 2, 0, 0},
    {IDC_RESULT_LIST, IDC_RESULT_LIST, 1, 2, 0, 2},
    {IDC_SAMPLES_CAPTION, IDC_SAMPLES_CAPTION, 1, 2, 2, 2},
    {IDC_DESCRIBE_REGIONS, IDC_DESCRIBE_REGIONS, 1, 1, 2, 2},
    {IDC_DESCRIBE_ZONES, IDC_DESCRIBE_ZONES, 1, 1, 2, 2},
    {IDC_DESCRIBE_INSTANCE_STATUS, IDC_STOP_INSTANCE, 1, 1, 2, 2},
    {IDC_REGION_CAPTION, IDC_REGION_CAPTION, 1, 1, 2, 2},
    {IDC_REGION, IDC_REGION, 1, 1, 2, 2},
    {IDC_CLEAR, IDC_CLEAR, 2, 2, 2, 2},
    {IDC_ABOUT, IDC_ABOUT, 2, 2, 2, 2},
    {IDC_EXIT, IDC_EXIT, 2, 2, 2, 2},
});

int AnchorOf(int id) {
  for (std::size_t i = 0; i < kAnchors.size(); ++i) {
    if (id >= kAnchors[i].first_id && id <= kAnchors[i].last_id) return static_cast<int>(i);
  }
  return -1;
}

bool IsComboBox(HWND control) {
  wchar_t name[16] = {};
  GetClassNameW(control, name, 16);
  return _wcsicmp(name, L"ComboBox") == 0;
}

// A control's rectangle in its dialog's client coordinates; a combo box's
// includes its drop-down list, which is the height it is given.
RECT PlaceOf(HWND dialog, HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  if (IsComboBox(control)) {
    RECT dropped{};
    if (SendMessageW(control, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped))) {
      rect.bottom = rect.top + std::max(rect.bottom - rect.top, dropped.bottom - dropped.top);
    }
  }
  return rect;
}

int Share(int halves, int growth) { return halves == 2 ? growth : halves == 1 ? growth / 2 : 0; }

}  // namespace

void DialogLayout::Capture(HWND dialog) {
  dialog_ = dialog;
  placed_.clear();
  RECT client{};
  GetClientRect(dialog, &client);
  smallest_ = {client.right, client.bottom};
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    placed_.push_back(Placed{child, PlaceOf(dialog, child), AnchorOf(GetDlgCtrlID(child))});
  }
  applied_ = {};
  wanted_scroll_ = 0;
}

void DialogLayout::MoveControls(const Offsets& to) {
  HDWP moves = BeginDeferWindowPos(static_cast<int>(placed_.size()));
  for (const Placed& placed : placed_) {
    if (!IsWindow(placed.control)) continue;
    // Across: from the smallest layout. Down: from where the control is now,
    // for the form moves its free pairs up and down itself.
    RECT now = PlaceOf(dialog_, placed.control);
    RECT place{placed.smallest.left, now.top, placed.smallest.right, now.bottom};
    const int down = applied_.scroll - to.scroll;
    place.top += down;
    place.bottom += down;
    if (placed.anchor >= 0) {
      const Anchor& anchor = kAnchors[static_cast<std::size_t>(placed.anchor)];
      place.left += Share(anchor.left, to.dx);
      place.right += Share(anchor.right, to.dx);
      place.top += Share(anchor.top, to.dy) - Share(anchor.top, applied_.dy);
      place.bottom += Share(anchor.bottom, to.dy) - Share(anchor.bottom, applied_.dy);
    }
    if (EqualRect(&place, &now)) continue;
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (moves != nullptr) {
      moves = DeferWindowPos(moves, placed.control, nullptr, place.left, place.top,
                             place.right - place.left, place.bottom - place.top, flags);
    }
    if (moves == nullptr) {
      SetWindowPos(placed.control, nullptr, place.left, place.top, place.right - place.left,
                   place.bottom - place.top, flags);
    }
  }
  if (moves != nullptr) EndDeferWindowPos(moves);
  applied_ = to;
}

void DialogLayout::Apply() {
  if (dialog_ == nullptr || applying_) return;
  applying_ = true;
  RECT client{};
  GetClientRect(dialog_, &client);
  // Showing or hiding the scroll bar changes the client width: set it first.
  SCROLLINFO scroll{};
  scroll.cbSize = sizeof(scroll);
  scroll.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  scroll.nMin = 0;
  scroll.nMax = smallest_.cy - 1;
  scroll.nPage = static_cast<UINT>(std::max<LONG>(client.bottom, 0));
  const int most = std::max<int>(0, smallest_.cy - client.bottom);
  Offsets to;
  to.scroll = std::clamp(wanted_scroll_, 0, most);
  scroll.nPos = to.scroll;
  SetScrollInfo(dialog_, SB_VERT, &scroll, TRUE);
  GetClientRect(dialog_, &client);
  to.dx = std::max<int>(0, client.right - smallest_.cx);
  to.dy = std::max<int>(0, client.bottom - smallest_.cy);
  if (to.scroll != applied_.scroll || to.dx != applied_.dx || to.dy != applied_.dy) {
    MoveControls(to);
    InvalidateRect(dialog_, nullptr, TRUE);
  }
  wanted_scroll_ = to.scroll;
  applying_ = false;
}

void DialogLayout::Scale(int numerator, int denominator) {
  if (denominator == 0 || numerator == denominator) return;
  auto scale = [&](LONG value) { return MulDiv(value, numerator, denominator); };
  auto scale_rect = [&](RECT rect) {
    return RECT{scale(rect.left), scale(rect.top), scale(rect.right), scale(rect.bottom)};
  };
  smallest_ = {scale(smallest_.cx), scale(smallest_.cy)};
  for (Placed& placed : placed_) {
    placed.smallest = scale_rect(placed.smallest);
    if (!IsWindow(placed.control)) continue;
    const RECT place = scale_rect(PlaceOf(dialog_, placed.control));
    SetWindowPos(placed.control, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  applied_ = {scale(applied_.dx), scale(applied_.dy), scale(applied_.scroll)};
  wanted_scroll_ = applied_.scroll;
}

void DialogLayout::Scroll(int request) {
  SCROLLINFO scroll{};
  scroll.cbSize = sizeof(scroll);
  scroll.fMask = SIF_ALL;
  if (!GetScrollInfo(dialog_, SB_VERT, &scroll)) return;
  const int line = std::max(1, static_cast<int>(scroll.nPage) / 20);
  const int page = std::max(1, static_cast<int>(scroll.nPage) - line);
  switch (request) {
    case SB_LINEUP:
      wanted_scroll_ = applied_.scroll - line;
      break;
    case SB_LINEDOWN:
      wanted_scroll_ = applied_.scroll + line;
      break;
    case SB_PAGEUP:
      wanted_scroll_ = applied_.scroll - page;
      break;
    case SB_PAGEDOWN:
      wanted_scroll_ = applied_.scroll + page;
      break;
    case SB_TOP:
      wanted_scroll_ = 0;
      break;
    case SB_BOTTOM:
      wanted_scroll_ = smallest_.cy;
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      wanted_scroll_ = scroll.nTrackPos;
      break;
    default:
      return;
  }
  Apply();
}

void DialogLayout::Reveal(HWND control) {
  if (dialog_ == nullptr || control == nullptr) return;
  while (control != nullptr && GetParent(control) != dialog_) control = GetParent(control);
  if (control == nullptr) return;
  RECT client{};
  GetClientRect(dialog_, &client);
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
  if (rect.top < 0) {
    wanted_scroll_ = applied_.scroll + rect.top;
  } else if (rect.bottom > client.bottom) {
    wanted_scroll_ = applied_.scroll + (rect.bottom - client.bottom);
  } else {
    return;
  }
  Apply();
}

SIZE DialogLayout::MinimumWindowSize(const RECT& work_area) const {
  RECT window{0, 0, smallest_.cx, smallest_.cy};
  const auto style = static_cast<DWORD>(GetWindowLongW(dialog_, GWL_STYLE) & ~WS_VSCROLL);
  const auto ex_style = static_cast<DWORD>(GetWindowLongW(dialog_, GWL_EXSTYLE));
  AdjustWindowRectEx(&window, style, FALSE, ex_style);
  LONG width = window.right - window.left;
  LONG height = window.bottom - window.top;
  const LONG room = work_area.bottom - work_area.top;
  if (height > room) {
    // Shorter than the layout: the client area scrolls, and the scroll bar
    // takes its width beside the layout. A third of the layout stays the
    // least, so the window never shrinks to its caption.
    const LONG frame = height - smallest_.cy;
    height = std::max(room, frame + smallest_.cy / 3);
    width += GetSystemMetrics(SM_CXVSCROLL);
  }
  return SIZE{width, height};
}

}  // namespace kestrune::ui
