#include "ui/parameter_form.h"

#include <algorithm>

#include "ui/resource_ids.h"

namespace kestrune::ui {

void HideParameterPairs(HWND dialog, int first_id) { ShowParameterPairs(dialog, first_id, 0); }

void ShowParameterPairs(HWND dialog, int first_id, std::size_t count) {
  count = std::min(count, kParameterPairs);
  for (std::size_t k = 0; k < kParameterPairs; ++k) {
    HWND control = GetDlgItem(dialog, first_id + static_cast<int>(k));
    if (control != nullptr) ShowWindow(control, SW_HIDE);
  }
  for (std::size_t k = 0; k < count; ++k) {
    HWND control = GetDlgItem(dialog, first_id + static_cast<int>(k));
    if (control != nullptr) ShowWindow(control, SW_SHOWNORMAL);
  }
}

// cppcheck-suppress passedByValue ; StringListView is a two-word view, passed like string_view
void ShowParameterForm(HWND dialog, core::StringListView captions) {
  const std::size_t count = std::min(captions.Count(), kParameterPairs);
  if (count == 0) {
    HideParameterPairs(dialog, IDC_PARAM_CAPTION_FIRST);
    HideParameterPairs(dialog, IDC_PARAM_VALUE_FIRST);
    return;
  }
  for (std::size_t k = 1; k <= count; ++k) {
    SetControlText(dialog, IDC_PARAM_CAPTION_FIRST + static_cast<int>(k) - 1, captions.Entry(k));
  }
  ShowParameterPairs(dialog, IDC_PARAM_CAPTION_FIRST, count);
  ShowParameterPairs(dialog, IDC_PARAM_VALUE_FIRST, count);
}

std::array<std::string, kParameterPairs> ParameterValues(HWND dialog) {
  std::array<std::string, kParameterPairs> values;
  for (std::size_t k = 0; k < kParameterPairs; ++k) {
    values[k] = ControlText(dialog, IDC_PARAM_VALUE_FIRST + static_cast<int>(k));
  }
  return values;
}

}  // namespace kestrune::ui
