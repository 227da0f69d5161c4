#include "cli/wait.h"

#include <algorithm>
#include <functional>
#include <span>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/app.h"
#include "cli/output.h"
#include "core/json_depth.h"
#include "report/xml_text.h"

namespace kestrune::cli {
namespace {

using Clock = std::chrono::steady_clock;

bool IsNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// The values at the shallowest places whose path ends with the condition's.
class Collector {
 public:
  explicit Collector(std::span<const std::string> path) : path_(path) {}

  // `names`: the place's element names below the root, the leaf's last.
  void Leaf(std::span<const std::string_view> names, std::string value) {
    if (names.size() < path_.size() || (found_ && names.size() > depth_)) return;
    if (!std::equal(path_.begin(), path_.end(), names.end() - static_cast<long>(path_.size()))) {
      return;
    }
    if (!found_ || names.size() < depth_) values_.clear();
    found_ = true;
    depth_ = names.size();
    values_.push_back(std::move(value));
  }

  bool found() const { return found_; }
  const std::vector<std::string>& values() const { return values_; }

 private:
  std::span<const std::string> path_;
  bool found_ = false;
  std::size_t depth_ = 0;
  std::vector<std::string> values_;
};

// Arrays are transparent: a list's records sit at the list's own path, as
// the XML form has them.
void CollectJson(const nlohmann::json& node, std::vector<std::string_view>& names,
                 Collector& collector) {
  if (node.is_object()) {
    for (const auto& [key, value] : node.items()) {
      names.push_back(key);
      CollectJson(value, names, collector);
      names.pop_back();
    }
  } else if (node.is_array()) {
    for (const nlohmann::json& item : node) CollectJson(item, names, collector);
  } else if (!names.empty()) {
    collector.Leaf(names, node.is_string() ? node.get<std::string>()
                          : node.is_null() ? std::string()
                                           : node.dump());
  }
}

std::string Joined(const std::vector<std::string>& parts, std::string_view separator) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

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
  std::vector<std::string> values = Split(text, ',');
  if (std::any_of(values.begin(), values.end(), [](const std::string& v) { return v.empty(); })) {
    return core::Status::InvalidInput(std::string(option) +
                                      " needs values VALUE[,VALUE...], none of them empty, not \"" +
                                      EscapeLine(text) + "\"");
  }
  return values;
}

core::Result<WaitCondition> ParseWaitCondition(std::string_view wait_for,
                                               std::optional<std::string_view> wait_fail) {
  const std::size_t equals = wait_for.find('=');
  const std::string_view field = wait_for.substr(0, equals);
  WaitCondition condition;
  condition.path = Split(field, '.');
  const bool good_path =
      equals != std::string_view::npos &&
      std::all_of(condition.path.begin(), condition.path.end(), [](const std::string& name) {
        return !name.empty() && std::all_of(name.begin(), name.end(), IsNameCharacter);
      });
  if (!good_path) {
    return core::Status::InvalidInput(
        "--wait-for needs Field=Value[,Value...] with a field such "
        "as Status or Instances.Instance.Status, not \"" +
        EscapeLine(wait_for) + "\"");
  }
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

WaitCheck CheckWaitCondition(const WaitCondition& condition, std::string_view body, bool json) {
  Collector collector(condition.path);
  if (json) {
    if (core::JsonNestsDeeperThan(body)) return {};
    const nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    std::vector<std::string_view> names;
    if (!document.is_discarded()) CollectJson(document, names, collector);
  } else {
    std::vector<std::string_view> names;
    report::ForEachLeaf(body, [&](const report::XmlLeaf& leaf) {
      // Below the root: the reply's own element is no part of a field's path.
      names.assign(leaf.parents.begin() + (leaf.parents.empty() ? 0 : 1), leaf.parents.end());
      names.push_back(leaf.name);
      collector.Leaf(names, report::DecodeXmlText(leaf.raw_value));
    });
  }
  WaitCheck check;
  for (const std::string& value : collector.values()) {
    if (std::find(check.values.begin(), check.values.end(), value) == check.values.end()) {
      check.values.push_back(value);
    }
  }
  auto among = [](const std::vector<std::string>& set) {
    return [&set](const std::string& value) {
      return std::find(set.begin(), set.end(), value) != set.end();
    };
  };
  if (!collector.found()) {
    check.state = WaitState::kNotFound;
  } else if (std::any_of(check.values.begin(), check.values.end(), among(condition.failing))) {
    check.state = WaitState::kFailed;
  } else if (std::all_of(check.values.begin(), check.values.end(), among(condition.wanted))) {
    check.state = WaitState::kReached;
  } else {
    check.state = WaitState::kPending;
  }
  return check;
}

int CallUntil(Console& console, const WaitSettings& settings, engine::Engine& engine,
              report::RecordingResultList& list, const request::Credentials& credentials,
              const catalogue::ResolvedAction& action,
              const catalogue::ParameterValueSlots& values) {
  const std::string field = Joined(settings.condition.path, ".");
  const bool json = settings.format == OutputFormat::kJson;
  const Clock::time_point deadline = Clock::now() + settings.timeout;
  bool seen = false;
  for (int call = 1;; ++call) {
    CallOutcome outcome = SendAndCollect(engine, list, credentials, action, values, std::nullopt);
    auto print = [&] {
      JsonDocument document;
      const int status = PrintOutcome(console, settings.format, outcome, settings.raw, document);
      if (document.size() > 0) console.Out(document.Render(false));
      return status;
    };
    // A failure the engine's retries did not mend ends the wait as it
    // would end a lone call.
    if (outcome.result.outcome != engine::Outcome::kGoodReply) return print();
    const WaitCheck check = CheckWaitCondition(settings.condition, outcome.result.body, json);
    if (check.state == WaitState::kNotFound && !seen) {
      // Polling could never find it: a misspelt field, or one of another
      // action's reply.
      return UsageError(console, "--wait-for: " + EscapeLine(field) +
                                     " names nothing in the reply of " + action.action_name);
    }
    seen = true;
    const std::string now_holds =
        check.values.empty() ? "nothing" : EscapeLine(Joined(check.values, ", "));
    if (settings.debug) {
      console.Err("kestrune: --wait-for: " + EscapeLine(field) + " holds " + now_holds + " (call " +
                  std::to_string(call) + ")\n");
    }
    if (check.state == WaitState::kReached) return print();
    const Clock::time_point now = Clock::now();
    if (check.state == WaitState::kFailed || now >= deadline) {
      const int status = print();
      console.Err("kestrune: --wait-for: " + EscapeLine(field) + " holds " + now_holds +
                  (check.state == WaitState::kFailed
                       ? std::string(", a --wait-fail value; not waiting any longer")
                       : ", still not " + EscapeLine(Joined(settings.condition.wanted, " or ")) +
                             " after " + Seconds(settings.timeout)) +
                  " (" + std::to_string(call) + (call == 1 ? " call" : " calls") + ")\n");
      return status == kExitOk ? kExitWaitEnded : status;
    }
    // The last call comes at the deadline itself, not an interval past it.
    std::this_thread::sleep_for(std::min<Clock::duration>(settings.interval, deadline - now));
  }
}

}  // namespace kestrune::cli
