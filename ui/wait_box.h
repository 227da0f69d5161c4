// The dialog's "wait for" box, below the parameter form: a check box, a
// Field=Value[,Value…] field and a field of values that end the wait
// unreached. With the box checked, Send repeats its request as the command
// line's --wait-for does (engine/wait_condition.h: every 5 s, for at most
// 180 s), until every record's field holds a wanted value; the 结果 field
// then says how the wait ended. Cancel (or Esc) gives it up between calls.
//
// Dialog thread only.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "engine/wait_condition.h"

namespace kestrune::ui {

// Gives the two fields their hints.
void SetUpWaitBox(HWND dialog);

// What the box asks for: nullopt when it is not checked; a message naming
// the fault when it is checked but its texts make no condition.
core::Result<std::optional<engine::WaitPlan>> ReadWaitBox(HWND dialog);

// The 结果 text for a wait that ended as `progress` says; `last_report` is
// what the last call's outcome alone would have shown.
std::string WaitReport(const engine::WaitPlan& plan, const engine::WaitProgress& progress,
                       std::string_view action, std::string_view last_report);

}  // namespace kestrune::ui
