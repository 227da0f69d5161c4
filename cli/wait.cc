#include "cli/wait.h"

#include <algorithm>
#include <functional>
#include <span>
#include <thread>

#include "cli/app.h"
#include "cli/output.h"

namespace kestrune::cli {
namespace {

std::string Seconds(std::chrono::milliseconds duration) {
  const auto count = duration.count();
  std::string text = std::to_string(count / 1000);
  if (count % 1000 != 0) {
    std::string millis = std::to_string(1000 + count % 1000).substr(1);
    while (millis.back() == '0') millis.pop_back();
    text += "." + millis;
  }
  return text + " s";
}

}  // namespace

core::Result<std::vector<std::string>> ParseWaitValues(std::string_view option,
                                                       std::string_view text) {
  std::optional<std::vector<std::string>> values = engine::SplitWaitValues(text);
  if (!values) {
    return core::Status::InvalidInput(std::string(option) +
                                      " needs values VALUE[,VALUE...], none of them empty, not \"" +
                                      EscapeLine(text) + "\"");
  }
  return std::move(*values);
}

core::Result<WaitCondition> ParseWaitCondition(std::string_view wait_for,
                                               std::optional<std::string_view> wait_fail) {
  const std::size_t equals = wait_for.find('=');
  const std::string_view field = wait_for.substr(0, equals);
  WaitCondition condition;
  std::optional<std::vector<std::string>> path = engine::SplitWaitField(field);
  if (equals == std::string_view::npos || !path) {
    return core::Status::InvalidInput(
        "--wait-for needs Field=Value[,Value...] with a field such "
        "as Status or Instances.Instance.Status, not \"" +
        EscapeLine(wait_for) + "\"");
  }
  condition.path = std::move(*path);
  core::Result<std::vector<std::string>> wanted =
      ParseWaitValues("--wait-for", wait_for.substr(equals + 1));
  if (!wanted.ok()) return wanted.status();
  condition.wanted = std::move(wanted.value());
  if (wait_fail) {
    core::Result<std::vector<std::string>> failing = ParseWaitValues("--wait-fail", *wait_fail);
    if (!failing.ok()) return failing.status();
    condition.failing = std::move(failing.value());
  }
  return condition;
}

int CallUntil(Console& console, const WaitSettings& settings, engine::Engine& engine,
              report::RecordingResultList& list, const request::Credentials& credentials,
              const catalogue::ResolvedAction& action, const catalogue::ParameterValues& values) {
  const std::string field = engine::JoinWaitParts(settings.condition.path, ".");
  const engine::WaitPlan plan{settings.condition, settings.interval, settings.timeout,
                              settings.format == OutputFormat::kJson};
  CallOutcome outcome;
  const engine::WaitProgress progress = engine::RepeatUntil(
      plan,
      [&]() -> const engine::RequestResult& {
        outcome = SendAndCollect(engine, list, credentials, action, values, std::nullopt);
        return outcome.result;
      },
      [](std::chrono::milliseconds pause) {
        std::this_thread::sleep_for(pause);
        return true;
      },
      [&](int call, const WaitCheck& check) {
        if (!settings.debug) return;
        console.Err("kestrune: --wait-for: " + EscapeLine(field) + " holds " +
                    EscapeLine(engine::DescribeWaitValues(check)) + " (call " +
                    std::to_string(call) + ")\n");
      });
  if (progress.end == engine::WaitEnd::kNotFound) {
    return UsageError(console, "--wait-for: " + EscapeLine(field) +
                                   " names nothing in the reply of " + action.action_name);
  }
  JsonDocument document;
  const int status = PrintOutcome(console, settings.format, outcome, settings.raw, document);
  if (document.size() > 0) console.Out(document.Render(false));
  if (progress.end != engine::WaitEnd::kFailed && progress.end != engine::WaitEnd::kTimedOut) {
    return status;
  }
  const int call = progress.calls;
  console.Err("kestrune: --wait-for: " + EscapeLine(field) + " holds " +
              EscapeLine(engine::DescribeWaitValues(progress.last)) +
              (progress.end == engine::WaitEnd::kFailed
                   ? std::string(", a --wait-fail value; not waiting any longer")
                   : ", still not " +
                         EscapeLine(engine::JoinWaitParts(settings.condition.wanted, " or ")) +
                         " after " + Seconds(settings.timeout)) +
              " (" + std::to_string(call) + (call == 1 ? " call" : " calls") + ")\n");
  return status == kExitOk ? kExitWaitEnded : status;
}

}  // namespace kestrune::cli
