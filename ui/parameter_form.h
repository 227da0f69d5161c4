// The parameter form of the main dialog, a column of its own at the dialog's
// right: first one captioned field per template parameter, then a caption and
// free name/value pairs for any further parameter the user wants to send. The
// free pairs follow right below the last captioned field. A field keeps what
// the user typed when the action changes, but only what is on show is read.
//
// A captioned field may show the template's sample value as a grey hint (a
// cue banner); the hint is never part of the field's text, so it is never sent.
//
// Dialog thread only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/text.h"

namespace kestrune::ui {

// As many captioned fields as the longest template has parameters.
inline constexpr std::size_t kCaptionedFields = 13;
// Free pairs: all of them for an action without parameters, never fewer than
// kFewestFreePairs; captioned fields and free pairs together take at most
// kFormRows rows (plus the pairs' caption), so the form fits the dialog.
inline constexpr std::size_t kFreePairs = 8;
inline constexpr std::size_t kFewestFreePairs = 4;
inline constexpr std::size_t kFormRows = kCaptionedFields + kFewestFreePairs;

// Ends an offered name that the action requires; reading the form drops it,
// so a name chosen from the list is sent as the action spells it.
inline constexpr std::string_view kRequiredMark = " *";

// A parameter name the free pairs offer.
struct OfferedName {
  std::string name;
  bool required = false;
};

// Control ids, k and j counted from 0.
int ParameterCaptionId(std::size_t k);
int ParameterFieldId(std::size_t k);
int FreeNameId(std::size_t j);
int FreeValueId(std::size_t j);

// The number of free pairs shown below `captioned` captioned fields.
std::size_t FreePairsBelow(std::size_t captioned);

// Gives the free pairs their hints and hides the whole form.
void SetUpParameterForm(HWND dialog);
void HideParameterForm(HWND dialog);
// Shows one captioned field per entry of `captions` (UTF-8, at most
// kCaptionedFields), entry k of `hints` as field k's hint (none when empty),
// then the free pairs.
void ShowParameterForm(HWND dialog, core::StringListView captions, core::StringListView hints);

// Offers `names` in the drop-down list of every free pair's name, the
// required ones first (marked with kRequiredMark), each part in the order
// given. What a name field holds stays as it is.
void OfferFreeNames(HWND dialog, const std::vector<OfferedName>& names);

// What the form on show holds, as UTF-8 (a free name without kRequiredMark): the captioned fields'
// texts in order, then the free pairs as (name, value).
struct ParameterFormInput {
  std::vector<std::string> fields;
  std::vector<std::pair<std::string, std::string>> pairs;
};
ParameterFormInput ReadParameterForm(HWND dialog);

// Sets captioned field k's text to entry k of `values` (UTF-8), and empties
// every field past the last entry.
void FillParameterFields(HWND dialog, const std::vector<std::string>& values);

}  // namespace kestrune::ui
