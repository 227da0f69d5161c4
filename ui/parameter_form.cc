#include "ui/parameter_form.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "core/wide_text.h"
#include "ui/control_text.h"
#include "ui/resource_ids.h"

namespace kestrune::ui {
namespace {

constexpr std::size_t kFirstIdRun = 8;  // the fields 3005.. and captions 3014.. hold eight

constexpr wchar_t kFreeNameHint[] = L"参数名";
constexpr wchar_t kFreeValueHint[] = L"值";

bool IsShown(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control != nullptr && (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Show(HWND dialog, int id, bool shown) {
  HWND control = GetDlgItem(dialog, id);
  if (control != nullptr) ShowWindow(control, shown ? SW_SHOWNORMAL : SW_HIDE);
}

void SetHint(HWND dialog, int id, const std::wstring& hint) {
  HWND control = GetDlgItem(dialog, id);
  // Without version 6 of the common controls an edit control ignores this.
  if (control != nullptr) {
    SendMessageW(control, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(hint.c_str()));
  }
}

// The free names are combo boxes, whose hint has a message of its own.
void SetComboHint(HWND dialog, int id, const std::wstring& hint) {
  HWND control = GetDlgItem(dialog, id);
  if (control != nullptr) {
    SendMessageW(control, CB_SETCUEBANNER, 0, reinterpret_cast<LPARAM>(hint.c_str()));
  }
}

// A control's rectangle in the dialog's client coordinates.
RECT PlacedRect(HWND dialog, int id) {
  RECT rect{};
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void MoveTo(HWND dialog, int id, LONG top) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return;
  const RECT rect = PlacedRect(dialog, id);
  SetWindowPos(control, nullptr, rect.left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Puts the free pairs' caption on row `row` and the pairs on the rows below.
// The resource script sets the rows: the captioned fields never move, so the
// first two give the top row and the pitch.
void MoveFreePairsToRow(HWND dialog, std::size_t row) {
  const RECT first = PlacedRect(dialog, ParameterFieldId(0));
  const RECT second = PlacedRect(dialog, ParameterFieldId(1));
  const LONG pitch = second.top - first.top;
  const LONG caption_offset = PlacedRect(dialog, ParameterCaptionId(0)).top - first.top;
  auto row_top = [&](std::size_t r) { return first.top + static_cast<LONG>(r) * pitch; };
  MoveTo(dialog, IDC_FREE_PAIRS_CAPTION, row_top(row) + caption_offset);
  for (std::size_t j = 0; j < kFreePairs; ++j) {
    MoveTo(dialog, FreeNameId(j), row_top(row + 1 + j));
    MoveTo(dialog, FreeValueId(j), row_top(row + 1 + j));
  }
}

void ShowRuns(HWND dialog, std::size_t captioned, std::size_t free_pairs) {
  for (std::size_t k = 0; k < kCaptionedFields; ++k) {
    Show(dialog, ParameterCaptionId(k), k < captioned);
    Show(dialog, ParameterFieldId(k), k < captioned);
  }
  Show(dialog, IDC_FREE_PAIRS_CAPTION, free_pairs > 0);
  for (std::size_t j = 0; j < kFreePairs; ++j) {
    Show(dialog, FreeNameId(j), j < free_pairs);
    Show(dialog, FreeValueId(j), j < free_pairs);
  }
}

}  // namespace

int ParameterCaptionId(std::size_t k) {
  return k < kFirstIdRun ? IDC_PARAM_CAPTION_FIRST + static_cast<int>(k)
                         : IDC_PARAM_CAPTION_NINTH + static_cast<int>(k - kFirstIdRun);
}

int ParameterFieldId(std::size_t k) {
  return k < kFirstIdRun ? IDC_PARAM_VALUE_FIRST + static_cast<int>(k)
                         : IDC_PARAM_VALUE_NINTH + static_cast<int>(k - kFirstIdRun);
}

int FreeNameId(std::size_t j) { return IDC_FREE_NAME_FIRST + static_cast<int>(j); }
int FreeValueId(std::size_t j) { return IDC_FREE_VALUE_FIRST + static_cast<int>(j); }

std::size_t FreePairsBelow(std::size_t captioned) {
  const std::size_t room = captioned < kFormRows ? kFormRows - captioned : 0;
  return std::clamp(room, kFewestFreePairs, kFreePairs);
}

void SetUpParameterForm(HWND dialog) {
  for (std::size_t j = 0; j < kFreePairs; ++j) {
    SetComboHint(dialog, FreeNameId(j), kFreeNameHint);
    SetHint(dialog, FreeValueId(j), kFreeValueHint);
  }
  HideParameterForm(dialog);
}

void HideParameterForm(HWND dialog) { ShowRuns(dialog, 0, 0); }

// cppcheck-suppress passedByValue ; StringListView is a two-word view, passed like string_view
void ShowParameterForm(HWND dialog, core::StringListView captions, core::StringListView hints) {
  const std::size_t count = std::min(captions.Count(), kCaptionedFields);
  for (std::size_t k = 0; k < count; ++k) {
    SetControlText(dialog, ParameterCaptionId(k), captions.Entry(k + 1));
    SetHint(dialog, ParameterFieldId(k), core::ToWide(hints.Entry(k + 1)));
  }
  MoveFreePairsToRow(dialog, count);
  ShowRuns(dialog, count, FreePairsBelow(count));
}

void OfferFreeNames(HWND dialog, const std::vector<OfferedName>& names) {
  std::vector<std::wstring> entries;
  entries.reserve(names.size());
  for (const bool required : {true, false}) {
    for (const OfferedName& offered : names) {
      if (offered.required != required) continue;
      entries.push_back(core::ToWide(offered.name + (required ? std::string(kRequiredMark) : "")));
    }
  }
  for (std::size_t j = 0; j < kFreePairs; ++j) {
    HWND name = GetDlgItem(dialog, FreeNameId(j));
    if (name == nullptr) continue;
    // Emptying the list empties the name field too: what was typed goes back.
    const std::string typed = ControlText(dialog, FreeNameId(j));
    SendMessageW(name, CB_RESETCONTENT, 0, 0);
    for (const std::wstring& entry : entries) {
      SendMessageW(name, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    SetControlText(dialog, FreeNameId(j), typed);
  }
}

ParameterFormInput ReadParameterForm(HWND dialog) {
  ParameterFormInput input;
  for (std::size_t k = 0; k < kCaptionedFields && IsShown(dialog, ParameterFieldId(k)); ++k) {
    input.fields.push_back(ControlText(dialog, ParameterFieldId(k)));
  }
  for (std::size_t j = 0; j < kFreePairs && IsShown(dialog, FreeValueId(j)); ++j) {
    std::string name = ControlText(dialog, FreeNameId(j));
    if (name.ends_with(kRequiredMark)) name.resize(name.size() - kRequiredMark.size());
    input.pairs.emplace_back(std::move(name), ControlText(dialog, FreeValueId(j)));
  }
  return input;
}

void FillParameterFields(HWND dialog, const std::vector<std::string>& values) {
  for (std::size_t k = 0; k < kCaptionedFields; ++k) {
    SetControlText(dialog, ParameterFieldId(k), k < values.size() ? values[k] : std::string());
  }
}

}  // namespace kestrune::ui
