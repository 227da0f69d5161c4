#include "ui/wait_box.h"

#include <commctrl.h>

#include <utility>
#include <vector>

#include "ui/control_text.h"
#include "ui/resource_ids.h"

namespace kestrune::ui {
namespace {

std::string Calls(int calls) { return std::to_string(calls) + (calls == 1 ? " call" : " calls"); }

}  // namespace

void SetUpWaitBox(HWND dialog) {
  SendDlgItemMessageW(dialog, IDC_WAIT_CONDITION, EM_SETCUEBANNER, TRUE,
                      reinterpret_cast<LPARAM>(L"Status=Running"));
  SendDlgItemMessageW(dialog, IDC_WAIT_FAIL, EM_SETCUEBANNER, TRUE,
                      reinterpret_cast<LPARAM>(L"Stopped"));
}

core::Result<std::optional<engine::WaitPlan>> ReadWaitBox(HWND dialog) {
  if (IsDlgButtonChecked(dialog, IDC_WAIT_FOR) != BST_CHECKED) {
    return std::optional<engine::WaitPlan>();
  }
  const std::string wait_for = ControlText(dialog, IDC_WAIT_CONDITION);
  const std::string fail = ControlText(dialog, IDC_WAIT_FAIL);
  const std::size_t equals = wait_for.find('=');
  std::optional<std::vector<std::string>> path =
      equals == std::string::npos
          ? std::nullopt
          : engine::SplitWaitField(std::string_view(wait_for).substr(0, equals));
  std::optional<std::vector<std::string>> wanted =
      equals == std::string::npos ? std::nullopt
                                  : engine::SplitWaitValues(wait_for.substr(equals + 1));
  if (!path || !wanted) {
    return core::Status::InvalidInput(
        "not sent: wait for needs Field=Value[,Value...], a field such as Status or "
        "Instances.Instance.Status and values none of them empty");
  }
  engine::WaitPlan plan;
  plan.condition.path = std::move(*path);
  plan.condition.wanted = std::move(*wanted);
  if (!fail.empty()) {
    std::optional<std::vector<std::string>> failing = engine::SplitWaitValues(fail);
    if (!failing) {
      return core::Status::InvalidInput(
          "not sent: the fail values are Value[,Value...], none of them empty");
    }
    plan.condition.failing = std::move(*failing);
  }
  return std::optional<engine::WaitPlan>(std::move(plan));
}

std::string WaitReport(const engine::WaitPlan& plan, const engine::WaitProgress& progress,
                       std::string_view action, std::string_view last_report) {
  const std::string field = engine::JoinWaitParts(plan.condition.path, ".");
  const std::string holds = engine::DescribeWaitValues(progress.last);
  switch (progress.end) {
    case engine::WaitEnd::kReached:
      return field + " is " + holds + " after " + Calls(progress.calls) + " · " +
             std::string(last_report);
    case engine::WaitEnd::kFailed:
      return "wait ended: " + field + " holds " + holds + ", a fail value (" +
             Calls(progress.calls) + ")";
    case engine::WaitEnd::kTimedOut:
      return "wait timed out: " + field + " still holds " + holds + ", not " +
             engine::JoinWaitParts(plan.condition.wanted, " or ") + ", after " +
             std::to_string(plan.timeout.count() / 1000) + " s (" + Calls(progress.calls) + ")";
    case engine::WaitEnd::kNotFound:
      return "wait for: " + field + " names nothing in the reply of " + std::string(action) +
             "; not waiting";
    case engine::WaitEnd::kCallFailed:
    case engine::WaitEnd::kCancelled:
      break;
  }
  return std::string(last_report);
}

}  // namespace kestrune::ui
