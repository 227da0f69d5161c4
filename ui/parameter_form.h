// The parameter form: eight caption/value pairs of the main dialog (captions
// 3014..3021, value fields 3005..3012). Only as many pairs are visible as the
// chosen action has parameters; a value field keeps what the user typed when
// the action changes.
//
// Dialog thread only.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

#include "core/text.h"
#include "ui/control_text.h"

namespace kestrune::ui {

inline constexpr std::size_t kParameterPairs = 8;

// Hides the eight controls with ids first .. first + 7.
void HideParameterPairs(HWND dialog, int first_id);
// Hides the eight controls, then shows the first `count` (at most eight).
void ShowParameterPairs(HWND dialog, int first_id, std::size_t count);
// Captions pair k with entry k of `captions` (UTF-8) and shows that many pairs;
// an empty list hides the whole form. Entries past the eighth are not shown.
void ShowParameterForm(HWND dialog, core::StringListView captions);

// The texts of the eight value fields, as UTF-8, pair 1 first.
std::array<std::string, kParameterPairs> ParameterValues(HWND dialog);

}  // namespace kestrune::ui
