#include "engine/wait_condition.h"

#include <algorithm>
#include <span>

#include <nlohmann/json.hpp>

#include "core/json_depth.h"
#include "report/xml_text.h"

namespace kestrune::engine {
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

}  // namespace

std::optional<std::vector<std::string>> SplitWaitField(std::string_view field) {
  std::vector<std::string> path = Split(field, '.');
  const bool good = std::all_of(path.begin(), path.end(), [](const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), IsNameCharacter);
  });
  if (!good) return std::nullopt;
  return path;
}

std::optional<std::vector<std::string>> SplitWaitValues(std::string_view text) {
  std::vector<std::string> values = Split(text, ',');
  if (std::any_of(values.begin(), values.end(), [](const std::string& v) { return v.empty(); })) {
    return std::nullopt;
  }
  return values;
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

WaitProgress RepeatUntil(const WaitPlan& plan, const std::function<const RequestResult&()>& call,
                         const std::function<bool(std::chrono::milliseconds)>& pause,
                         const std::function<void(int call, const WaitCheck&)>& checked) {
  const Clock::time_point deadline = Clock::now() + plan.timeout;
  WaitProgress progress;
  for (;;) {
    ++progress.calls;
    const RequestResult& result = call();
    // A failure the engine's retries did not mend ends the wait as it
    // would end a lone call.
    if (result.outcome != Outcome::kGoodReply) {
      progress.end = WaitEnd::kCallFailed;
      return progress;
    }
    const WaitCheck check = CheckWaitCondition(plan.condition, result.reply.body, plan.json);
    if (check.state == WaitState::kNotFound && progress.calls == 1) {
      // Polling could never find it: a misspelt field, or one of another
      // action's reply.
      progress.end = WaitEnd::kNotFound;
      return progress;
    }
    progress.last = check;
    if (checked) checked(progress.calls, check);
    if (check.state == WaitState::kReached || check.state == WaitState::kFailed) {
      progress.end = check.state == WaitState::kReached ? WaitEnd::kReached : WaitEnd::kFailed;
      return progress;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      progress.end = WaitEnd::kTimedOut;
      return progress;
    }
    // The last call comes at the deadline itself, not an interval past it.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    if (!pause(std::min(plan.interval, left))) {
      progress.end = WaitEnd::kCancelled;
      return progress;
    }
  }
}

std::string JoinWaitParts(const std::vector<std::string>& parts, std::string_view separator) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

std::string DescribeWaitValues(const WaitCheck& check) {
  return check.values.empty() ? "nothing" : JoinWaitParts(check.values, ", ");
}

}  // namespace kestrune::engine
